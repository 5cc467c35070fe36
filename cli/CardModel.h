// The colour card as printed: 16 rows x 64 columns of cells, each a stack of six layers of four
// materials (the same stacks the translucent print uses), in the frame the card finder locks
// onto (see orvane/ColourCard.h), and predicted photographs of it.
#pragma once
#include <array>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <orvane/CardFinder.h>
#include <orvane/ColourCard.h>
#include <orvane/OrvaneMesh.h>

#include "Arguments.h"
#include "Colours.h"

namespace orvane_cli {

// Display colours and opacities of materials 0 to 3 (three colours, then white).
using Materials = std::array<NamedColour, 4>;
Materials DefaultMaterials();
// --materials C0,C1,C2,C3 (four colour words), or the defaults.
Materials ReadMaterials(const Arguments& args);
OptionSpec MaterialsOption();

// The materials as the library takes them.
Orvanes::CardMaterials EntriesOf(const Materials& materials);
// The finder's settings for a card printed in these materials: their white and black references.
Orvanes::CardFinderOptions FinderOptions(const Materials& materials);

// The four material meshes of the marked card, its frame included, cellSize wide cells, layers
// as in the translucent print (layerHeight thick, the last lastLayerHeight).
std::vector<Orvanes::OrvaneMesh> CardMeshes(const Materials& materials, double cellSize, double layerHeight,
                                            double lastLayerHeight, Orvanes::PhotosProgressBar* progress);

// What a photograph of the printed card's grid, cropped to it, would show against a white light,
// BGR, cellPixels square per cell: every layer passes (1 - opacity) of the light plus opacity
// times its colour.
cv::Mat SimulatedCard(const Materials& materials, int cellPixels);

}  // namespace orvane_cli
