#include "CardMatching.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include <opencv2/imgproc.hpp>

namespace Orvanes::detail {

namespace {

const CardMatch kDark{{10, 16}, cv::Vec3b(30, 57, 0)};
const CardMatch kPale{{15, 63}, cv::Vec3b(0, 0, 255)};

uint64_t ColourKey(const uint8_t* pixel)
{
    return uint64_t{pixel[0]} | uint64_t{pixel[1]} << 8 | uint64_t{pixel[2]} << 16;
}

}  // namespace

CardMatch MatchColour(const cv::Mat& cardHsv, const cv::Vec3b& hsv)
{
    CV_Assert(cardHsv.type() == CV_8UC3 && cardHsv.rows == 16 && cardHsv.cols == 64);
    const int hue = hsv[0], saturation = hsv[1], value = hsv[2];
    // Too dark or too pale for any cell to be worth choosing: fixed stacks instead.
    if (value <= 50) return kDark;
    if (saturation < 30 && value > 200) return kPale;

    const double paleness = std::fabs(255.0f - static_cast<float>(saturation)) / 255.0f;
    const double darkness = std::fabs(255.0f - static_cast<float>(value)) / 255.0f;
    // Hue only tells colours apart when the colour is clearly coloured and not dark; there it
    // weighs double.
    const bool hueDoubled = value > 20 && 0.9 * 0.9 > paleness * paleness + darkness * darkness;

    double best = 99999999.0;
    int bestRow = 0, bestColumn = 0;
    for (int c = 0; c < 64; ++c) {
        for (int r = 0; r < 16; ++r) {
            const cv::Vec3b& cell = cardHsv.ptr<cv::Vec3b>(r)[c];
            const int turn = std::abs(cell[0] - hue);
            const double dH = std::min(turn, 256 - turn) * 0.0078125;  // hue is circular
            const double dS = std::abs(cell[1] - saturation) / 255.0;
            const double dV = std::abs(cell[2] - value) / 255.0;
            const double hueTerm = hueDoubled ? dH * dH * 2.0 : dH * dH;
            const float distance = std::sqrt(static_cast<float>(dS * dS + hueTerm + dV * dV));
            // A darker cell cannot print the colour; strictly nearer keeps the first on ties.
            if (best > distance && cell[2] >= value) {
                best = distance;
                bestRow = r;
                bestColumn = c;
            }
        }
    }
    // No cell is bright enough: cell (0, 0) stands in, and so do its hue and saturation.
    const cv::Vec3b& chosen = cardHsv.ptr<cv::Vec3b>(bestRow)[bestColumn];
    return {{bestRow, bestColumn}, cv::Vec3b(chosen[0], chosen[1], static_cast<uint8_t>(value))};
}

PaletteLookup::PaletteLookup(const cv::Mat& palette)
{
    if (palette.empty()) return;
    CV_Assert(palette.type() == CV_8UC3 && palette.dims <= 2 && (palette.cols == 1 || palette.rows == 1));
    const int count = static_cast<int>(palette.total());
    entries.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const uint8_t* colour = palette.cols == 1 ? palette.ptr<uint8_t>(i) : palette.ptr<uint8_t>(0) + 3 * i;
        entries.push_back(ColourKey(colour) << 32 | static_cast<uint32_t>(i));
    }
    std::sort(entries.begin(), entries.end());
    // Of each run of one colour keep the last, that is the highest row.
    auto kept = entries.begin();
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        const auto next = it + 1;
        if (next == entries.end() || (*next >> 32) != (*it >> 32)) *kept++ = *it;
    }
    entries.erase(kept, entries.end());
}

int PaletteLookup::Find(const uint8_t* pixel) const
{
    const uint64_t key = ColourKey(pixel) << 32;
    const auto it = std::lower_bound(entries.begin(), entries.end(), key);
    if (it == entries.end() || (*it >> 32) != (key >> 32)) return -1;
    return static_cast<int>(*it & 0xffffffffu);
}

PaletteMatch MatchPalette(const cv::Mat& cardHsv, const cv::Mat& working, const cv::Mat& palette,
                          const cv::Mat& adjustedPalette)
{
    CV_Assert(adjustedPalette.type() == CV_8UC3 && adjustedPalette.cols == 1);
    CV_Assert(palette.type() == CV_8UC3 && palette.cols == 1 && palette.rows == adjustedPalette.rows);
    CV_Assert(working.type() == CV_8UC3 && working.dims <= 2);
    PaletteMatch match;
    const int count = adjustedPalette.rows;
    match.matchedColours.create(count, 1, CV_8UC3);
    match.cardMatches.reserve(static_cast<size_t>(count));
    if (count > 0) {
        cv::Mat hsv;
        cv::cvtColor(adjustedPalette, hsv, cv::COLOR_BGR2HSV_FULL);
        for (int i = 0; i < count; ++i) {
            const CardMatch m = MatchColour(cardHsv, hsv.ptr<cv::Vec3b>(i)[0]);
            match.cardMatches.push_back(m.cell);
            match.matchedColours.ptr<cv::Vec3b>(i)[0] = m.colour;
        }
    }

    // Every working pixel is some palette colour, so one lookup per pixel replaces a masked
    // pass per entry.
    match.matchedImage = cv::Mat::zeros(working.rows, working.cols, CV_8UC3);
    const PaletteLookup lookup(palette);
    for (int y = 0; y < working.rows; ++y) {
        const uint8_t* in = working.ptr<uint8_t>(y);
        auto* out = match.matchedImage.ptr<cv::Vec3b>(y);
        for (int x = 0; x < working.cols; ++x, in += 3) {
            const int entry = lookup.Find(in);
            if (entry >= 0) out[x] = match.matchedColours.ptr<cv::Vec3b>(entry)[0];
        }
    }
    return match;
}

}  // namespace Orvanes::detail

namespace Orvanes {

cv::Mat PhotosTranslucent::GetColorCardMatchingImage(cv::Mat adjustedPalette)
{
    detail::PaletteMatch match = detail::MatchPalette(cardSamplesHsv, quantizedImage, quantPalette, adjustedPalette);
    cv::Mat preview;
    cv::cvtColor(match.matchedImage, preview, cv::COLOR_HSV2BGR_FULL);
    cardMatches = std::move(match.cardMatches);
    matchedColours = match.matchedColours;
    matchedImage = match.matchedImage;
    return preview;
}

}  // namespace Orvanes
