// The colour card as printed: 16 rows x 64 columns of cells, each a stack of six layers of four
// materials (the same stacks the translucent print uses), and a predicted photograph of it.
#pragma once
#include <array>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <orvane/OrvaneMesh.h>

#include "Arguments.h"
#include "Colours.h"

namespace orvane_cli {

constexpr int kCardRows = 16;
constexpr int kCardColumns = 64;
constexpr int kCardLayers = 6;

// Display colours and opacities of materials 0 to 3 (three colours, then white).
using Materials = std::array<NamedColour, 4>;
Materials DefaultMaterials();
// --materials C0,C1,C2,C3 (four colour words), or the defaults.
Materials ReadMaterials(const Arguments& args);
OptionSpec MaterialsOption();

// 16 x 64 cells, six 8-bit channels: channel k holds the material of layer k of that cell.
cv::Mat CardVoxels();

// The four material meshes of the card, cellSize wide cells, layers as in the translucent print
// (layerHeight thick, the last lastLayerHeight).
std::vector<Orvanes::OrvaneMesh> CardMeshes(double cellSize, double layerHeight, double lastLayerHeight,
                                            Orvanes::PhotosProgressBar* progress);

// What a photograph of the printed card held against a white light would show, BGR, cellPixels
// square per cell: every layer passes (1 - opacity) of the light plus opacity times its colour.
cv::Mat SimulatedCard(const Materials& materials, int cellPixels);

}  // namespace orvane_cli
