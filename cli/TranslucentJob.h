// The translucent road's settings and work, shared by `orvane translucent` and `orvane demo`.
#pragma once
#include "CardModel.h"
#include "CommandSupport.h"

namespace orvane_cli {

struct TranslucentJob {
    PrintSize size;
    bool autoContrast = false;
    double contrast = 0.0;
    double brightness = 0.0;
    int minLayers = 8;
    int maxLayers = 16;
    double layerHeight = 0.1;
    double lastLayerHeight = 0.1;
    Materials materials;
    cv::Mat keep;  // the photo's pixels to print (see FramedPhoto); empty: all
};

std::vector<OptionSpec> TranslucentOptions(const std::string& defaultFolder);

// Checks and collects every setting; throws UsageError before any work is done.
TranslucentJob ReadTranslucentJob(const Arguments& args, const ImageFile& card, const ImageFile& photo);

// Matches, renders and writes the chosen outputs; adds its members to the open JSON object.
void RunTranslucentJob(const TranslucentJob& job, const ImageFile& card, const ImageFile& photo,
                       const CommonSettings& settings, OutputFolder& folder, TerminalProgress& progress,
                       Json& json);

}  // namespace orvane_cli
