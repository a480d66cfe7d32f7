// The updater's only check of its argument text.
#pragma once

#include <cstring>

// The launcher always hands over a web address first; anything without one
// (case matters) was not started by it.
inline bool ArgumentsCarryWebAddress(const char* arguments)
{
    return arguments && std::strstr(arguments, "http") != nullptr;
}
