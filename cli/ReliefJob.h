// The relief road's settings and work, shared by `orvane relief` and `orvane demo`.
#pragma once
#include <vector>

#include <opencv2/core.hpp>

#include "Colours.h"
#include "CommandSupport.h"
#include "ReliefPlan.h"

namespace orvane_cli {

// Opacity of a typed colour without one.
constexpr float kDefaultOpacity = 0.25f;

struct ReliefJob {
    PrintSize size;
    std::vector<NamedColour> palette;
    LayerGrid grid;
    int levelCount = 20;
    int baseCount = 3;
    std::vector<Orvanes::LayerEntry> stack;  // given, or proposed by the work
    bool givenStack = false;
    bool planByEdges = false;  // the library's edge proposal instead of the colour planner
    bool invert = false;  // heights follow darkness
    double gamma = 1.0;   // power curve on the grey image, after the inversion
    cv::Mat keep;         // the photo's pixels to print above the base (see FramedPhoto); empty: all
};

std::vector<OptionSpec> ReliefOptions(const std::string& defaultFolder);

// Checks and collects every relief setting; throws UsageError before any work is done.
ReliefJob ReadReliefJob(const Arguments& args, const ImageFile& photo);

// Builds the relief and writes the chosen outputs; adds its members to the open JSON object.
void RunReliefJob(ReliefJob& job, const ImageFile& photo, const CommonSettings& settings, OutputFolder& folder,
                  TerminalProgress& progress, Json& json);

}  // namespace orvane_cli
