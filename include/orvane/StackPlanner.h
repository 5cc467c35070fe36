// Colour planning for the layered relief: which filament prints which level so that the
// preview looks most like the photo, measured in CIEDE2000.
#pragma once
#include <vector>

#include <opencv2/core.hpp>

#include "OrvaneExport.h"
#include "PhotosRelief.h"

namespace Orvanes {

// The share of light one layer stops, for a filament that hides what lies below at the
// thickness transmissionDistance (its TD): layerHeight / transmissionDistance, at most 1. Throws
// std::invalid_argument unless 0 < transmissionDistance <= 100 and layerHeight > 0.
ORVANE_EXPORT float LayerOpacity(double transmissionDistance, double layerHeight);

// The preview colour of a pixel whose highest relief level is j, for every relief level j of
// stack (bottom first, the first baseCount entries not shown): what UpdatePreviewImage paints.
ORVANE_EXPORT std::vector<cv::Vec3b> LevelColours(const std::vector<LayerEntry>& stack, int baseCount);

// A stack of layerCount entries, bottom first, whose preview of relief comes closest to the
// relief's working colour image: the lowest mean CIEDE2000 over the pixels keep marks (8-bit,
// the working size, non-zero = counted; empty counts all). The base levels take the base
// colour; above them each palette colour prints at most one run of levels, and the base colour
// only directly on the base. The search bins the pixels' colours per level (5 bits a channel,
// each bin at its pixels' mean CIELAB) and searches level by level, keeping of the partial
// stacks that every level above would see alike (the same colours used, the same entries
// showing through) only the cheapest, and of those the cheapest 1,024: the best stack for the
// bins whenever no level holds more (on photos with six filaments of opacity 1/8 or more it
// found the best every time). The same input always gives the same stack. An empty
// palette gives an empty stack. Throws std::invalid_argument unless 0 <= baseCount <
// layerCount <= 512.
ORVANE_EXPORT std::vector<LayerEntry> PlanStack(const PhotosRelief& relief, int baseCount, int layerCount,
                                                const cv::Mat& keep = cv::Mat());

}  // namespace Orvanes
