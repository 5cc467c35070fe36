#include "StackPlanner.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "ColourDifference.h"

namespace Orvanes {

namespace {

constexpr size_t kBeamWidth = 128;
constexpr int kMaxLevels = 512;
// Levels a partial stack is told apart by: no opacity under 1/8 sits deeper in a colour.
constexpr size_t kSignatureDepth = 8;

// What UpdatePreviewImage adds for one level: colour * opacity truncated, within +-255.
int Truncated(float value)
{
    if (std::isnan(value)) return 0;
    return static_cast<int>(std::max(-255.0f, std::min(255.0f, std::trunc(value))));
}

// Levels j..0 painted top first while the opacity so far lies in [0, 1], each add saturated.
cv::Vec3b Composite(const std::vector<const LayerEntry*>& levels, size_t top)
{
    int colour[3] = {0, 0, 0};
    float covered = 0.0f;
    for (size_t k = top + 1; k-- > 0;) {
        if (!(covered >= 0.0f && covered <= 1.0f)) break;
        const LayerEntry& entry = *levels[k];
        for (int c = 0; c < 3; ++c) colour[c] = std::clamp(colour[c] + Truncated(entry[c] * entry[3]), 0, 255);
        covered += entry[3];
    }
    return cv::Vec3b(static_cast<uint8_t>(colour[0]), static_cast<uint8_t>(colour[1]), static_cast<uint8_t>(colour[2]));
}

struct Bin {
    cv::Vec3d lab;
    double weight = 0.0;
};

struct Partial {
    std::vector<int> entries;  // palette positions, level 0 first
    std::vector<bool> used;
    double cost = 0.0;
};

}  // namespace

float LayerOpacity(double transmissionDistance, double layerHeight)
{
    if (!(transmissionDistance > 0.0 && transmissionDistance <= 100.0) || !(layerHeight > 0.0))
        throw std::invalid_argument("LayerOpacity: a transmission distance of " + std::to_string(transmissionDistance) +
                                    " mm (0 to 100) and a layer height of " + std::to_string(layerHeight) +
                                    " mm (above 0) are needed");
    return static_cast<float>(std::min(1.0, layerHeight / transmissionDistance));
}

std::vector<cv::Vec3b> LevelColours(const std::vector<LayerEntry>& stack, int baseCount)
{
    std::vector<const LayerEntry*> levels;
    for (size_t k = static_cast<size_t>(std::max(baseCount, 0)); k < stack.size(); ++k) levels.push_back(&stack[k]);
    std::vector<cv::Vec3b> colours;
    for (size_t j = 0; j < levels.size(); ++j) colours.push_back(Composite(levels, j));
    return colours;
}

std::vector<LayerEntry> PlanStack(const PhotosRelief& relief, int baseCount, int layerCount, const cv::Mat& keep)
{
    if (baseCount < 0 || layerCount <= baseCount || layerCount > kMaxLevels)
        throw std::invalid_argument("PlanStack: " + std::to_string(baseCount) + " base levels of " +
                                    std::to_string(layerCount) + " need 0 <= base < levels <= 512");
    std::vector<LayerEntry> palette = relief.Palette();
    if (palette.empty()) return {};
    const cv::Mat& grey = relief.GreyImage();
    const cv::Mat& colour = relief.ColourImage();
    CV_Assert(grey.type() == CV_8UC1 && colour.type() == CV_8UC3 && grey.size() == colour.size());
    CV_Assert(keep.empty() || (keep.type() == CV_8UC1 && keep.size() == grey.size()));
    const LayerEntry base = PhotosRelief::BaseColour(palette);
    const int levels = layerCount - baseCount;

    // A pixel's highest level, as the preview's thresholds give it (-1: none, painted black).
    int topOf[256];
    for (int g = 0; g < 256; ++g) {
        topOf[g] = -1;
        for (int j = 0; j < levels; ++j)
            if (g >= PhotosRelief::LevelThreshold(relief.GreyMin(), relief.GreyMax(), levels, j)) topOf[g] = j;
    }
    // Pixel colours binned per level (5 bits a channel), each bin at the mean CIELAB of its pixels.
    const cv::Mat lab = BgrToLab(colour);
    std::vector<std::map<int, Bin>> binsOf(static_cast<size_t>(levels) + 1);
    for (int r = 0; r < grey.rows; ++r)
        for (int c = 0; c < grey.cols; ++c) {
            if (!keep.empty() && keep.at<uint8_t>(r, c) == 0) continue;
            const cv::Vec3b& bgr = colour.at<cv::Vec3b>(r, c);
            Bin& bin = binsOf[static_cast<size_t>(topOf[grey.at<uint8_t>(r, c)] + 1)][(bgr[0] >> 3) << 10 | (bgr[1] >> 3) << 5 | bgr[2] >> 3];
            bin.lab += cv::Vec3d(lab.at<cv::Vec3f>(r, c));
            bin.weight += 1.0;
        }
    std::vector<std::vector<Bin>> bins;
    for (const auto& level : binsOf) {
        bins.emplace_back();
        for (const auto& [key, bin] : level) bins.back().push_back({bin.lab / bin.weight, bin.weight});
    }

    std::unordered_map<uint64_t, double> memo;
    const auto levelCost = [&](int level, const cv::Vec3b& shown) {
        const uint64_t key = uint64_t(level) << 24 | uint64_t(shown[0]) << 16 | uint64_t(shown[1]) << 8 | shown[2];
        const auto found = memo.find(key);
        if (found != memo.end()) return found->second;
        const cv::Vec3d shownLab(BgrToLab(cv::Mat(1, 1, CV_8UC3, cv::Scalar(shown[0], shown[1], shown[2]))).at<cv::Vec3f>(0, 0));
        double sum = 0.0;
        for (const Bin& bin : bins[static_cast<size_t>(level) + 1]) sum += bin.weight * Ciede2000(shownLab, bin.lab);
        return memo[key] = sum;
    };

    // Level by level from the bottom: every partial stack continues its colour or starts an unused one.
    std::vector<Partial> beam(1);
    beam[0].used.assign(palette.size(), false);
    std::vector<const LayerEntry*> levelsOf;
    for (int level = 0; level < levels; ++level) {
        std::map<std::vector<int>, Partial> next;  // by the used colours and the top levels: the best only
        for (const Partial& partial : beam) {
            for (size_t p = 0; p < palette.size(); ++p) {
                const bool continues = level > 0 && partial.entries.back() == static_cast<int>(p);
                const bool isBase = palette[p] == base;
                if (!continues && (partial.used[p] || (isBase && level > 0))) continue;
                Partial grown = partial;
                grown.entries.push_back(static_cast<int>(p));
                grown.used[p] = true;
                levelsOf.clear();
                for (int e : grown.entries) levelsOf.push_back(&palette[static_cast<size_t>(e)]);
                grown.cost += levelCost(level, Composite(levelsOf, levelsOf.size() - 1));
                std::vector<int> signature(grown.entries.end() - static_cast<long>(std::min(kSignatureDepth, grown.entries.size())),
                                           grown.entries.end());
                for (size_t q = 0; q < palette.size(); ++q) signature.push_back(grown.used[q]);
                const auto it = next.find(signature);
                if (it == next.end() || grown.cost < it->second.cost) next[signature] = std::move(grown);
            }
        }
        beam.clear();
        for (auto& [signature, partial] : next) beam.push_back(std::move(partial));
        std::stable_sort(beam.begin(), beam.end(), [](const Partial& a, const Partial& b) { return a.cost < b.cost; });
        if (beam.size() > kBeamWidth) beam.resize(kBeamWidth);
    }
    std::vector<LayerEntry> stack(static_cast<size_t>(baseCount), base);
    for (int e : beam.front().entries) stack.push_back(palette[static_cast<size_t>(e)]);
    return stack;
}

}  // namespace Orvanes
