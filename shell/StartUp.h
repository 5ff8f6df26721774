#pragma once

#include <QString>

namespace zelvar {

class FileSystem;
class MessageBox;

// The checks and the component installation of the load step.
namespace startup {

inline constexpr const char* kMessageTitle = "Zelvar QT4 Data";

// The message for the first control file missing from the application
// directory (RCS.dat before RTA.dat); empty when both are there.
QString missingControlFileMessage(const FileSystem& files, const QString& applicationDirectory);

// For every drive from C to Y that has a system folder, copies RCS.dat as
// MSCOMM32.OCX and RTA.dat as MScomctl.OCX where those are missing. A target
// that exists is never touched; a copy the folder refuses is skipped.
void installComponents(const FileSystem& files, const QString& applicationDirectory);

} // namespace startup
} // namespace zelvar
