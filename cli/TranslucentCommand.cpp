// orvane translucent CARD PHOTO: the translucent colour print, matched against a photographed
// colour card.
#include <algorithm>
#include <cstdio>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <orvane/MeshMerging.h>
#include <orvane/PhotoMeshCreater.h>
#include <orvane/PhotosTranslucent.h>

#include "BothEnds.h"
#include "CardScan.h"
#include "Commands.h"
#include "MeshFiles.h"
#include "PhotoFraming.h"
#include "PrintFrame.h"
#include "TranslucentJob.h"

namespace orvane_cli {

namespace {

const std::vector<std::string> kTranslucentOutputs = {"preview", "materials", "body", "3mf"};

}  // namespace

std::vector<OptionSpec> TranslucentOptions(const std::string& defaultFolder)
{
    std::vector<OptionSpec> options = {
        {"width", "MM", "printed width in mm (default 100, or from --height and the photo's aspect ratio)"},
        {"height", "MM", "printed height in mm (default: from the width and the photo's aspect ratio)"},
        {"pixel-size", "MM", "edge of one working pixel in mm (default 0.4)"},
        {"contrast", "C", "contrast strength from 0 (unchanged) to 1 (steepest) (default 0)"},
        {"brightness", "B", "brightness shift from -1 to 1 (default 0)"},
        {"auto-contrast", "", "search the contrast strength automatically (instead of --contrast/--brightness)"},
        {"min-layers", "N", "layers where the picture is brightest, six colour layers included (default 8, >= 6)"},
        {"max-layers", "N", "layers where the picture is darkest (default 16, >= --min-layers)"},
        {"layer-height", "MM", "layer height in mm (default 0.1)"},
        {"last-layer-height", "MM", "height of the sixth colour layer, the white one, in mm (default 0.1)"},
        MaterialsOption(),
        {"accept-damaged", "", "use a card or photo the decoder finds cut short or corrupt, as far as it reads"},
        {"card-as-is", "", "CARD is an image of the card's 64 x 16 cells alone, already cropped and turned upright "
                           "(as 'orvane card --simulate' writes it): read it as it is instead of finding the card"},
    };
    for (OptionSpec& entry : FramingOptions()) options.push_back(entry);
    for (OptionSpec& entry : CommonOptions(defaultFolder, "preview, materials, body, 3mf")) options.push_back(entry);
    return options;
}

TranslucentJob ReadTranslucentJob(const Arguments& args, const ImageFile& card, const ImageFile& photo)
{
    TranslucentJob job;
    if (args.Has("card-as-is") && (card.size.width < 64 || card.size.height < 16))
        throw UsageError("the card image is " + std::to_string(card.size.width) + " x " +
                         std::to_string(card.size.height) + " pixels; a card of 64 x 16 cells needs at least 64 x 16");
    job.size = ResolvePrintSize(args, photo.size, 100.0, 0.4);
    // The photo is reduced to min(cols^2, 256) colours, which needs at least that many pixels.
    const double colours = std::min(double(job.size.cols) * job.size.cols, 256.0);
    if (colours > double(job.size.cols) * job.size.rows)
        throw UsageError("the working image of " + std::to_string(job.size.cols) + " x " +
                         std::to_string(job.size.rows) + " pixels is too low for its width; use a smaller --pixel-size");
    job.autoContrast = args.Has("auto-contrast");
    if (job.autoContrast && (args.Has("contrast") || args.Has("brightness")))
        throw UsageError("--auto-contrast finds the contrast itself; leave out --contrast and --brightness");
    job.contrast = args.Number("contrast", 0.0);
    if (job.contrast < 0.0 || job.contrast > 1.0) throw UsageError("--contrast must lie between 0 and 1");
    job.brightness = args.Number("brightness", 0.0);
    if (job.brightness < -1.0 || job.brightness > 1.0) throw UsageError("--brightness must lie between -1 and 1");
    job.minLayers = args.Integer("min-layers", 8, 6, 10000);
    job.maxLayers = args.Integer("max-layers", std::max(16, job.minLayers), 6, 10000);
    if (job.maxLayers < job.minLayers)
        throw UsageError("--max-layers (" + std::to_string(job.maxLayers) + ") must not be below --min-layers (" +
                         std::to_string(job.minLayers) + ")");
    job.layerHeight = args.Length("layer-height", 0.1, kMaxStepMm);
    job.lastLayerHeight = args.Length("last-layer-height", 0.1, kMaxStepMm);
    job.materials = ReadMaterials(args);
    return job;
}

void RunTranslucentJob(const TranslucentJob& job, const ImageFile& card, const ImageFile& photo,
                       const CommonSettings& settings, OutputFolder& folder, TerminalProgress& progress,
                       Json& json)
{
    const auto wants = [&](const char* name) { return settings.outputs.count(name) != 0; };
    StageClock clock;
    progress.Begin("matching colours");
    Orvanes::PhotosTranslucent translucent(card.bytes, photo.bytes, job.size.width, job.size.height,
                                           job.size.pixelSize, &progress);
    progress.End();
    clock.Lap("decoding, resampling and matching colours");
    cv::Mat preview;
    float contrast = static_cast<float>(job.contrast);
    float brightness = static_cast<float>(job.brightness);
    if (job.autoContrast) {
        progress.Begin("automatic contrast");
        preview = translucent.AutoContrast(contrast, brightness);
        progress.End();
    } else {
        preview = translucent.UpdatePreviewImage(job.contrast, job.brightness);
    }
    clock.Lap(job.autoContrast ? "automatic contrast" : "contrast");
    const cv::Mat keep = WorkingKeep(job.keep, preview.size());
    if (wants("preview")) folder.Write("preview.png", "preview", EncodePng(PaintLeftOut(preview, keep)));
    if (wants("materials") || wants("body") || wants("3mf")) {
        progress.Begin("meshes");
        // GetMeshes' five meshes, each merged as soon as it is made unless exact, shared by two
        // cores (the helper starts with the body, the largest); only this thread draws the bar.
        const cv::Mat grid = translucent.VoxelGrid(keep);
        std::vector<Orvanes::OrvaneMesh> meshes(5);
        const auto make = [&](Orvanes::PhotosProgressBar* reporter, size_t k) {
            if (k == 4) {
                meshes[k] = translucent.BodyMesh(job.minLayers, job.maxLayers, job.layerHeight, keep);
                if (!settings.exactMeshes) FillPicture(meshes[k], preview.cols, preview.rows, translucent.PixelSize());
            } else {
                const int label = static_cast<int>(k);
                meshes[k] = Orvanes::PhotoMeshCreater(reporter).CreateMeshFromVox(
                    grid, translucent.PixelSize(), job.layerHeight, job.lastLayerHeight, label, 20 * label, 20 * label + 20);
            }
            if (!settings.exactMeshes) meshes[k] = Orvanes::MergeCoplanarFaces(meshes[k]);
            if (reporter) reporter->SetProgress(20 * static_cast<int>(k) + 20);
        };
        FromBothEnds(meshes.size(), [&](size_t k) { make(&progress, k); }, [&](size_t k) { make(nullptr, k); });
        progress.End();
        if (!settings.exactMeshes) PlacePrint(Pointers(meshes), ViewedFrom::kBelow);
        clock.Lap("meshes, merged and placed");
        // Layers are layerHeight thick from the bed up; only the top colour layer may differ.
        ThreeMfProject project{"translucent", {}, {}, job.layerHeight, job.layerHeight};
        for (size_t k = 0; k < meshes.size(); ++k) {
            const bool isBody = k == 4;
            // The body is printed in the white material, behind the colour layers: material k is
            // on extruder k + 1, and so a material the picture never uses keeps its extruder.
            const int materialIndex = isBody ? 3 : static_cast<int>(k);
            const NamedColour& material = job.materials[static_cast<size_t>(materialIndex)];
            project.parts.push_back(PartOf(isBody ? "body (" + material.name + ")"
                                                  : material.name + " (material " + std::to_string(k) + ")",
                                           &meshes[k], material.entry, materialIndex + 1));
        }
        if (wants("3mf")) folder.Write("translucent.3mf", "3mf", ThreeMfPackage(project));
        clock.Lap("3MF");
        // The project is written: each mesh can go to its STL file without a copy. A material the
        // picture never uses has no triangles: no empty file (nor part).
        for (size_t k = 0; k < meshes.size(); ++k)
            if (!meshes[k].faces.empty() && (k == 4 ? wants("body") : wants("materials")))
                WriteStl(folder, k == 4 ? "body.stl" : "material-" + std::to_string(k) + ".stl", std::move(meshes[k]));
    }
    json["working_size"] = {{"cols", preview.cols}, {"rows", preview.rows}, {"pixel_size", translucent.PixelSize()}};
    json["photo_colours"] = translucent.QuantPalette().rows;
    json["auto_contrast"] = job.autoContrast;
    json["contrast"] = double(contrast);
    json["brightness"] = double(brightness);
}

int RunTranslucent(int argc, char** argv, int first)
{
    Arguments args("translucent", "translucent CARD PHOTO [options]",
                   "Turns a photo into a translucent colour print: reduces it to at most 256 colours, matches\n"
                   "each against the photographed colour card CARD (see 'orvane card'), and writes preview.png,\n"
                   "material-0..3.stl (six colour layers), body.stl (thicker where darker) and translucent.3mf.\n"
                   "CARD is a photo of the whole printed card: the tool finds the card in it (any turn, mirrored\n"
                   "or not, seen at an angle), evens out the light with the card's white ring and says on\n"
                   "standard error what it found ('orvane card-scan' shows it). The print is made to be seen\n"
                   "like the card: the light comes from behind the body, the viewer looks at the smooth face\n"
                   "printed on the bed. Lengths are in millimetres.",
                   {"CARD", "PHOTO"}, TranslucentOptions("orvane-translucent"));
    if (!args.Parse(argc, argv, first)) return 0;
    const CommonSettings settings = ReadCommonSettings(args, "orvane-translucent", kTranslucentOutputs);
    ImageFile card = ReadImageFile(args.Positional(0), "card", args.Has("accept-damaged"));
    const FramedPhoto framed =
        FramePhoto(args, ReadImageFile(args.Positional(1), "photo", args.Has("accept-damaged")), 100.0, 0.4);
    const ImageFile& photo = framed.photo;
    TranslucentJob job = ReadTranslucentJob(args, card, photo);
    job.keep = framed.keep;
    Json json = {{"command", "translucent"}, {"folder", settings.folder}};
    if (!args.Has("card-as-is")) {
        const ScannedCard scanned = ScanCard(card, args.Positional(0), FinderOptions(job.materials));
        if (!settings.quiet) ReportScan(scanned.found);
        JsonScan(json["card"], scanned.found);
        card = PngImageFile(scanned.found.card);
    }

    OutputFolder folder(settings.folder);
    folder.ProtectInputs({args.Positional(0), args.Positional(1)});
    std::vector<std::string> names;
    if (settings.outputs.count("preview")) names.push_back("preview.png");
    if (settings.outputs.count("body")) names.push_back("body.stl");
    if (settings.outputs.count("3mf")) names.push_back("translucent.3mf");
    for (int k = 0; k < 4 && settings.outputs.count("materials"); ++k)
        names.push_back("material-" + std::to_string(k) + ".stl");
    RefuseOverwritingInputs(folder, names);
    std::fputs(framed.warning.c_str(), stderr);
    WarnBelowNozzle(args, {{"pixel-size", kFinestColourPixelMm}, {"layer-height", kFinestLayerMm},
                           {"last-layer-height", kFinestLayerMm}});
    TerminalProgress progress(!settings.quiet && StderrIsTerminal());
    RunTranslucentJob(job, card, photo, settings, folder, progress, json);
    std::vector<std::string> inputs = {args.Positional(0), args.Positional(1)};
    if (args.Has("mask")) inputs.push_back(args.Text("mask", ""));
    WriteManifest(folder, "translucent", argc, argv, first, inputs);
    folder.Commit();
    JsonFiles(json, folder);
    PrintSummary(settings, folder, json);
    return 0;
}

}  // namespace orvane_cli
