// orvane card-scan PHOTO: what the tool reads from a photographed colour card, for a person to check.
#include <vector>

#include "CardScan.h"
#include "Commands.h"

namespace orvane_cli {

int RunCardScan(int argc, char** argv, int first)
{
    std::vector<OptionSpec> options = {
        MaterialsOption(),
        {"cell-pixels", "N", "pixels per cell edge of card-rectified.png (default 10)"},
        {"accept-damaged", "", "use a photo the decoder finds cut short or corrupt, as far as it reads"},
    };
    for (OptionSpec& entry : CommonOptions("orvane-card-scan", "rectified, found", "all", false))
        options.push_back(entry);
    Arguments args("card-scan", "card-scan PHOTO [options]",
                   "Finds the printed colour card in PHOTO as 'orvane translucent' does and writes what it read:\n"
                   "card-rectified.png, the card's 64 x 16 cells upright with the light evened out (what the\n"
                   "translucent road matches against; 'orvane translucent --card-as-is' takes it), and\n"
                   "card-found.png, the photo with the card's outline and cell grid drawn over it and its\n"
                   "top-left cell ringed. Says on standard error how the card lay in the photo.",
                   {"PHOTO"}, options);
    if (!args.Parse(argc, argv, first)) return 0;
    const CommonSettings settings = ReadCommonSettings(args, "orvane-card-scan", {"rectified", "found"});
    const Materials materials = ReadMaterials(args);
    const int cellPixels = args.Integer("cell-pixels", 10, 1, 100);
    const ImageFile file = ReadImageFile(args.Positional(0), "card", args.Has("accept-damaged"));

    OutputFolder folder(settings.folder);
    folder.ProtectInputs({args.Positional(0)});
    std::vector<std::string> names;
    if (settings.outputs.count("rectified")) names.push_back("card-rectified.png");
    if (settings.outputs.count("found")) names.push_back("card-found.png");
    RefuseOverwritingInputs(folder, names);

    Orvanes::CardFinderOptions finder = FinderOptions(materials);
    finder.cellPixels = cellPixels;
    const ScannedCard scanned = ScanCard(file, args.Positional(0), finder);
    if (!settings.quiet) ReportScan(scanned.found);
    Json json = {{"command", "card-scan"}, {"folder", folder.Path()}};
    JsonScan(json["card"], scanned.found);
    if (settings.outputs.count("rectified"))
        folder.Write("card-rectified.png", "card-image", EncodePng(scanned.found.card));
    if (settings.outputs.count("found"))
        folder.Write("card-found.png", "card-image", EncodePng(DrawScan(scanned.photo, scanned.found)));
    WriteManifest(folder, "card-scan", argc, argv, first, {args.Positional(0)});
    folder.Commit();
    JsonFiles(json, folder);
    PrintSummary(settings, folder, json);
    return 0;
}

}  // namespace orvane_cli
