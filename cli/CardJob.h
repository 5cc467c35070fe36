// Card outputs shared by `orvane card` and `orvane demo`.
#pragma once
#include <string>
#include <vector>

#include "CardModel.h"
#include "CommandSupport.h"

namespace orvane_cli {

// card-material-0..3.stl and card.3mf, as chosen in settings.
void WriteCardMeshes(const Materials& materials, double cellSize, double layerHeight, double lastLayerHeight,
                     const CommonSettings& settings, OutputFolder& folder, TerminalProgress& progress);

// The predicted card photograph as a PNG named name.
// Returns the PNG bytes written: the file itself appears only when the folder commits.
std::vector<unsigned char> WriteSimulatedCard(const Materials& materials, int cellPixels, OutputFolder& folder,
                                              const std::string& name);

}  // namespace orvane_cli
