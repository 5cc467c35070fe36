// Leaving pixels out of a voxel grid before it is meshed: the models' keep masks.
#pragma once
#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>

#include <opencv2/core.hpp>

namespace Orvanes::detail {

// Sets the first channels levels of every element where keep is 0 to empty. keep: empty (keep
// all) or 8-bit, one channel, the grid's size; otherwise throws std::invalid_argument naming who.
inline void EmptyLeftOut(cv::Mat& grid, const cv::Mat& keep, int channels, uint8_t empty, const std::string& who)
{
    if (keep.empty()) return;
    if (keep.type() != CV_8UC1 || keep.size() != grid.size())
        throw std::invalid_argument(who + ": the keep mask is not one 8-bit channel of the working size " +
                                    std::to_string(grid.cols) + " x " + std::to_string(grid.rows));
    const int step = grid.channels(), count = std::clamp(channels, 0, step);
    for (int r = 0; r < grid.rows; ++r) {
        const uint8_t* kept = keep.ptr<uint8_t>(r);
        uint8_t* voxel = grid.ptr<uint8_t>(r);
        for (int c = 0; c < grid.cols; ++c, voxel += step)
            if (kept[c] == 0) std::fill(voxel, voxel + count, empty);
    }
}

}  // namespace Orvanes::detail
