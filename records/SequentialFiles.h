#pragma once

#include "platform/Decimal.h"

#include <QString>

#include <memory>
#include <variant>
#include <vector>

namespace zelvar {

// One item of a record: a text (written in double quotes) or a number
// (written bare, "." as separator whatever the user's locale). Read back, a
// quoted field gives the text and a bare one the exact number it spells.
using RecordItem = std::variant<QString, Decimal>;
using Record = std::vector<RecordItem>;
using Field = RecordItem;

// The program's one table of numbered open text files. Each record is one
// line: items separated by ",", ending in CR LF. Every failure (a free or
// bound number, a missing file, a full disk, reading past the end, a field
// that is not a number) throws RuntimeError naming the file and, when
// reading, the line.
class SequentialFiles {
public:
    static constexpr int kMaxNumber = 511;

    SequentialFiles();
    ~SequentialFiles();
    SequentialFiles(const SequentialFiles&) = delete;
    SequentialFiles& operator=(const SequentialFiles&) = delete;

    // How the lines of an output file reach the system.
    enum class Flush {
        EachRecord, // before WriteRecord returns: nothing is lost in a crash
        OnClose,    // in large blocks, at the latest by Close
    };

    // Binds `number` to `path`, created or emptied. A number still bound is
    // an error: whoever holds it has not finished with it. A
    // Flush::EachRecord file is on the disk, empty and with its name, before
    // this returns, so that its records are all a power cut can find in it.
    void OpenForOutput(int number, const QString& path, Flush flush = Flush::EachRecord);
    // Binds `number` to the existing file at `path`, from its beginning.
    void OpenForInput(int number, const QString& path);
    // Frees the number; closing a free number does nothing. Throws when the
    // last lines of a file cannot be written (the number is freed anyway).
    void Close(int number);
    void CloseAll();
    bool isBound(int number) const;

    // Appends one line. With Flush::EachRecord the line reaches the operating
    // system before this returns, so a crash loses no record already written.
    void WriteRecord(int number, const Record& items);

    // The next field; a line end separates fields like a comma does.
    Field ReadField(int number);
    // The next field, which must be a number.
    Decimal ReadNumber(int number);
    // True when no data remains (at once for an empty file).
    bool AtEnd(int number);

    // The line of the last field read, counted from 1.
    int lineOf(int number) const;

    // Puts what an output file holds on the disk itself, past the system's
    // memory, when anything was written since the last time; a power cut then
    // loses nothing written before. Closing a Flush::EachRecord file does the
    // same.
    // True when there was anything to put there.
    bool SyncToDisk(int number);

    // While a WriteBatch lives, the lines of Flush::EachRecord files wait;
    // commit() hands each file's waiting lines to the system in one write. A
    // handler that writes many records in one go uses it, so that all of them
    // reach the system before it returns, at the cost of one system call
    // rather than one per record. Dropped without commit() (a handler that
    // fails), it still writes what waits, as far as the system takes it.
    class WriteBatch {
    public:
        explicit WriteBatch(SequentialFiles& files);
        ~WriteBatch();
        WriteBatch(const WriteBatch&) = delete;
        WriteBatch& operator=(const WriteBatch&) = delete;
        // Throws when a file's lines cannot be written.
        void commit();

    private:
        SequentialFiles& files_;
        bool committed_ = false;
    };

private:
    class File;
    File& bound(int number, const char* operation);
    void writeWaitingLines();

    std::vector<std::unique_ptr<File>> table_;
    bool batching_ = false;
};

// Appends the encoded line (without the CR LF) to `out`: exposed for tests
// and for writers that build lines themselves.
void encodeRecord(const Record& items, std::string& out);

} // namespace zelvar
