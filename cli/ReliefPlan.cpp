#include "ReliefPlan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>

#include "Colours.h"

namespace orvane_cli {

int LayerGrid::LayersBelow(double z) const
{
    if (!(z > firstLayerHeight / 2)) return 0;
    // Layer k >= 1 has its middle at firstLayerHeight + (k - 0.5) * layerHeight.
    const double above = (z - firstLayerHeight) / layerHeight + 0.5;
    // A very thin layer under a tall top may count past int (or to infinity): cap before converting.
    const double cap = double(std::numeric_limits<int>::max() / 2);
    const double layers = above < cap ? std::ceil(above) : cap;
    return 1 + std::max(0, static_cast<int>(layers) - 1);
}

BodyLevels SingleBodyLevels(double greyMin, double greyMax, int stackSize, int baseCount, const LayerGrid& grid)
{
    const int reliefLevels = stackSize - baseCount;
    const int step = Orvanes::PhotosRelief::LevelGreyStep(greyMin, greyMax, reliefLevels);
    BodyLevels body;
    if (step == 0) {
        // Every level covers every pixel: a flat block as tall as the whole stack.
        body.startLevel = 0;
        body.endLevel = 1;
        body.levelHeight = grid.layerHeight;
        body.baseOffset = grid.Top(stackSize - 1);
        return body;
    }
    // Two levels spread over the grey span give the mesher a slope of levelHeight / span per
    // grey value; levelHeight = span * layerHeight / step makes that one layer per step.
    const double span = greyMax - greyMin;
    body.startLevel = 0;
    body.endLevel = 2;
    body.levelHeight = span * grid.layerHeight / step;
    // The lowest grey sits just over half a layer below the top of the first relief layer:
    // 1 / (2 step) of a layer above that layer's middle, so the grey just below a threshold,
    // (step - 1) / step layers higher, still stays below the next layer's middle.
    body.baseOffset = grid.Top(baseCount) - (0.5 - 0.5 / step) * grid.layerHeight;
    return body;
}

double BodyTopHeight(const BodyLevels& body, double grey, double greyMin, double greyMax)
{
    const int layerCount = body.endLevel - body.startLevel;
    const double span = greyMax - greyMin;
    const double scale = span > 0 ? (layerCount - 1) * body.levelHeight / span : 0.0;
    return (grey - greyMin) * scale + body.startLevel * body.levelHeight + body.baseOffset;
}

std::vector<ColourSwap> SwapList(const std::vector<Orvanes::LayerEntry>& stack, int baseCount,
                                 double greyMin, double greyMax, const LayerGrid& grid)
{
    const int stackSize = static_cast<int>(stack.size());
    const int reliefLevels = stackSize - baseCount;
    std::vector<ColourSwap> swaps;
    for (int k = 0; k < stackSize; ++k) {
        if (k > 0 && stack[static_cast<size_t>(k)] == stack[static_cast<size_t>(k) - 1]) continue;
        ColourSwap swap;
        swap.layerNumber = k + 1;
        swap.bottom = grid.Bottom(k);
        swap.top = grid.Top(k);
        swap.stackIndex = k;
        swap.greyThreshold =
            k >= baseCount ? Orvanes::PhotosRelief::LevelThreshold(greyMin, greyMax, reliefLevels, k - baseCount) : -1.0;
        swap.colour = stack[static_cast<size_t>(k)];
        swaps.push_back(swap);
    }
    return swaps;
}

std::string SwapListText(const std::vector<ColourSwap>& swaps, const LayerGrid& grid, int stackSize,
                         int printedLayers, const std::vector<std::pair<Orvanes::LayerEntry, std::string>>& names)
{
    std::ostringstream text;
    char line[256];
    std::snprintf(line, sizeof line,
                  "; Filament swaps for relief.stl on a one-nozzle printer: first layer %g mm, then %g mm.\n"
                  "; Load the colour before the layer given starts printing.\n"
                  "; grey: the preview shows this colour on top where the working grey image reaches it.\n",
                  grid.firstLayerHeight, grid.layerHeight);
    text << line << ";\n; layer  from_mm   to_mm     colour  opacity  grey  name\n";
    for (const ColourSwap& swap : swaps) {
        std::string name;
        for (const auto& [entry, entryName] : names)
            if (entry == swap.colour) name = entryName;
        char grey[16] = "base";
        if (swap.greyThreshold >= 0) std::snprintf(grey, sizeof grey, "%g", swap.greyThreshold);
        std::snprintf(line, sizeof line, "%-7d  %-8.3f  %-8.3f  %s  %-7g  %-4s  %s\n", swap.layerNumber,
                      swap.bottom, swap.top, HexOf(swap.colour).c_str(), static_cast<double>(swap.colour[3]),
                      grey, name.c_str());
        text << line;
    }
    std::snprintf(line, sizeof line, "; The body is %d layers (%.3f mm) tall", printedLayers,
                  grid.Top(printedLayers - 1));
    text << line;
    if (printedLayers > stackSize)
        text << "; layers above " << stackSize << " are the brightest pixels and stay in the last colour";
    text << ".\n";
    return text.str();
}

std::string StackText(const std::vector<Orvanes::LayerEntry>& stack, int baseCount)
{
    std::ostringstream text;
    text << "; Layer stack, bottom first: one colour per printed level (rrggbb:opacity).\n"
         << "; The first " << baseCount << " are base levels. Edit and pass back with --stack.\n";
    for (size_t k = 0; k < stack.size(); ++k)
        text << ColourText(stack[k]) << "  level " << k + 1 << (int(k) < baseCount ? " (base)" : "") << "\n";
    return text.str();
}

}  // namespace orvane_cli
