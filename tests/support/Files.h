#pragma once

// Whole files in and out, for tests that prepare what the program reads and
// check what it wrote.

#include <QByteArray>
#include <QString>

namespace zelvar::testing_support {

// The file's bytes, or "<missing PATH>" when it cannot be read: a comparison
// with what was expected then fails naming the file, and a missing file
// never passes for an empty one.
QByteArray readAll(const QString& path);

// Replaces the file's contents; the test fails when it cannot be written.
void writeAll(const QString& path, const QByteArray& bytes);

} // namespace zelvar::testing_support
