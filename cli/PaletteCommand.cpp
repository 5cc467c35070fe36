// orvane palette PHOTO --from FILAMENTS --count N: the filaments of a list that let the colour
// planner come closest to the photo, written as a palette file for `orvane relief`.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <orvane/ColourDifference.h>
#include <orvane/PhotosRelief.h>
#include <orvane/StackPlanner.h>

#include "BothEnds.h"
#include "Colours.h"
#include "CommandSupport.h"
#include "Commands.h"

namespace orvane_cli {

namespace {

// Choosing means planning a relief for every candidate set: a small picture keeps that quick,
// and a few hundred pixels across still hold every colour that matters.
constexpr int kChoosingWidth = 160;

struct Choice {
    std::vector<size_t> chosen;  // positions in the filament list
    double error = 0.0;          // mean CIEDE2000 of the planned preview
};

double PlannedError(const ImageFile& picture, const std::vector<NamedColour>& filaments,
                    const std::vector<size_t>& chosen, int baseCount, int levelCount)
{
    std::vector<Orvanes::LayerEntry> palette;
    for (size_t k : chosen) palette.push_back(filaments[k].entry);
    Orvanes::PhotosRelief relief(picture.bytes, picture.size.width, picture.size.height, 1.0, nullptr, palette);
    const std::vector<Orvanes::LayerEntry> stack = Orvanes::PlanStack(relief, baseCount, levelCount);
    const cv::Mat preview = relief.UpdatePreviewImage(stack, baseCount, 0.0, 0.0, 0.0);
    return cv::mean(Orvanes::ColourErrorMap(relief.ColourImage(), preview))[0];
}

// Filaments added one at a time, each the one that lowers the error most, then each chosen one
// swapped for an unchosen one while that helps: the same list and photo, the same choice.
Choice Choose(const ImageFile& picture, const std::vector<NamedColour>& filaments, size_t count,
              int baseCount, int levelCount)
{
    Choice best;
    const auto tryChoice = [&](const std::vector<size_t>& chosen, Choice& into) {
        const double error = PlannedError(picture, filaments, chosen, baseCount, levelCount);
        if (into.chosen.empty() || error < into.error) into = {chosen, error};
    };
    while (best.chosen.size() < count) {
        // The candidates of a round do not depend on each other: planned on the cores, then
        // judged in list order, as one after the other would be.
        std::vector<std::vector<size_t>> candidates;
        for (size_t k = 0; k < filaments.size(); ++k)
            if (!std::count(best.chosen.begin(), best.chosen.end(), k)) {
                candidates.push_back(best.chosen);
                candidates.back().push_back(k);
            }
        std::vector<double> errors(candidates.size());
        OnCores(candidates.size(), [&](size_t c) {
            errors[c] = PlannedError(picture, filaments, candidates[c], baseCount, levelCount);
        });
        Choice next;
        for (size_t c = 0; c < candidates.size(); ++c)
            if (next.chosen.empty() || errors[c] < next.error) next = {candidates[c], errors[c]};
        best = next;
    }
    for (bool improved = true; improved;) {
        improved = false;
        for (size_t slot = 0; slot < count; ++slot)
            for (size_t k = 0; k < filaments.size(); ++k) {
                if (std::count(best.chosen.begin(), best.chosen.end(), k)) continue;
                std::vector<size_t> chosen = best.chosen;
                chosen[slot] = k;
                const double before = best.error;
                tryChoice(chosen, best);
                improved = improved || best.error < before;
            }
    }
    std::sort(best.chosen.begin(), best.chosen.end());
    return best;
}

}  // namespace

int RunPalette(int argc, char** argv, int first)
{
    std::vector<OptionSpec> options = {
        {"from", "FILE", "the filaments to choose from: one per line, RRGGBB@TD (transmission distance in mm) or "
                         "RRGGBB:OPACITY, then a name"},
        {"count", "N", "how many filaments to choose (default 4)"},
        {"layer-height", "MM", "layer height the relief will print with, for the transmission distances (default 0.1)"},
        {"levels", "N", "printed levels of the relief, base included (default 20)"},
        {"base-levels", "N", "levels under the relief (default 3)"},
    };
    for (OptionSpec& entry : CommonOptions("orvane-palette", "palette", "all", false)) options.push_back(entry);
    Arguments args("palette", "palette PHOTO --from FILE [options]",
                   "Chooses the filaments of a list that print the photo's colours best as a relief (the colour\n"
                   "planner of 'orvane relief' tried on every candidate set), prints them with the colour error\n"
                   "they reach, and writes palette.txt for 'orvane relief --palette'.",
                   {"PHOTO"}, options);
    if (!args.Parse(argc, argv, first)) return 0;
    const CommonSettings settings = ReadCommonSettings(args, "orvane-palette", {"palette"});
    const ImageFile photo = ReadImageFile(args.Positional(0), "photo", false);
    if (!args.Has("from")) throw UsageError("palette needs --from FILE, the filaments to choose from");
    const double layerHeight = args.Length("layer-height", 0.1, kMaxStepMm);
    const std::vector<NamedColour> filaments = ReadColourFile(args.Text("from", ""), 0.25f, layerHeight);
    if (filaments.empty()) throw UsageError("the filament list '" + args.Text("from", "") + "' holds no filaments");
    for (const NamedColour& filament : filaments)
        if (settings.json) RequireUtf8(filament.name, "the filament name '" + filament.name + "'");
    const int count = args.Integer("count", std::min<int>(4, static_cast<int>(filaments.size())), 1,
                                   static_cast<int>(std::min<size_t>(filaments.size(), 254)));
    const int levelCount = args.Integer("levels", 20, 2, 512);
    const int baseCount = args.Integer("base-levels", 3, 0, levelCount - 1);
    OutputFolder folder(settings.folder);
    folder.ProtectInputs({args.Positional(0), args.Text("from", "")});
    RefuseOverwritingInputs(folder, {"palette.txt"});

    const cv::Mat image = cv::imdecode(photo.bytes, cv::IMREAD_COLOR);
    const cv::Size size(std::min(kChoosingWidth, image.cols),
                        std::max(2, static_cast<int>(std::lround(double(image.rows) * std::min(kChoosingWidth, image.cols) / image.cols))));
    cv::Mat small;
    cv::resize(image, small, size, 0.0, 0.0, cv::INTER_AREA);
    const Choice choice = Choose(PngImageFile(small), filaments, static_cast<size_t>(count), baseCount, levelCount);

    std::ostringstream text;
    text << "; " << count << " filaments chosen for " << args.Positional(0) << " (colour error " << choice.error
         << " CIEDE2000 at " << layerHeight << " mm layers)\n";
    for (size_t k : choice.chosen)
        text << filaments[k].typed << (filaments[k].name.empty() ? "" : " " + filaments[k].name) << "\n";
    folder.Write("palette.txt", "palette", text.str());
    Json json = {{"command", "palette"}, {"folder", folder.Path()}, {"colour_error", choice.error}};
    Json& chosen = json["chosen"] = Json::array();
    for (size_t k : choice.chosen) chosen.push_back({{"colour", HexOf(filaments[k].entry)}, {"name", filaments[k].name}});
    WriteManifest(folder, "palette", argc, argv, first, {args.Positional(0), args.Text("from", "")});
    folder.Commit();
    JsonFiles(json, folder);
    if (settings.json) {
        std::cout << json.dump() << std::endl;
    } else {
        std::cout << text.str();
        std::cout.flush();
    }
    return 0;
}

}  // namespace orvane_cli
