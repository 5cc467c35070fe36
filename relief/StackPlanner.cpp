#include "StackPlanner.h"

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <map>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "ColourDifference.h"

namespace Orvanes {

namespace {

// Distinct partial stacks kept per level. Six filaments of opacity 1/8 or more make up to about
// 130,000 on a photo, and thin filaments far more, each new one costing a pass over the bins;
// the cheapest 1,024 held the best stack on every photo tried (512 did too, 128 did not).
constexpr size_t kMaxPartials = 1024;
constexpr int kMaxLevels = 512;

// What UpdatePreviewImage adds for one level: colour * opacity truncated, within +-255.
int Truncated(float value)
{
    if (std::isnan(value)) return 0;
    return static_cast<int>(std::max(-255.0f, std::min(255.0f, std::trunc(value))));
}

// The preview's colour of a pixel whose highest level is the last of levels (positions in
// entries, bottom first): levels painted from the top down while the opacity so far lies in
// [0, 1], each add saturated. depth receives how many levels the walk took.
cv::Vec3b Composite(const std::vector<int>& levels, const std::vector<LayerEntry>& entries, size_t& depth)
{
    int colour[3] = {0, 0, 0};
    float covered = 0.0f;
    depth = 0;
    for (size_t k = levels.size(); k-- > 0 && covered >= 0.0f && covered <= 1.0f; ++depth) {
        const LayerEntry& entry = entries[static_cast<size_t>(levels[k])];
        for (int c = 0; c < 3; ++c) colour[c] = std::clamp(colour[c] + Truncated(entry[c] * entry[3]), 0, 255);
        covered += entry[3];
    }
    return cv::Vec3b(static_cast<uint8_t>(colour[0]), static_cast<uint8_t>(colour[1]), static_cast<uint8_t>(colour[2]));
}

struct Bin {
    cv::Vec3d lab;
    double weight = 0.0;
};

// A partial stack as the levels above it will see it: the colours it has used and the top
// entries a later preview still looks through. Two partials with the same key look the same to
// every level above, so only the cheaper needs keeping.
struct Partial {
    std::string key;  // used colours as bits, then the entries shown, bottom first
    double cost = 0.0;
    int parent = -1;  // index among the partials one level down
    int entry = 0;    // palette position of its top level
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
    const size_t first = std::min(static_cast<size_t>(std::max(baseCount, 0)), stack.size());
    const std::vector<LayerEntry> shown(stack.begin() + static_cast<long>(first), stack.end());
    std::vector<int> levels;
    std::vector<cv::Vec3b> colours;
    size_t depth = 0;
    for (size_t j = 0; j < shown.size(); ++j) {
        levels.push_back(static_cast<int>(j));
        colours.push_back(Composite(levels, shown, depth));
    }
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

    // Level by level from the bottom, every partial continues its colour or starts an unused one,
    // and of the partials that look alike to every level above only the cheapest stays; of those,
    // the cheapest kMaxPartials.
    // When no opacity is negative, adding entries on top can only shorten the run of entries a
    // preview looks through, so that run is all a key needs; otherwise it holds every entry.
    bool coversGrow = true;
    for (const LayerEntry& entry : palette) coversGrow = coversGrow && entry[3] >= 0.0f;
    const size_t width = palette.size() <= 256 ? 1 : 2;  // bytes a palette position takes in a key
    const size_t usedBytes = (palette.size() + 7) / 8;
    std::vector<std::vector<Partial>> partials(static_cast<size_t>(levels) + 1);
    partials[0].push_back({std::string(usedBytes, '\0'), 0.0, -1, -1});
    std::vector<int> top;
    std::string key;
    for (int level = 0; level < levels; ++level) {
        const std::vector<Partial>& below = partials[static_cast<size_t>(level)];
        std::vector<Partial>& grown = partials[static_cast<size_t>(level) + 1];
        std::unordered_map<std::string, size_t> byKey;
        for (size_t b = 0; b < below.size(); ++b) {
            const Partial& partial = below[b];
            top.clear();
            for (size_t k = usedBytes; k < partial.key.size(); k += width)
                top.push_back(static_cast<uint8_t>(partial.key[k]) | (width == 2 ? static_cast<uint8_t>(partial.key[k + 1]) << 8 : 0));
            for (size_t p = 0; p < palette.size(); ++p) {
                const bool used = (static_cast<uint8_t>(partial.key[p / 8]) >> (p % 8)) & 1;
                const bool continues = level > 0 && top.back() == static_cast<int>(p);
                if (!continues && (used || (palette[p] == base && level > 0))) continue;
                top.push_back(static_cast<int>(p));
                size_t depth = 0;
                const double cost = partial.cost + levelCost(level, Composite(top, palette, depth));
                key.assign(partial.key, 0, usedBytes);
                key[p / 8] = static_cast<char>(key[p / 8] | 1 << (p % 8));
                for (size_t k = coversGrow ? top.size() - depth : 0; k < top.size(); ++k) {
                    key.push_back(static_cast<char>(top[k] & 0xff));
                    if (width == 2) key.push_back(static_cast<char>(top[k] >> 8));
                }
                top.pop_back();
                const auto found = byKey.find(key);
                if (found == byKey.end()) {
                    byKey.emplace(key, grown.size());
                    grown.push_back({key, cost, static_cast<int>(b), static_cast<int>(p)});
                } else if (const size_t same = found->second; cost < grown[same].cost) {
                    grown[same].cost = cost;
                    grown[same].parent = static_cast<int>(b);
                    grown[same].entry = static_cast<int>(p);
                }
            }
        }
        if (grown.size() > kMaxPartials) {
            std::stable_sort(grown.begin(), grown.end(), [](const Partial& a, const Partial& b) { return a.cost < b.cost; });
            grown.resize(kMaxPartials);
        }
    }
    const std::vector<Partial>& finished = partials.back();
    size_t best = 0;
    for (size_t k = 1; k < finished.size(); ++k)
        if (finished[k].cost < finished[best].cost) best = k;
    std::vector<int> entries(static_cast<size_t>(levels));
    for (int level = levels; level > 0; --level) {
        const Partial& partial = partials[static_cast<size_t>(level)][best];
        entries[static_cast<size_t>(level) - 1] = partial.entry;
        best = static_cast<size_t>(partial.parent);
    }
    std::vector<LayerEntry> stack(static_cast<size_t>(baseCount), base);
    for (int e : entries) stack.push_back(palette[static_cast<size_t>(e)]);
    return stack;
}

}  // namespace Orvanes
