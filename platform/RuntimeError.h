#pragma once

#include <stdexcept>
#include <string>

namespace zelvar {

// The one failure type of the program: thrown by platform operations and
// conversions, caught only by the handlers that have a recovery block.
class RuntimeError : public std::runtime_error {
public:
    explicit RuntimeError(const std::string& what) : std::runtime_error(what) {}
};

} // namespace zelvar
