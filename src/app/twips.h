#pragma once

#include <cmath>

namespace vantrel {

// Positions and sizes are kept in twips; Qt works in device-independent pixels (96 dpi: 15 twips each).
inline constexpr double kTwipsPerPixel = 15.0;

inline int twipsToPixels(double twips)
{
    return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}

inline float pixelsToTwips(double pixels)
{
    return static_cast<float>(pixels * kTwipsPerPixel);
}

}  // namespace vantrel
