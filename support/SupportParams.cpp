#include "support/SupportParams.h"

#include <algorithm>
#include <cmath>

namespace support {

namespace {

// The number boxes of the support panel: minimum, maximum, step, preset.
constexpr SupportParamRange kRanges[SupportParams::kCount] = {
    {0.01, 10.0, 0.1, 1.0},  // tip size
    {0.01, 20.0, 0.1, 2.0},  // trunk size
    {0.01, 20.0, 0.1, 1.2},  // branch size
    {0.5, 20.0, 0.1, 2.5},   // head extend
    {0.0, 99.99, 0.1, 5.0},  // Z offset
    {0.01, 10.0, 0.1, 4.0},  // bottom size
    {0.01, 10.0, 0.1, 1.0},  // base thickness
    {1.0, 99.99, 0.1, 5.0},  // density
    {20.0, 60.0, 1.0, 46.0}, // angle
};

} // namespace

const SupportParamRange& supportParamRange(SupportParams::Index i) {
    return kRanges[i];
}

SupportParams presetSupportParams() {
    SupportParams p;
    for (int i = 0; i < SupportParams::kCount; ++i)
        p.values[i] = kRanges[i].preset;
    p.removeInternal = false;
    return p;
}

double clampSupportParam(SupportParams::Index i, double value) {
    if (std::isnan(value))
        value = 0.0;
    value = std::clamp(value, kRanges[i].minimum, kRanges[i].maximum);
    // Two decimals, as the boxes round (the range ends have two decimals).
    return std::round(value * 100.0) / 100.0;
}

} // namespace support
