// orvane card: the printable colour card, or a predicted photograph of it.
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
        {"cell-size", "MM", "edge of one card cell in mm (default 2; the card is 64 x 16 cells)"},
        {"layer-height", "MM", "height of layers 1 to 5 in mm (default 0.1)"},
        {"last-layer-height", "MM", "height of the sixth, white layer in mm (default 0.1)"},
        MaterialsOption(),
        {"simulate", "", "write only card-simulated.png: the card as the materials' colours predict it"},
        {"cell-pixels", "N", "pixels per cell edge of the simulated card (default 10)"},
    };
    for (OptionSpec& entry : CommonOptions("orvane-card", "materials, 3mf")) options.push_back(entry);
    Arguments args("card", "card [options]",
                   "Writes the colour card for the translucent road: 16 x 64 cells of six layers, as\n"
                   "card-material-0..3.stl and card.3mf. Print it like the translucent print, photograph it\n"
                   "against a white light from the side you will view the print from, crop the photo to the\n"
                   "card's edges, turn it so that cell (0, 0) is top left (seen from above, the corner that\n"
                   "lay at the front right of the bed), and give it to 'orvane translucent'. With --simulate,\n"
                   "writes a predicted photo of the card instead, for trying the road without a printer.",
                   {}, options);
    if (!args.Parse(argc, argv, first)) return 0;
    const CommonSettings settings = ReadCommonSettings(args, "orvane-card", kCardOutputs);
    // Options the chosen output cannot honour are mistakes, not wishes to ignore.
    const bool simulate = args.Has("simulate");
    for (const char* meshOption : {"only", "cell-size", "layer-height", "last-layer-height"})
        if (simulate && args.Has(meshOption))
            throw UsageError(std::string("--") + meshOption + " does not apply to --simulate, which writes only "
                             "card-simulated.png");
    if (!simulate && args.Has("cell-pixels")) throw UsageError("--cell-pixels applies only to --simulate");
    const double cellSize = args.Length("cell-size", 2.0, kMaxStepMm);
    const double layerHeight = args.Length("layer-height", 0.1, kMaxStepMm);
    const double lastLayerHeight = args.Length("last-layer-height", 0.1, kMaxStepMm);
    const int cellPixels = args.Integer("cell-pixels", 10, 1, 200);
    const Materials materials = ReadMaterials(args);
    WarnBelowNozzle(args, {{"cell-size", kFinestColourPixelMm}, {"layer-height", kFinestLayerMm},
                           {"last-layer-height", kFinestLayerMm}});

    OutputFolder folder(settings.folder);
    Json json = {{"command", "card"}, {"folder", folder.Path()}};
    if (simulate) {
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
    std::vector<Orvanes::OrvaneMesh> meshes = CardMeshes(cellSize, layerHeight, lastLayerHeight, &progress);
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
