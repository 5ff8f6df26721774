#pragma once

#include "platform/RuntimeError.h"

#include <QString>

#include <optional>
#include <string>

namespace zelvar::testing_support {

// The message of the RuntimeError `action` throws, or nothing when it throws
// none: a test states what it expects of both.
template <class Action>
std::optional<std::string> runtimeErrorOf(Action&& action)
{
    try {
        action();
    } catch (const RuntimeError& error) {
        return std::string(error.what());
    }
    return std::nullopt;
}

inline bool contains(const std::string& text, const QString& part)
{
    return text.find(part.toStdString()) != std::string::npos;
}

} // namespace zelvar::testing_support
