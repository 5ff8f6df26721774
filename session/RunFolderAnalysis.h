#pragma once

#include <QString>

#include <cstdint>

namespace zelvar::session {

// What analysing an archived run again came to: the records of its new
// report, or why there is none.
struct FolderAnalysis {
    std::int64_t records = 0;
    QString failure; // empty when the report was written
};

// Analyses the run file of the run folder `folder` again with the flywheel
// and ESC values its run.json holds, as zelvar-analyze --dir does: save.csv
// is written beside it and the motor's figures into run.json; how the run
// ended stays as it was. For a run that ended in "Error!" or was never
// stopped. Blocks: call it off the window's thread.
FolderAnalysis analyseRunFolder(const QString& folder);

} // namespace zelvar::session
