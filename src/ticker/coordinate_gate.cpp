#include "ticker/coordinate_gate.h"

#include <cmath>
#include <limits>
#include <optional>

namespace vantrel {
namespace {

std::optional<std::int32_t> roundHalfToEven(float value)
{
    // nearbyint honours the default rounding mode, which rounds halves to the even neighbour.
    const double rounded = std::nearbyint(static_cast<double>(value));
    if (!(rounded >= std::numeric_limits<std::int32_t>::min() && rounded <= std::numeric_limits<std::int32_t>::max()))
        return std::nullopt;
    return static_cast<std::int32_t>(rounded);
}

}  // namespace

bool CoordinateGate(float x, float y)
{
    const auto ix = roundHalfToEven(x);
    const auto iy = roundHalfToEven(y);
    return ix && iy && (*ix & *iy) != 0;
}

}  // namespace vantrel
