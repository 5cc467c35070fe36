// orvane relief PHOTO: the layered colour relief, as a single body with its filament swaps for
// one nozzle, and as one mesh per colour for several.
#include <algorithm>
#include <cstdio>
#include <limits>
#include <cmath>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <orvane/ColourDifference.h>
#include <orvane/MeshMerging.h>
#include <orvane/PhotoMeshCreater.h>
#include <orvane/PhotosRelief.h>
#include <orvane/StackPlanner.h>

#include "BothEnds.h"
#include "Colours.h"
#include "CommandSupport.h"
#include "Commands.h"
#include "Fidelity.h"
#include "MeshFiles.h"
#include "PhotoFraming.h"
#include "PrintFrame.h"
#include "ReliefJob.h"
#include "ReliefPlan.h"

namespace orvane_cli {

namespace {

constexpr int kMaxLevels = CV_CN_MAX;

const std::vector<std::string> kReliefOutputs = {"preview", "fidelity", "body", "body-3mf", "colours", "3mf", "stack", "swaps"};
// Per-colour STL files and the bare single-body STL only on request: the 3MF files carry both
// prints whole, and slicers read them with their colours.
const std::vector<std::string> kReliefDefaults = {"preview", "fidelity", "body-3mf", "3mf", "stack", "swaps"};

// Lowers every point of the body higher than top above its bottom to top: the slivers a slicer
// would not print, so the file holds the layers swaps.txt announces.
void CutSlivers(Orvanes::OrvaneMesh& mesh, double top)
{
    float bottom = std::numeric_limits<float>::infinity();
    for (const Eigen::Vector3f& v : mesh.vertices) bottom = std::min(bottom, v[2]);
    const float highest = static_cast<float>(bottom + top);
    for (Eigen::Vector3f& v : mesh.vertices) v[2] = std::min(v[2], highest);
}

// The photo the relief takes its heights from: as given, or its grey image inverted and bent by
// the power curve, as a grey picture, which the relief's own grey conversion keeps as it is.
cv::Mat HeightPhoto(const cv::Mat& bytes, bool invert, double gamma)
{
    if (!invert && gamma == 1.0) return bytes;
    cv::Mat grey, curve(1, 256, CV_8U), shaped;
    cv::cvtColor(cv::imdecode(bytes, cv::IMREAD_COLOR), grey, cv::COLOR_BGR2GRAY);
    for (int g = 0; g < 256; ++g)
        curve.at<uint8_t>(g) = cv::saturate_cast<uint8_t>(255.0 * std::pow((invert ? 255 - g : g) / 255.0, gamma));
    cv::LUT(grey, curve, shaped);
    return PngImageFile(shaped).bytes;
}

// A margin of the base plate around the picture: the photo at the working size (resized as the
// relief would resize it, so the picture's pixels stay the same) grown by border pixels that
// keep nothing above the base. The print grows by the margin on each side.
void AddBorder(ReliefJob& job, FramedPhoto& framed, double borderMm)
{
    const int border = std::max(1, static_cast<int>(std::lround(borderMm / job.size.pixelSize)));
    const cv::Size working(job.size.cols, job.size.rows);
    cv::Mat picture, keep = WorkingKeep(job.keep, working);
    cv::resize(cv::imdecode(framed.photo.bytes, cv::IMREAD_COLOR), picture, working, 0.0, 0.0, cv::INTER_LINEAR);
    if (keep.empty()) keep = cv::Mat(working, CV_8U, cv::Scalar(255));
    cv::copyMakeBorder(picture, picture, border, border, border, border, cv::BORDER_REPLICATE);
    cv::copyMakeBorder(keep, job.keep, border, border, border, border, cv::BORDER_CONSTANT, cv::Scalar(0));
    framed.photo = PngImageFile(picture);
    job.size.cols += 2 * border;
    job.size.rows += 2 * border;
    if (double(job.size.cols) * job.size.rows > kMaxWorkingPixels)
        throw UsageError("--border " + Plain(borderMm) + " grows the working image to " +
                         std::to_string(job.size.cols) + " x " + std::to_string(job.size.rows) + " pixels; at most " +
                         std::to_string(static_cast<long>(kMaxWorkingPixels)) + " are supported");
    // Half a pixel over the grid's width, so the relief's floor(width / pixel) gives it back.
    job.size.width = (job.size.cols + 0.5) * job.size.pixelSize;
    job.size.height = (job.size.rows + 0.5) * job.size.pixelSize;
}

std::vector<NamedColour> DefaultPalette()
{
    return {{ParseColour("000000:1", 1.0f, ""), "black"}, {ParseColour("ffffff:0.125", 1.0f, ""), "white"}};
}


// What GetVoxMeshes makes, each mesh merged as soon as it is made unless exact (so that only
// one unmerged mesh per core is ever held), the colours shared by two cores; only this thread
// draws the bar, the helper's colours show when done.
void MeshColours(const Orvanes::PhotosRelief& relief, const ReliefJob& job, const cv::Mat& keep, bool exact,
                 TerminalProgress& progress, std::vector<Orvanes::OrvaneMesh>& meshes,
                 std::vector<Orvanes::LayerEntry>& colours)
{
    const std::vector<Orvanes::LayerEntry>& palette = relief.Palette();
    const cv::Mat grid = relief.VoxelGrid(job.stack, job.baseCount, keep);
    const size_t count = grid.empty() ? 0 : palette.size();
    const auto beginOf = [&](size_t i) {
        return static_cast<int>(static_cast<double>(i) / static_cast<double>(palette.size()) * 100.0);
    };
    std::vector<Orvanes::OrvaneMesh> all(count);
    std::vector<char> listed(count, 0);
    const auto make = [&](Orvanes::PhotosProgressBar* reporter, size_t i) {
        all[i] = Orvanes::PhotoMeshCreater(reporter).CreateMeshFromVox(
            grid, relief.PixelSize(), job.grid.layerHeight, job.grid.firstLayerHeight, static_cast<int>(i),
            beginOf(i), beginOf(i + 1));
        // A colour the stack leaves out still has the shell's vertices, and keeps its place.
        listed[i] = !all[i].vertices.empty();
        if (!exact) all[i] = Orvanes::MergeCoplanarFaces(all[i]);
        if (reporter) reporter->SetProgress(beginOf(i + 1));
    };
    FromBothEnds(count, [&](size_t i) { make(&progress, i); }, [&](size_t i) { make(nullptr, i); });
    progress.SetProgress(100);
    for (size_t i = 0; i < count; ++i)
        if (listed[i]) {
            meshes.push_back(std::move(all[i]));
            colours.push_back(palette[i]);
        }
}

}  // namespace

ReliefJob ReadReliefJob(const Arguments& args, const ImageFile& photo)
{
    ReliefJob job;
    job.size = ResolvePrintSize(args, photo.size, 100.0, 0.2);

    job.grid.layerHeight = args.Length("layer-height", 0.1, kMaxStepMm);
    // A transmission distance gives the opacity of one layer of this height.
    const double layer = job.grid.layerHeight;
    if (args.Has("palette")) job.palette = ReadColourFile(args.Text("palette", ""), kDefaultOpacity, layer);
    for (const std::string& text : args.Texts("colour"))
        job.palette.push_back({ParseColour(text, kDefaultOpacity, "--colour", layer), ""});
    if (job.palette.empty() && !args.Has("palette")) job.palette = DefaultPalette();
    if (job.palette.empty()) throw UsageError("the palette file '" + args.Text("palette", "") + "' holds no colours");
    if (job.palette.size() > 254)
        throw UsageError(std::to_string(job.palette.size()) +
                         " colours given; a relief takes at most 254 (one voxel label each)");

    job.grid.firstLayerHeight = args.Length("first-layer-height", 0.2, kMaxStepMm);
    // A voxel grid holds one image channel per level, and images have at most kMaxLevels.
    job.baseCount = args.Integer("base-levels", 3, 0, kMaxLevels - 1);
    job.levelCount = args.Integer("levels", 20, 1, kMaxLevels);
    if (args.Has("stack")) {
        for (const NamedColour& level : ReadColourFile(args.Text("stack", ""), kDefaultOpacity, layer)) {
            bool inPalette = false;
            for (const NamedColour& colour : job.palette) inPalette = inPalette || colour.entry == level.entry;
            if (!inPalette)
                throw UsageError("stack level " + std::to_string(job.stack.size() + 1) + " (" + ColourText(level.entry) +
                                 ") is not a palette colour; the colour meshes would leave it out");
            job.stack.push_back(level.entry);
        }
        if (job.stack.size() > size_t(kMaxLevels))
            throw UsageError("the stack file holds " + std::to_string(job.stack.size()) + " levels; at most " +
                             std::to_string(kMaxLevels) + " are supported");
        if (args.Has("levels") && job.levelCount != static_cast<int>(job.stack.size()))
            throw UsageError("--levels " + std::to_string(job.levelCount) + " disagrees with the " +
                             std::to_string(job.stack.size()) + " levels of the stack file");
        job.levelCount = static_cast<int>(job.stack.size());
        job.givenStack = true;
    }
    if (job.levelCount <= job.baseCount)
        throw UsageError("the level count (" + std::to_string(job.levelCount) +
                         ") must exceed the base level count (" + std::to_string(job.baseCount) + ")");
    if (job.givenStack && job.baseCount > 0) {
        // The colour meshes print every base level in the base colour whatever the stack says;
        // a stack that differs would make the swap list and the meshes disagree.
        std::vector<Orvanes::LayerEntry> palette;
        for (const NamedColour& colour : job.palette) palette.push_back(colour.entry);
        const Orvanes::LayerEntry base = Orvanes::PhotosRelief::BaseColour(palette);
        // The library's sort leaves the order of equal colours open: with several opacities
        // of the base colour either may print the base.
        for (const Orvanes::LayerEntry& entry : palette)
            if (entry.head<3>() == base.head<3>() && entry != base)
                throw UsageError("the palette holds its base colour (the one with the least blue, then green, then red) "
                                 "with several opacities; keep one");
        for (int k = 0; k < job.baseCount; ++k)
            if (job.stack[static_cast<size_t>(k)] != base)
                throw UsageError("stack level " + std::to_string(k + 1) + " (" +
                                 ColourText(job.stack[static_cast<size_t>(k)]) + ") is a base level and must be " +
                                 ColourText(base) + ", the palette colour with the least blue, then green, then red");
    }
    const std::string plan = args.Text("plan", "colours");
    if (plan != "colours" && plan != "edges") throw UsageError("--plan must be colours or edges, not '" + plan + "'");
    job.planByEdges = plan == "edges";
    job.invert = args.Has("invert");
    job.gamma = args.PositiveNumber("gamma", 1.0, 10.0);
    if (job.baseCount == 0 && job.grid.firstLayerHeight < job.grid.layerHeight)
        throw UsageError("with no base levels the first layer must be at least as thick as the others "
                         "(--first-layer-height >= --layer-height)");
    return job;
}

void RunReliefJob(ReliefJob& job, const ImageFile& photo, const CommonSettings& settings, OutputFolder& folder,
                  TerminalProgress& progress, Json& json)
{
    std::vector<Orvanes::LayerEntry> palette;
    std::vector<std::pair<Orvanes::LayerEntry, std::string>> names;
    for (const NamedColour& colour : job.palette) {
        palette.push_back(colour.entry);
        names.emplace_back(colour.entry, colour.name);
    }
    const auto wants = [&](const char* name) { return settings.outputs.count(name) != 0; };
    const bool wantsVoxels = wants("colours") || wants("3mf");
    // The colour plan and the preview feed the colour files and the report: a quiet run that
    // writes only the bare body needs neither.
    const bool needsColours = !settings.quiet || settings.json || wantsVoxels || wants("preview") ||
                              wants("fidelity") || wants("stack") || wants("swaps") || wants("body-3mf");

    StageClock clock;
    Orvanes::PhotosRelief relief(HeightPhoto(photo.bytes, job.invert, job.gamma), job.size.width, job.size.height,
                                 job.size.pixelSize, &progress, palette);
    clock.Lap("decoding and resampling the photo");
    const cv::Mat keep = WorkingKeep(job.keep, cv::Size(relief.WidthPx(), relief.HeightPx()));
    if (!job.givenStack && job.planByEdges) {
        // The layer analysis prints its fit to standard output, which belongs to the tool's own
        // report: the fit is dropped, or with --verbose shown on standard error beside a summary.
        StdoutDiversion diversion(!settings.verbose || settings.json, !settings.verbose);
        relief.GetAutoLayerInfo(job.stack, job.baseCount, job.levelCount);
        clock.Lap("layer analysis");
    } else if (!job.givenStack && needsColours) {
        progress.Begin("planning colours");
        job.stack = Orvanes::PlanStack(relief, job.baseCount, job.levelCount, keep);
        progress.End();
        clock.Lap("planning colours");
    }
    // Unplanned, the stack still has its levels: the body's heights follow their count.
    const int stackSize = job.stack.empty() ? job.levelCount : static_cast<int>(job.stack.size());

    ColourError error;
    if (needsColours) {
        const cv::Mat preview = relief.UpdatePreviewImage(job.stack, job.baseCount, 0.0, 0.0, 0.0);
        const cv::Mat shown = PaintLeftOut(preview, keep);
        if (wants("preview")) folder.Write("preview.png", "preview", EncodePng(shown));
        clock.Lap("preview");
        // A CIEDE2000 per working pixel costs as much as the meshes of a small print: only when reported.
        const bool reportsError = !settings.quiet || settings.json || wants("fidelity");
        const cv::Mat errors = reportsError ? Orvanes::ColourErrorMap(relief.ColourImage(), preview) : cv::Mat();
        error = MeasureColourError(errors, keep);
        if (wants("fidelity"))
            folder.Write("fidelity.png", "fidelity", EncodePng(FidelityImage(relief.ColourImage(), shown, errors)));
        clock.Lap("colour error and fidelity image");
        if (!settings.quiet)
            std::fprintf(stderr, "orvane: colour error of the preview against the photo (CIEDE2000): mean %.1f, "
                         "95th percentile %.1f\n", error.mean, error.p95);
        if (wants("stack") && folder.InputAt("stack.txt").empty())
            folder.Write("stack.txt", "stack", StackText(job.stack, job.baseCount));
    }

    const BodyLevels body = SingleBodyLevels(relief.GreyMin(), relief.GreyMax(), stackSize, job.baseCount, job.grid);
    const int printedLayers =
        job.grid.PrintedLayers(BodyTopHeight(body, relief.GreyMax(), relief.GreyMin(), relief.GreyMax()));
    const std::vector<ColourSwap> swaps =
        needsColours ? SwapList(job.stack, job.baseCount, relief.GreyMin(), relief.GreyMax(), job.grid)
                     : std::vector<ColourSwap>();
    if (wants("swaps"))
        folder.Write("swaps.txt", "swaps", SwapListText(swaps, job.grid, stackSize, printedLayers, names));

    if (wants("body") || wants("body-3mf")) {
        Orvanes::OrvaneMesh mesh = relief.GetMesh(body.startLevel, body.endLevel, body.levelHeight, body.baseOffset);
        // Left-out pixels keep the base: the plate that holds the relief together.
        Orvanes::PhotoMeshCreater::LowerHeightMapTops(mesh, keep, job.grid.Top(job.baseCount - 1));
        clock.Lap("body mesh");
        if (!settings.exactMeshes) {
            CutSlivers(mesh, job.grid.Top(printedLayers - 1));
            FillPicture(mesh, relief.WidthPx(), relief.HeightPx(), relief.PixelSize());
        }
        PreparePrint({&mesh}, settings.exactMeshes);
        clock.Lap("body: merging and placing");
        if (wants("body-3mf") && !swaps.empty()) {
            // One nozzle: the first colour loaded, then each swap as the slicer's colour change.
            ThreeMfProject project{"relief", {}, {}, job.grid.layerHeight, job.grid.firstLayerHeight};
            project.parts.push_back(PartOf("relief", &mesh, swaps.front().colour, 1));
            for (size_t k = 1; k < swaps.size(); ++k) project.colourChanges.push_back(ChangeTo(swaps[k].top, swaps[k].colour));
            folder.Write("relief-body.3mf", "3mf", ThreeMfPackage(project));
            clock.Lap("body: 3MF");
        }
        if (wants("body")) WriteStl(folder, "relief.stl", std::move(mesh));
        clock.Lap("body: STL");
    }

    if (wantsVoxels) {
        std::vector<Orvanes::OrvaneMesh> meshes;
        std::vector<Orvanes::LayerEntry> colours;
        progress.Begin("colour meshes");
        MeshColours(relief, job, keep, settings.exactMeshes, progress, meshes, colours);
        progress.End();
        if (!settings.exactMeshes) PlacePrint(Pointers(meshes), ViewedFrom::kAbove);
        clock.Lap("colour meshes, merged and placed");
        ThreeMfProject project{"relief", {}, {}, job.grid.layerHeight, job.grid.firstLayerHeight};
        const auto label = [&](size_t k) { return "colour-" + std::to_string(k + 1) + "-" + HexOf(colours[k]); };
        for (size_t k = 0; k < meshes.size(); ++k) {
            std::string name;
            for (const auto& [entry, entryName] : names)
                if (entry == colours[k]) name = entryName;
            // A palette colour the stack never uses comes back without triangles: nothing to print.
            // One extruder for each colour printed.
            if (!meshes[k].faces.empty())
                project.parts.push_back(PartOf(name.empty() ? label(k) : name + " (" + HexOf(colours[k]) + ")",
                                               &meshes[k], colours[k], static_cast<int>(project.parts.size()) + 1));
        }
        if (wants("3mf")) folder.Write("relief.3mf", "3mf", ThreeMfPackage(project));
        clock.Lap("colours: 3MF");
        // The project is written: each mesh can go to its STL file without a copy.
        for (size_t k = 0; k < meshes.size() && wants("colours"); ++k)
            if (!meshes[k].faces.empty()) WriteStl(folder, label(k) + ".stl", std::move(meshes[k]));
        clock.Lap("colours: STL");
    }

    json["working_size"] = {{"cols", relief.WidthPx()}, {"rows", relief.HeightPx()}, {"pixel_size", relief.PixelSize()}};
    json["grey_range"] = {relief.GreyMin(), relief.GreyMax()};
    json["base_levels"] = job.baseCount;
    json["stack_given"] = job.givenStack;
    Json& stack = json["stack"] = Json::array();
    for (const Orvanes::LayerEntry& entry : job.stack)
        stack.push_back({{"colour", HexOf(entry)}, {"opacity", double(entry[3])}});
    json["printed_layers"] = printedLayers;
    json["colour_error"] = {{"mean", error.mean}, {"p95", error.p95}};
    Json& swapList = json["swaps"] = Json::array();
    for (const ColourSwap& swap : swaps)
        swapList.push_back({{"layer", swap.layerNumber}, {"from", swap.bottom}, {"to", swap.top},
                            {"colour", HexOf(swap.colour)}, {"opacity", double(swap.colour[3])}});
}

std::vector<OptionSpec> ReliefOptions(const std::string& defaultFolder)
{
    std::vector<OptionSpec> options = {
        {"width", "MM", "printed width in mm (default 100, or from --height and the photo's aspect ratio)"},
        {"height", "MM", "printed height in mm (default: from the width and the photo's aspect ratio)"},
        {"pixel-size", "MM", "edge of one working pixel in mm (default 0.2)"},
        {"colour", "RRGGBB[:A|@TD]", "a palette colour, hex red-green-blue, with opacity A from 0 to 1 (default 0.25) "
                                     "or transmission distance TD in mm; repeat", true},
        {"palette", "FILE", "palette file: one colour per line, optionally followed by a name"},
        {"levels", "N", "printed levels in the whole stack, base included (default 20, at most 512)"},
        {"base-levels", "N", "levels under the relief, in the palette colour with the least blue, then green, then "
                               "red (default 3)"},
        {"layer-height", "MM", "height of one printed level in mm (default 0.1)"},
        {"first-layer-height", "MM", "height of the first printed layer in mm (default 0.2)"},
        {"stack", "FILE", "use this layer stack (a stack.txt from an earlier run) instead of the proposal"},
        {"plan", "HOW", "how the stack is proposed: colours (the filaments whose preview is closest to the photo, "
                        "default) or edges (from where the picture's edges cluster)"},
        {"invert", "", "heights follow darkness: dark areas high, bright ones low"},
        {"gamma", "G", "bend the height curve: grey g counts as 255 (g / 255)^G before the levels are assigned "
                       "(default 1; after --invert)"},
        {"accept-damaged", "", "use a photo the decoder finds cut short or corrupt, as far as it reads"},
        {"border", "MM", "a flat margin of the base plate, in the base colour, this wide around the picture"},
    };
    for (OptionSpec& entry : FramingOptions()) options.push_back(entry);
    for (OptionSpec& entry : CommonOptions(defaultFolder, "preview, fidelity, body, body-3mf, colours, 3mf, stack, swaps",
                                           "preview, fidelity, body-3mf, 3mf, stack, swaps"))
        options.push_back(entry);
    return options;
}

int RunRelief(int argc, char** argv, int first)
{
    Arguments args("relief", "relief PHOTO [options]",
                   "Turns a photo into a layered colour relief: proposes the colour stack (unless --stack is\n"
                   "given), renders a preview, and writes preview.png, fidelity.png, stack.txt,\n"
                   "relief-body.3mf (the single body, printed with one nozzle and the filament swaps of\n"
                   "swaps.txt) and relief.3mf (one part per colour, for several nozzles). On request (--only):\n"
                   "relief.stl, the single body alone, and colour-*.stl, one per palette colour. Every mesh\n"
                   "stands on z = 0 with the picture upright seen from above. Lengths are in millimetres.",
                   {"PHOTO"}, ReliefOptions("orvane-relief"));
    if (!args.Parse(argc, argv, first)) return 0;
    const CommonSettings settings = ReadCommonSettings(args, "orvane-relief", kReliefOutputs, kReliefDefaults);
    FramedPhoto framed =
        FramePhoto(args, ReadImageFile(args.Positional(0), "photo", args.Has("accept-damaged")), 100.0, 0.2);
    ReliefJob job = ReadReliefJob(args, framed.photo);
    job.keep = framed.keep;
    if (args.Has("border")) AddBorder(job, framed, args.Length("border", 0.0, kMaxSizeMm));
    const ImageFile& photo = framed.photo;
    if (!job.keep.empty() && job.baseCount == 0)
        throw UsageError("a cut-out background needs a base to hold the relief together: give --base-levels 1 or "
                         "more, or --background keep");

    OutputFolder folder(settings.folder);
    std::vector<std::string> inputs = {args.Positional(0)};
    if (args.Has("palette")) inputs.push_back(args.Text("palette", ""));
    folder.ProtectInputs(inputs);
    std::vector<std::string> names;
    for (const auto& [output, name] : {std::pair<const char*, const char*>{"preview", "preview.png"},
                                       {"body", "relief.stl"}, {"body-3mf", "relief-body.3mf"}, {"3mf", "relief.3mf"}, {"swaps", "swaps.txt"},
                                       {"stack", "stack.txt"}, {"fidelity", "fidelity.png"}})
        if (settings.outputs.count(output)) names.push_back(name);
    RefuseOverwritingInputs(folder, names);
    if (args.Has("stack")) {
        // The stack given may be the stack.txt of this very folder, edited: it stays as it is.
        inputs.push_back(args.Text("stack", ""));
        folder.ProtectInputs(inputs);
        names.erase(std::remove(names.begin(), names.end(), "stack.txt"), names.end());
        RefuseOverwritingInputs(folder, names);
    }
    std::fputs(framed.warning.c_str(), stderr);
    WarnBelowNozzle(args, {{"pixel-size", kFinestReliefPixelMm}, {"layer-height", kFinestLayerMm},
                           {"first-layer-height", kFinestLayerMm}});
    TerminalProgress progress(!settings.quiet && StderrIsTerminal());
    Json json = {{"command", "relief"}, {"folder", folder.Path()}};
    RunReliefJob(job, photo, settings, folder, progress, json);
    StageClock clock;
    if (args.Has("mask")) inputs.push_back(args.Text("mask", ""));
    WriteManifest(folder, "relief", argc, argv, first, inputs);
    folder.Commit();
    clock.Lap("manifest, files put in place");
    JsonFiles(json, folder);
    PrintSummary(settings, folder, json);
    return 0;
}

}  // namespace orvane_cli
