#pragma once
// The support parameters as the support panel edits them: nine numbers and
// the remove-internal switch, with the range, step and preset of each number.
// The panel keeps the last used set in its parameter file (ui/SupportParamFile)
// and hands it to the scene, which sets it into each object's container.
#include <array>

namespace support {

// The ten values in the order the panel and its file list them. Sizes are
// diameters as the panel shows them (the containers take radii).
struct SupportParams {
    enum Index {
        TipSize,
        TrunkSize,
        BranchSize,
        HeadExtend,
        ZOffset,
        BottomSize,
        BaseThickness,
        Density,
        Angle,
        kCount
    };
    std::array<double, kCount> values{};
    bool removeInternal = false;

    double operator[](Index i) const { return values[i]; }
    double& operator[](Index i) { return values[i]; }
    bool operator==(const SupportParams& o) const {
        return values == o.values && removeInternal == o.removeInternal;
    }
};

// Range, step and preset of one number value.
struct SupportParamRange {
    double minimum;
    double maximum;
    double step;
    double preset;
};

const SupportParamRange& supportParamRange(SupportParams::Index i);
// The presets: tip 1, trunk 2, branch 1.2, head extend 2.5, Z offset 5,
// bottom 4, base thickness 1, density 5, angle 46, remove-internal off.
SupportParams presetSupportParams();
// A value as its number box would hold it: not-a-number reads as 0, then
// clamped to the range and rounded to two decimals.
double clampSupportParam(SupportParams::Index i, double value);

} // namespace support
