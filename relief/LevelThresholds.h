// The grey thresholds of the relief levels, shared by the preview and the voxel grid so the
// preview shows exactly the levels the meshes fill.
#pragma once

namespace Orvanes::detail {

// levelCount relief levels over the grey range [greyMin, greyMax]: the span is truncated to
// whole grey steps before the division, and level i counted from the top covers the pixels
// whose grey reaches FromTop(i). The lowest level (threshold greyMin) covers every pixel.
class LevelThresholds {
public:
    LevelThresholds(double greyMin, double greyMax, int levelCount)
        : low(greyMin), count(levelCount), step(levelCount > 0 ? static_cast<int>(greyMax - greyMin) / levelCount : 0)
    {
    }
    double FromTop(int i) const { return static_cast<double>(count - 1 - i) * step + low; }

private:
    double low;
    int count;
    int step;
};

}  // namespace Orvanes::detail
