#pragma once

#include "tools/dyno-sim/SimOptions.h"

namespace zelvar::dynosim {

// What the program tells its caller when it ends.
enum ExitCode { kOk = 0, kFailed = 1, kBadArguments = 2 };

// Streams the runs the options describe on a new pseudo-terminal, until the
// stream's end, Ctrl-C or a fault ends it, and says on stderr how it ended.
// Kept apart from main() so that the program's entry only reads the command
// line. POSIX only: the pseudo-terminal, the signals and the monotonic clock.
class Streamer {
public:
    explicit Streamer(const SimOptions& options);

    // Returns the program's exit code; a failure has been reported on stderr.
    int run();

private:
    SimOptions options_;
};

} // namespace zelvar::dynosim
