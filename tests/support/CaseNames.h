#pragma once

// Parameterised tests named after their case, so that a failure says which
// one: INSTANTIATE_TEST_SUITE_P(..., testing_support::CaseName()).

#include <gtest/gtest.h>

#include <string>

namespace zelvar::testing_support {

// A function object rather than a lambda: a lambda's `info` parameter would
// shadow the one of the function the macro wraps it in.
struct CaseName {
    template <typename Case>
    std::string operator()(const testing::TestParamInfo<Case>& info) const
    {
        return std::string(info.param.name);
    }
};

} // namespace zelvar::testing_support
