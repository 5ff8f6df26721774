#include "records/SequentialFiles.h"

#include "platform/FileSystem.h"

#include "platform/NumberText.h"
#include "platform/RuntimeError.h"

#include <QFile>

#include <array>

namespace zelvar {

namespace {

std::string quoted(const QString& text)
{
    return "\"" + text.toStdString() + "\"";
}

} // namespace

void encodeRecord(const Record& items, std::string& out)
{
    bool first = true;
    for (const RecordItem& item : items) {
        if (!first)
            out += ',';
        first = false;
        if (const auto* text = std::get_if<QString>(&item)) {
            // A double quote inside a text is doubled, so that a quote typed
            // into a box cannot end the item early.
            out += '"';
            for (char c : text->toStdString()) {
                if (c == '"')
                    out += '"';
                out += c;
            }
            out += '"';
        } else {
            out += std::get<Decimal>(item).toString();
        }
    }
}

// An open file: either an output file written a line at a time straight to
// the system, or an input file read through a fixed buffer, so that memory
// does not grow with the file.
class SequentialFiles::File {
public:
    enum class Mode { Output, Input };

    File(const QString& path, Mode mode, Flush flush, const bool& batching)
        : file_(path), mode_(mode), flush_(flush), batching_(batching)
    {
        const QIODevice::OpenMode how = mode == Mode::Output
                                          ? QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered
                                          : QIODevice::ReadOnly | QIODevice::Unbuffered;
        if (!file_.open(how))
            throw RuntimeError("cannot open " + quoted(path) + ": " + file_.errorString().toStdString());
        // A file whose every record must survive starts on the disk, empty
        // and with its name: else a power cut could bring back a previous
        // run's records in it, or no file at all, whatever was synced later.
        if (flushesEachRecord())
            zelvar::createdDurably(file_);
    }

    // A file dropped without Close (the program ending) still gets its
    // pending lines, as far as the system takes them.
    ~File()
    {
        try {
            finish();
        } catch (const RuntimeError&) {
        }
    }

    File(const File&) = delete;
    File& operator=(const File&) = delete;

    Mode mode() const { return mode_; }
    bool flushesEachRecord() const { return mode_ == Mode::Output && flush_ == Flush::EachRecord; }
    QString path() const { return file_.fileName(); }
    void writeLine(const Record& items)
    {
        encodeRecord(items, pending_);
        pending_ += "\r\n";
        if ((flush_ == Flush::EachRecord && !batching_) || pending_.size() >= kBlock)
            writePending();
    }

    // Writes what is pending; an output file's last lines go out here.
    void finish()
    {
        if (mode_ == Mode::Output)
            writePending();
    }

    bool syncToDisk()
    {
        writePending();
        if (!unsynced_)
            return false;
        zelvar::syncToDisk(file_);
        unsynced_ = false;
        return true;
    }

    bool atEnd() { return !fill(); }

    Field readField()
    {
        if (!fill())
            throw RuntimeError(quoted(path()) + " line " + std::to_string(line_ + 1)
                               + ": the file ends inside a record");
        fieldLine_ = line_ + 1;
        skipBlanks();
        Field field;
        if (fill() && peek() == '"') {
            take();
            std::string text;
            for (;;) {
                if (!fill())
                    break; // an unterminated quote ends with the file
                const char c = take();
                if (c == '"') {
                    if (fill() && peek() == '"') {
                        take();
                        text += '"';
                        continue;
                    }
                    break;
                }
                text += c;
            }
            // Anything between the closing quote and the separator is ignored.
            while (fill() && peek() != ',' && peek() != '\r' && peek() != '\n')
                take();
            field = QString::fromStdString(text);
        } else {
            std::string text;
            while (fill() && peek() != ',' && peek() != '\r' && peek() != '\n')
                text += take();
            while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
                text.pop_back();
            Decimal value;
            switch (Decimal::parseInto(text, value)) {
            case Decimal::ParseStatus::Ok:
                break;
            case Decimal::ParseStatus::Overflow:
                throw RuntimeError(quoted(path()) + " line " + std::to_string(fieldLine_) + ": number too large: \""
                                   + printable(text) + "\"");
            case Decimal::ParseStatus::NotANumber:
                throw RuntimeError(quoted(path()) + " line " + std::to_string(fieldLine_) + ": not a number: \""
                                   + printable(text) + "\"");
            }
            field = value;
        }
        skipSeparator();
        return field;
    }

    int fieldLine() const { return fieldLine_; }

private:
    static constexpr std::size_t kBlock = 64 * 1024;

    void writePending()
    {
        const auto size = static_cast<qint64>(pending_.size());
        const bool written = size == 0 || file_.write(pending_.data(), size) == size;
        unsynced_ = unsynced_ || size > 0;
        pending_.clear();
        if (!written)
            throw RuntimeError("cannot write to " + quoted(path()) + ": " + file_.errorString().toStdString());
    }

    // True when a byte is available at pos_, refilling the buffer as needed.
    bool fill()
    {
        if (pos_ < end_)
            return true;
        if (eof_)
            return false;
        const qint64 got = file_.read(buffer_.data(), static_cast<qint64>(buffer_.size()));
        if (got < 0)
            throw RuntimeError("cannot read " + quoted(path()) + ": " + file_.errorString().toStdString());
        pos_ = 0;
        end_ = static_cast<std::size_t>(got);
        eof_ = got == 0;
        return got > 0;
    }

    char peek() const { return buffer_[pos_]; }
    char take() { return buffer_[pos_++]; }

    void skipBlanks()
    {
        while (fill() && (peek() == ' ' || peek() == '\t'))
            take();
    }

    // Takes the comma or the line end (CR LF, CR or LF) after a field.
    void skipSeparator()
    {
        if (!fill())
            return;
        const char c = take();
        if (c == '\r') {
            ++line_;
            if (fill() && peek() == '\n')
                take();
        } else if (c == '\n') {
            ++line_;
        }
    }

    QFile file_;
    Mode mode_;
    Flush flush_;
    const bool& batching_;
    std::string pending_;
    bool unsynced_ = false; // written to the system, not yet on the disk
    std::array<char, 64 * 1024> buffer_{};
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    bool eof_ = false;
    int line_ = 0;      // line ends passed
    int fieldLine_ = 0; // line of the last field read
};

SequentialFiles::SequentialFiles() : table_(kMaxNumber + 1) {}

SequentialFiles::~SequentialFiles() = default;

void SequentialFiles::OpenForOutput(int number, const QString& path, Flush flush)
{
    if (number < 1 || number > kMaxNumber)
        throw RuntimeError("bad file number " + std::to_string(number));
    if (table_[number])
        throw RuntimeError("file number " + std::to_string(number) + " is already open");
    table_[number] = std::make_unique<File>(path, File::Mode::Output, flush, batching_);
}

void SequentialFiles::OpenForInput(int number, const QString& path)
{
    if (number < 1 || number > kMaxNumber)
        throw RuntimeError("bad file number " + std::to_string(number));
    if (table_[number])
        throw RuntimeError("file number " + std::to_string(number) + " is already open");
    table_[number] = std::make_unique<File>(path, File::Mode::Input, Flush::OnClose, batching_);
}

void SequentialFiles::Close(int number)
{
    if (!isBound(number))
        return;
    const std::unique_ptr<File> file = std::move(table_[number]);
    if (file->flushesEachRecord())
        file->syncToDisk();
    else
        file->finish();
}

bool SequentialFiles::SyncToDisk(int number)
{
    File& file = bound(number, "sync");
    if (file.mode() != File::Mode::Output)
        throw RuntimeError("sync: file number " + std::to_string(number) + " is open for input");
    return file.syncToDisk();
}

void SequentialFiles::CloseAll()
{
    for (auto& file : table_)
        file.reset();
}

bool SequentialFiles::isBound(int number) const
{
    return number >= 1 && number <= kMaxNumber && table_[number];
}

SequentialFiles::File& SequentialFiles::bound(int number, const char* operation)
{
    if (!isBound(number))
        throw RuntimeError(std::string(operation) + ": file number " + std::to_string(number) + " is not open");
    return *table_[number];
}

void SequentialFiles::WriteRecord(int number, const Record& items)
{
    File& file = bound(number, "write");
    if (file.mode() != File::Mode::Output)
        throw RuntimeError("write: file number " + std::to_string(number) + " is open for input");
    file.writeLine(items);
}

Field SequentialFiles::ReadField(int number)
{
    File& file = bound(number, "read");
    if (file.mode() != File::Mode::Input)
        throw RuntimeError("read: file number " + std::to_string(number) + " is open for output");
    return file.readField();
}

Decimal SequentialFiles::ReadNumber(int number)
{
    Field field = ReadField(number);
    if (const auto* text = std::get_if<QString>(&field))
        throw RuntimeError(quoted(table_[number]->path()) + " line " + std::to_string(lineOf(number))
                           + ": not a number: " + quoted(*text));
    return std::get<Decimal>(field);
}

bool SequentialFiles::AtEnd(int number)
{
    File& file = bound(number, "end-of-file test");
    if (file.mode() != File::Mode::Input)
        throw RuntimeError("end-of-file test: file number " + std::to_string(number) + " is open for output");
    return file.atEnd();
}

void SequentialFiles::writeWaitingLines()
{
    for (const auto& file : table_) {
        if (file && file->flushesEachRecord())
            file->finish();
    }
}

SequentialFiles::WriteBatch::WriteBatch(SequentialFiles& files) : files_(files)
{
    files_.batching_ = true;
}

SequentialFiles::WriteBatch::~WriteBatch()
{
    if (committed_)
        return;
    try {
        commit();
    } catch (const RuntimeError&) {
    }
}

void SequentialFiles::WriteBatch::commit()
{
    committed_ = true;
    files_.batching_ = false;
    files_.writeWaitingLines();
}

int SequentialFiles::lineOf(int number) const
{
    return isBound(number) ? table_[number]->fieldLine() : 0;
}

} // namespace zelvar
