// orvane demo: both roads on the built-in sample photo, with a simulated card standing in for
// a printed and photographed one.
#include <filesystem>
#include <iostream>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "CardJob.h"
#include "Commands.h"
#include "ReliefJob.h"
#include "TranslucentJob.h"

namespace orvane_cli {

namespace {

PrintSize DemoSize(cv::Size image, double width, double pixelSize)
{
    PrintSize size;
    size.width = width;
    size.height = width * image.height / image.width;
    size.pixelSize = pixelSize;
    size.cols = static_cast<int>(size.width / pixelSize);
    size.rows = static_cast<int>(size.height / pixelSize);
    return size;
}

void ListFiles(const OutputFolder& folder)
{
    for (const WrittenFile& file : folder.Files()) {
        std::cout << "  " << file.path;
        if (file.triangles >= 0) std::cout << " (" << file.triangles << " triangles)";
        std::cout << "\n";
    }
}

}  // namespace

int RunDemo(int argc, char** argv, int first)
{
    Arguments args("demo", "demo [FOLDER] [options]",
                   "Runs both roads on the sample photo built into the tool and writes everything into FOLDER\n"
                   "(default orvane-demo): photo.png; relief/ (preview, single-body STL with its filament\n"
                   "swaps, colour STLs, 3MF, stack); card-simulated.png, a predicted photo of the colour card;\n"
                   "translucent/ (preview, material STLs, body, 3MF) matched against that card.",
                   {"[FOLDER]"}, {{"json", "", "print a JSON summary on standard output"}, {"quiet", "", "no progress bar"}});
    if (!args.Parse(argc, argv, first)) return 0;
    const std::string root = args.PositionalCount() ? args.Positional(0) : "orvane-demo";
    const bool json = args.Has("json");
    const bool quiet = args.Has("quiet");
    CheckOutputFolder(root);

    CommonSettings reliefSettings;
    reliefSettings.folder = (std::filesystem::path(root) / "relief").string();
    reliefSettings.outputs = {"preview", "fidelity", "body", "body-3mf", "colours", "3mf", "stack", "swaps"};
    reliefSettings.json = json;
    reliefSettings.quiet = quiet;
    CommonSettings translucentSettings = reliefSettings;
    translucentSettings.folder = (std::filesystem::path(root) / "translucent").string();
    translucentSettings.outputs = {"preview", "materials", "body", "3mf"};

    const ImageFile photo = ImageFromBytes(kSamplePhoto, kSamplePhotoSize, "sample photo");
    OutputFolder top(root);
    top.Write("photo.png", "photo", reinterpret_cast<const char*>(kSamplePhoto), kSamplePhotoSize);
    TerminalProgress progress(!quiet && StderrIsTerminal());
    Json summary = {{"command", "demo"}, {"folder", root}};

    ReliefJob relief;
    relief.size = DemoSize(photo.size, 60.0, 0.3);
    relief.palette = {{ParseColour("000000:1", 1.0f, ""), "black"},
                      {ParseColour("1d3f8c:0.4", 1.0f, ""), "blue"},
                      {ParseColour("e0a526:0.35", 1.0f, ""), "ochre"},
                      {ParseColour("ffffff:0.125", 1.0f, ""), "white"}};
    relief.levelCount = 18;
    relief.baseCount = 3;
    OutputFolder reliefFolder(reliefSettings.folder);
    RunReliefJob(relief, photo, reliefSettings, reliefFolder, progress, summary["relief"]);
    JsonFiles(summary["relief"], reliefFolder);

    // The simulated card stands in for a photographed one.
    const Materials materials = DefaultMaterials();
    const std::vector<unsigned char> cardPng = WriteSimulatedCard(materials, 10, top, "card-simulated.png");
    const ImageFile card = ImageFromBytes(cardPng.data(), cardPng.size(), "simulated card");

    TranslucentJob translucent;
    translucent.size = DemoSize(photo.size, 60.0, 0.3);
    translucent.autoContrast = true;
    translucent.minLayers = 8;
    translucent.maxLayers = 14;
    translucent.materials = materials;
    OutputFolder translucentFolder(translucentSettings.folder);
    RunTranslucentJob(translucent, card, photo, translucentSettings, translucentFolder, progress,
                      summary["translucent"]);
    JsonFiles(summary["translucent"], translucentFolder);
    JsonFiles(summary, top);
    // All three folders or none: the sub-folders first, so a failure leaves no photo.png alone.
    reliefFolder.Commit();
    translucentFolder.Commit();
    top.Commit();

    if (json) {
        std::cout << summary.dump() << std::endl;
    } else {
        std::cout << "demo written to " << root << ":\n";
        ListFiles(top);
        ListFiles(reliefFolder);
        ListFiles(translucentFolder);
        std::cout.flush();
    }
    return 0;
}

}  // namespace orvane_cli
