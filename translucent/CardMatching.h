// Matching of palette colours against the sampled colour card, and the exact-colour lookup
// that maps working pixels back to their palette entry.
#pragma once
#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "PhotosTranslucent.h"

namespace Orvanes::detail {

struct CardMatch {
    CardCell cell;
    cv::Vec3b colour;  // full-range HSV the preview shows for the palette colour
};

// cardHsv: 16 x 64 full-range HSV samples. hsv: one palette colour after contrast adjustment.
// Dark colours (value <= 50) print as the dark cell, pale bright ones (saturation < 30, value
// > 200) as the white cell; any other colour takes the nearest cell that is not darker than
// it, first in column-then-row order on ties, and keeps its own value. When every cell is
// darker it takes cell (0, 0) with that cell's hue and saturation.
CardMatch MatchColour(const cv::Mat& cardHsv, const cv::Vec3b& hsv);

struct PaletteMatch {
    std::vector<CardCell> cardMatches;  // one per palette entry
    cv::Mat matchedColours;             // K x 1 HSV
    cv::Mat matchedImage;               // HSV, size of the working image; 0 where no entry fits
};

// Matches every entry of adjustedPalette (K x 1 BGR) and paints each working pixel that
// equals row i of palette (K x 1 BGR, before adjustment) with matched colour i.
PaletteMatch MatchPalette(const cv::Mat& cardHsv, const cv::Mat& working, const cv::Mat& palette,
                          const cv::Mat& adjustedPalette);

// Exact three-byte colour to palette row. Where rows repeat, the last one wins, as painting
// the entries in palette order would leave it.
class PaletteLookup {
public:
    explicit PaletteLookup(const cv::Mat& palette);  // K x 1 (or 1 x K), 8-bit, 3 channels
    int Find(const uint8_t* pixel) const;            // row index, or -1

private:
    std::vector<uint64_t> entries;  // colour << 32 | row, sorted, one per colour
};

}  // namespace Orvanes::detail
