#pragma once

#include <cstdint>

namespace vantrel {

// Both values rounded half to even to signed 32-bit integers; open when their bitwise AND is not zero.
// A value outside the 32-bit range (or NaN) keeps the gate closed.
bool CoordinateGate(float x, float y);

// The increment of FeedIndex and NewsIndex: past 32767 it starts again at 1.
inline std::int16_t NextIndex(std::int16_t index)
{
    return index >= 32767 ? std::int16_t{1} : static_cast<std::int16_t>(index + 1);
}

}  // namespace vantrel
