// orvane: photo in, printable files out.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>

#include "Arguments.h"
#include "Commands.h"
#include "LargePages.h"
#include "Terminal.h"

namespace orvane_cli {
namespace {

const char* const kOverview =
    "usage: orvane COMMAND [options]\n"
    "\n"
    "commands:\n"
    "  relief PHOTO         layered colour relief: preview, single-body STL with filament swaps,\n"
    "                       one STL per colour, a coloured 3MF, the colour stack\n"
    "  translucent CARD PHOTO\n"
    "                       translucent colour print matched against a photographed colour card:\n"
    "                       preview, four material STLs and the body, a coloured 3MF\n"
    "  card                 the printable 16 x 64 colour card in its frame (STLs and 3MF), or with\n"
    "                       --simulate a predicted picture or photo of it\n"
    "  card-scan PHOTO      what the tool reads from a photo of the card: the card rectified, and\n"
    "                       the photo with the card's grid drawn over it\n"
    "  palette PHOTO --from FILAMENTS\n"
    "                       the filaments of a list that print the photo best as a relief\n"
    "  demo [FOLDER]        both roads on the built-in sample photo and a simulated card\n"
    "\n"
    "'orvane COMMAND --help' lists a command's options, units and defaults; --version the version.\n";

// Messages from the image library can span lines; a failure is reported on exactly one.
std::string OneLine(const char* message)
{
    std::string text = message;
    std::replace(text.begin(), text.end(), '\r', '\n');
    std::string line;
    for (const char c : Printable(text)) {
        const bool isBreak = c == '\n';
        if (isBreak && (line.empty() || line.back() == ' ')) continue;
        line += isBreak ? ' ' : c;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

int Run(int argc, char** argv)
{
    if (argc < 2) throw UsageError("no command given (try 'orvane --help')");
    const std::string command = argv[1];
    if (command == "-h" || command == "--help" || command == "help") {
        std::cout << kOverview;
        return 0;
    }
    if (command == "--version") {
        std::cout << VersionLine();
        return 0;
    }
    if (command == "relief") return RunRelief(argc, argv, 2);
    if (command == "translucent") return RunTranslucent(argc, argv, 2);
    if (command == "card") return RunCard(argc, argv, 2);
    if (command == "card-scan") return RunCardScan(argc, argv, 2);
    if (command == "demo") return RunDemo(argc, argv, 2);
    if (command == "palette") return RunPalette(argc, argv, 2);
    throw UsageError("unknown command '" + command + "' (try 'orvane --help')");
}

}  // namespace
}  // namespace orvane_cli

int main(int argc, char** argv)
{
    // The tool's only catch: a usage mistake exits 2, any other failure 1, each with one line.
    orvane_cli::UseLargePages(argv);
    try {
        return orvane_cli::Run(argc, argv);
    } catch (const orvane_cli::UsageError& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "orvane: %s\n", orvane_cli::OneLine(e.what()).c_str());
        return 2;
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "orvane: %s\n", orvane_cli::OneLine(e.what()).c_str());
        return 1;
    }
}
