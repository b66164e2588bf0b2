// Pieces shared by the fuzz targets of the registry purge.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "fuzz/common.h"

// Whether the upper-cased name holds the upper-cased pattern, starting on a
// character boundary and not followed by a digit (found independently of
// the product's matcher).
inline std::string UpperAscii(const std::string& text)
{
    std::string out = text;
    std::string kinds = Kinds(text);
    for (size_t i = 0; i < out.size(); ++i)
        if (kinds[i] == 0 && out[i] >= 'a' && out[i] <= 'z') out[i] = static_cast<char>(out[i] - 32);
    return out;
}

inline bool Matches(const std::string& name, const std::string& pattern, bool digitBoundary)
{
    if (pattern.empty()) return false;
    std::string upper = UpperAscii(name);
    std::string kinds = Kinds(upper);
    for (size_t at = upper.find(pattern); at != std::string::npos; at = upper.find(pattern, at + 1)) {
        if (kinds[at] == 2) continue;
        size_t next = at + pattern.size();
        if (digitBoundary && next < upper.size() && upper[next] >= '0' && upper[next] <= '9') continue;
        return true;
    }
    return false;
}
