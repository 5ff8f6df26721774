#pragma once

namespace zelvar {

class ZelvarApplication;

// Unattended runs (the soak test, a bench script): once the window shows,
// Start is pressed as an operator would, and Stop after `seconds`; then the
// event loop ends. Returns 0 when Stop wrote the report, else 1 with the
// status and its reason on standard error. Runs the event loop itself.
int runUnattended(ZelvarApplication& program, double seconds);

} // namespace zelvar
