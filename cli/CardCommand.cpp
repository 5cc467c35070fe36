// orvane card: the printable colour card, or a predicted picture or photograph of it.
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "CardJob.h"
#include "PrintFrame.h"
#include "CardModel.h"
#include "CommandSupport.h"
#include "Commands.h"
#include "MeshFiles.h"

namespace orvane_cli {

namespace {

const std::vector<std::string> kCardOutputs = {"materials", "3mf"};

}  // namespace

std::vector<unsigned char> WriteSimulatedCard(const Materials& materials, int cellPixels, OutputFolder& folder,
                                              const std::string& name)
{
    std::vector<unsigned char> png = EncodePng(SimulatedCard(materials, cellPixels));
    folder.Write(name, "card-image", png);
    return png;
}

int RunCard(int argc, char** argv, int first)
{
    std::vector<OptionSpec> options = {
        {"cell-size", "MM", "edge of one card cell in mm (default 2; the card is 72 x 24 cells, its frame included)"},
        {"layer-height", "MM", "height of layers 1 to 5 in mm (default 0.1)"},
        {"last-layer-height", "MM", "height of the sixth, white layer in mm (default 0.1)"},
        MaterialsOption(),
        {"simulate", "", "write only card-simulated.png: the card's 64 x 16 cells, cropped, as the materials' colours "
                         "predict them (what 'orvane translucent --card-as-is' reads)"},
        {"photo", "", "with --simulate: write card-photo.jpg (.png when the seed picks no JPEG) instead, a predicted photo of "
                      "the whole card as a camera sees it (turned, tilted, unevenly lit, noisy; what 'orvane translucent' "
                      "reads)"},
        {"seed", "N", "with --photo: the photo's pose, light and noise (default 1)"},
        {"ideal", "", "with --photo: square on, whole-pixel cells, even white light, no noise, written as "
                      "card-photo.png (the seed still turns, mirrors and places the card)"},
        {"cell-pixels", "N", "pixels per cell edge of the simulated card (default 10), or with --photo at the card's "
                             "centre (default 16 to 20 from the seed, 12 with --ideal)"},
    };
    for (OptionSpec& entry : CommonOptions("orvane-card", "materials, 3mf")) options.push_back(entry);
    Arguments args("card", "card [options]",
                   "Writes the colour card for the translucent road as card-material-0..3.stl and card.3mf: 16 x 64\n"
                   "cells of six layers in a frame the tool finds in a photo (a dark border, a white ring with\n"
                   "a mark in one corner and a black patch). Print it like the translucent print and\n"
                   "photograph it for 'orvane translucent':\n"
                   "  - light behind the card (a window, a light box or a screen showing white), no flash;\n"
                   "  - from the side you will view the print from: the smooth face printed on the bed;\n"
                   "  - camera square on, the whole card in the picture, filling at least half of the frame,\n"
                   "    at least 8 pixels per cell, and for a JPEG (a phone's photo) about 32 for the colours\n"
                   "    to read within CIEDE2000 2 (a 4000-pixel-wide photo with the card across 60 % of it\n"
                   "    gives 33); any turn is fine.\n"
                   "With --simulate, writes a predicted photo of the card instead, for trying the road without\n"
                   "a printer.",
                   {}, options);
    if (!args.Parse(argc, argv, first)) return 0;
    const CommonSettings settings = ReadCommonSettings(args, "orvane-card", kCardOutputs);
    // Options the chosen output cannot honour are mistakes, not wishes to ignore.
    const bool simulate = args.Has("simulate"), photo = args.Has("photo");
    for (const char* meshOption : {"only", "cell-size", "layer-height", "last-layer-height"})
        if (simulate && args.Has(meshOption))
            throw UsageError(std::string("--") + meshOption + " does not apply to --simulate, which writes only "
                             "a picture of the card");
    if (!simulate && args.Has("cell-pixels")) throw UsageError("--cell-pixels applies only to --simulate");
    if (!simulate && photo) throw UsageError("--photo applies only to --simulate");
    for (const char* photoOption : {"seed", "ideal"})
        if (!photo && args.Has(photoOption))
            throw UsageError(std::string("--") + photoOption + " applies only to --simulate --photo");
    const double cellSize = args.Length("cell-size", 2.0, kMaxStepMm);
    const double layerHeight = args.Length("layer-height", 0.1, kMaxStepMm);
    const double lastLayerHeight = args.Length("last-layer-height", 0.1, kMaxStepMm);
    const int cellPixels = args.Integer("cell-pixels", photo ? 12 : 10, photo ? 4 : 1, 200);
    const int seed = args.Integer("seed", 1, 0, 2147483647);
    const Materials materials = ReadMaterials(args);
    WarnBelowNozzle(args, {{"cell-size", kFinestColourPixelMm}, {"layer-height", kFinestLayerMm},
                           {"last-layer-height", kFinestLayerMm}});

    OutputFolder folder(settings.folder);
    Json json = {{"command", "card"}, {"folder", folder.Path()}};
    if (photo) {
        Orvanes::CardPhotoSettings shot = Orvanes::RandomCardPhotoSettings(static_cast<uint64_t>(seed));
        if (args.Has("ideal")) {
            Orvanes::CardPhotoSettings ideal;
            ideal.quarterTurns = shot.quarterTurns;
            ideal.mirrored = shot.mirrored;
            ideal.margin = shot.margin;
            ideal.placement = shot.placement;
            ideal.background = shot.background;
            shot = ideal;
        }
        if (args.Has("cell-pixels") || args.Has("ideal")) shot.cellPixels = cellPixels;
        const Orvanes::SimulatedCardPhoto simulated = Orvanes::SimulateCardPhoto(EntriesOf(materials), shot);
        if (simulated.encoded.empty())
            folder.Write("card-photo.png", "card-image", EncodePng(simulated.photo));
        else
            folder.Write("card-photo.jpg", "card-image", simulated.encoded);
    } else if (simulate) {
        WriteSimulatedCard(materials, cellPixels, folder, "card-simulated.png");
    } else {
        TerminalProgress progress(!settings.quiet && StderrIsTerminal());
        WriteCardMeshes(materials, cellSize, layerHeight, lastLayerHeight, settings, folder, progress);
    }
    WriteManifest(folder, "card", argc, argv, first, {});
    folder.Commit();
    JsonFiles(json, folder);
    PrintSummary(settings, folder, json);
    return 0;
}

void WriteCardMeshes(const Materials& materials, double cellSize, double layerHeight, double lastLayerHeight,
                     const CommonSettings& settings, OutputFolder& folder, TerminalProgress& progress)
{
    progress.Begin("card meshes");
    std::vector<Orvanes::OrvaneMesh> meshes = CardMeshes(materials, cellSize, layerHeight, lastLayerHeight, &progress);
    progress.End();
    PreparePrint(Pointers(meshes), settings.exactMeshes, ViewedFrom::kBelow);
    // The card's layers are layerHeight thick from the bed up; only the top one may differ.
    ThreeMfProject project{"card", {}, {}, layerHeight, layerHeight};
    for (size_t k = 0; k < meshes.size(); ++k) {
        if (settings.outputs.count("materials"))
            WriteStl(folder, "card-material-" + std::to_string(k) + ".stl", meshes[k]);
        project.parts.push_back(PartOf(materials[k].name + " (material " + std::to_string(k) + ")", &meshes[k],
                                       materials[k].entry, static_cast<int>(k) + 1));
    }
    if (settings.outputs.count("3mf")) folder.Write("card.3mf", "3mf", ThreeMfPackage(project));
}

}  // namespace orvane_cli
