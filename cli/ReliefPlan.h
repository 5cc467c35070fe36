// How the single-body relief and its filament swaps line up with the relief's levels. The
// preview paints relief level j (stack entry baseCount + j) wherever the grey value reaches the
// library's threshold of that level; the body and the swap list follow the same thresholds and
// grey step, so a one-nozzle print shows the colours the preview shows.
#pragma once
#include <string>
#include <vector>

#include <orvane/PhotosRelief.h>

namespace orvane_cli {

// Printed layers: layer 0 is firstLayerHeight thick, every later one layerHeight.
struct LayerGrid {
    double firstLayerHeight = 0.2;
    double layerHeight = 0.1;
    double Bottom(int layer) const { return layer <= 0 ? 0.0 : firstLayerHeight + (layer - 1) * layerHeight; }
    double Top(int layer) const { return Bottom(layer + 1); }
    // Layers a slicer prints under a top surface at height z: those whose middle lies below z.
    int LayersBelow(double z) const;
    // The layers a body with its top at z prints: a top less than a quarter layer past a layer's
    // middle gives that layer only slivers around the highest points, which slicers drop.
    int PrintedLayers(double z) const { return LayersBelow(z - 0.25 * layerHeight); }
};

// Arguments of PhotosRelief::GetMesh.
struct BodyLevels {
    int startLevel = 0;
    int endLevel = 1;
    double levelHeight = 0.0;
    double baseOffset = 0.0;
};

// The single body whose top at grey g lies half a layer around the top of layer
// baseCount + (g - greyMin) / step: a slicer cutting at layer middles then prints exactly
// baseCount + j + 1 layers where the preview shows level j on top. The surface is linear in
// grey, so the brightest pixels, beyond the top level's threshold, may rise a few layers higher
// (printed in the last colour). Requires stackSize > baseCount >= 0.
BodyLevels SingleBodyLevels(double greyMin, double greyMax, int stackSize, int baseCount, const LayerGrid& grid);

// The body's top height at grey value grey, as the height-map mesher computes it.
double BodyTopHeight(const BodyLevels& body, double grey, double greyMin, double greyMax);

// A colour change for a one-nozzle print of the single body: before printing layer
// (1-based) layerNumber, which spans [bottom, top], load colour.
struct ColourSwap {
    int layerNumber = 1;
    double bottom = 0.0;
    double top = 0.0;
    int stackIndex = 0;
    double greyThreshold = -1.0;  // relief levels: the preview's threshold; base levels: -1
    Orvanes::LayerEntry colour;
};

std::vector<ColourSwap> SwapList(const std::vector<Orvanes::LayerEntry>& stack, int baseCount,
                                 double greyMin, double greyMax, const LayerGrid& grid);

// The swap list as a text file a person reads beside the slicer. names: palette entries and
// their names, used to label colours (may be empty).
std::string SwapListText(const std::vector<ColourSwap>& swaps, const LayerGrid& grid, int stackSize,
                         int printedLayers, const std::vector<std::pair<Orvanes::LayerEntry, std::string>>& names);

// The stack as a colour file (ReadColourFile reads it back): one line per level, bottom first.
std::string StackText(const std::vector<Orvanes::LayerEntry>& stack, int baseCount);

}  // namespace orvane_cli
