// The record reader over arbitrary files. SequentialFiles reads through a
// fixed 64 KiB buffer; a reader over the whole file in memory, following the
// same record rules without any buffering, says what each ReadField (or
// ReadNumber) must give, on which line, and where the reading must fail. On
// top of that: AtEnd turns true within as many reads as the file has bytes,
// reading at the end fails, every failure is a RuntimeError naming the file
// and the line, and whatever was read writes back and reads again as the
// same fields (quotes inside texts included).
//
// The first byte picks ReadField or ReadNumber, and whether the file starts
// with blanks just short of the buffer's size, so that the rest of the input
// straddles a refill of the buffer.

#include "FuzzSupport.h"

#include "platform/Decimal.h"
#include "platform/RuntimeError.h"
#include "records/SequentialFiles.h"

#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <variant>
#include <vector>

using namespace zelvar;

namespace {

// The reader's buffer size: a padded input crosses it.
constexpr std::size_t kReaderBuffer = 64 * 1024;
constexpr int kNumber = 1;

// What one read must give: a field or the failure, with the line of the field.
struct Expected {
    std::optional<Field> field;
    int line = 0;
};

// The record rules over a string in memory.
class MemoryReader {
public:
    explicit MemoryReader(const std::string& content) : s_(content) {}

    bool atEnd() const { return pos_ >= s_.size(); }

    Expected read(bool numberWanted)
    {
        if (atEnd())
            return {std::nullopt, line_ + 1};
        Expected out;
        out.line = line_ + 1;
        pos_ = std::min(s_.find_first_not_of(" \t", pos_), s_.size());
        if (!atEnd() && s_[pos_] == '"') {
            ++pos_;
            std::string text;
            while (!atEnd()) {
                const char c = s_[pos_++];
                if (c != '"') {
                    text += c;
                } else if (!atEnd() && s_[pos_] == '"') {
                    text += '"';
                    ++pos_;
                } else {
                    break;
                }
            }
            while (!atEnd() && !isSeparator(s_[pos_]))
                ++pos_;
            if (!numberWanted)
                out.field = QString::fromStdString(text);
        } else {
            const std::size_t end = std::min(s_.find_first_of(",\r\n", pos_), s_.size());
            std::string text = s_.substr(pos_, end - pos_);
            pos_ = end;
            while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
                text.pop_back();
            Decimal value;
            if (!Decimal::tryParse(text, value))
                return out;
            out.field = value;
        }
        if (!atEnd()) {
            const char c = s_[pos_++];
            if (c == '\r' || c == '\n') {
                ++line_;
                if (c == '\r' && !atEnd() && s_[pos_] == '\n')
                    ++pos_;
            }
        }
        return out;
    }

private:
    static bool isSeparator(char c) { return c == ',' || c == '\r' || c == '\n'; }

    const std::string& s_;
    std::size_t pos_ = 0;
    int line_ = 0;
};

std::string show(const Field& f)
{
    if (const auto* text = std::get_if<QString>(&f))
        return "text \"" + text->toStdString() + "\"";
    return "number " + std::get<Decimal>(f).toString();
}

bool same(const Field& a, const Field& b)
{
    if (a.index() != b.index())
        return false;
    if (const auto* text = std::get_if<QString>(&a))
        return *text == std::get<QString>(b);
    return std::get<Decimal>(a) == std::get<Decimal>(b)
        && std::get<Decimal>(a).toString() == std::get<Decimal>(b).toString();
}

const QTemporaryDir& scratch()
{
    static const QTemporaryDir dir;
    return dir;
}

void writeFile(const QString& path, const std::string& content)
{
    QFile f(path);
    ZELVAR_FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot write " + path.toStdString());
    ZELVAR_FUZZ_CHECK(f.write(content.data(), static_cast<qint64>(content.size()))
                          == static_cast<qint64>(content.size()),
                      "cannot write " + path.toStdString());
}

// Reads the file to its end, checking every read against the memory reader.
// Returns the fields read; stops at the first failure, which must be where
// the memory reader fails.
std::vector<Field> readAll(const QString& path, const std::string& content, bool numbers, bool& failed)
{
    SequentialFiles files;
    files.OpenForInput(kNumber, path);
    MemoryReader model(content);
    std::vector<Field> fields;
    const std::string where = "\"" + path.toStdString() + "\" line ";
    failed = false;
    for (;;) {
        const bool atEnd = files.AtEnd(kNumber);
        ZELVAR_FUZZ_CHECK(atEnd == model.atEnd(),
                          "AtEnd is " + std::to_string(atEnd) + " after " + std::to_string(fields.size()) + " fields");
        ZELVAR_FUZZ_CHECK(files.AtEnd(kNumber) == atEnd, "AtEnd changed without a read");
        ZELVAR_FUZZ_CHECK(fields.size() <= content.size(), "no end after " + std::to_string(fields.size()) + " reads");

        const Expected want = model.read(numbers);
        std::optional<Field> got;
        std::string error;
        try {
            got = numbers ? Field(files.ReadNumber(kNumber)) : files.ReadField(kNumber);
        } catch (const RuntimeError& e) {
            error = e.what();
        } catch (const std::exception& e) {
            fuzz::fail(__FILE__, __LINE__, "only RuntimeError is thrown", e.what());
        }
        const std::string read = "read " + std::to_string(fields.size() + 1);
        if (!want.field) {
            ZELVAR_FUZZ_CHECK(!got, read + " gives " + show(*got) + " where the reading must fail");
            const std::string line = where + std::to_string(want.line);
            ZELVAR_FUZZ_CHECK(error.find(line) != std::string::npos,
                              read + ": \"" + error + "\" does not name " + line);
            failed = !atEnd;
            return fields;
        }
        ZELVAR_FUZZ_CHECK(got.has_value(), read + " fails with \"" + error + "\", want " + show(*want.field));
        ZELVAR_FUZZ_CHECK(same(*got, *want.field), read + " gives " + show(*got) + ", want " + show(*want.field));
        ZELVAR_FUZZ_CHECK(files.lineOf(kNumber) == want.line, read + " is on line " + std::to_string(want.line)
                                                                  + ", lineOf says "
                                                                  + std::to_string(files.lineOf(kNumber)));
        fields.push_back(*got);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::ByteReader in(data, size);
    const std::uint8_t mode = in.byte();
    const bool numbers = (mode & 1) != 0;
    std::string content;
    // One mode in 128, as a padded input costs a 64 KiB file: blanks
    // (which only lead the first field) up to 63 bytes short of the buffer's
    // end, so that the rest of the input is read across the refill.
    if ((mode & 0xFE) == 0x02)
        content.assign(kReaderBuffer - in.byte() % 64, ' ');
    content += in.rest();

    const QString path = scratch().filePath(QStringLiteral("record.dat"));
    writeFile(path, content);
    bool failed = false;
    const std::vector<Field> fields = readAll(path, content, numbers, failed);
    if (failed || fields.empty())
        return 0;

    // Written back as one record, the fields read again as themselves.
    const QString again = scratch().filePath(QStringLiteral("again.dat"));
    {
        SequentialFiles files;
        files.OpenForOutput(kNumber, again);
        files.WriteRecord(kNumber, Record(fields.begin(), fields.end()));
        files.Close(kNumber);
    }
    QFile written(again);
    ZELVAR_FUZZ_CHECK(written.open(QIODevice::ReadOnly), "cannot read " + again.toStdString());
    const std::string line = written.readAll().toStdString();
    const std::vector<Field> reread = readAll(again, line, numbers, failed);
    ZELVAR_FUZZ_CHECK(reread.size() == fields.size(), std::to_string(fields.size()) + " fields read back as "
                                                          + std::to_string(reread.size()) + ": " + line);
    for (std::size_t i = 0; i < fields.size(); ++i)
        ZELVAR_FUZZ_CHECK(same(reread[i], fields[i]), "field " + std::to_string(i + 1) + " " + show(fields[i])
                                                          + " reads back as " + show(reread[i]));
    return 0;
}
