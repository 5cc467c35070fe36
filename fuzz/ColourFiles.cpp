// The tool's palette and stack files: any bytes a person's editor (or an attacker) could save.
// A colour that is read must write back to a text that reads to the same four numbers.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Arguments.h"
#include "Colours.h"
#include "FuzzInput.h"

using namespace orvane_cli;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    orvane_fuzz::FuzzInput in(data, size);
    static const double kLayerHeights[] = {0.0, 0.08, 0.2, 1e-300};
    const double layerHeight = kLayerHeights[in.Byte() % 4];
    const std::vector<uint8_t> bytes = in.Rest();
    const std::string text(bytes.begin(), bytes.end());
    try {
        for (const NamedColour& colour : ParseColourText(text, "fuzz.txt", 0.25f, layerHeight)) {
            if (ParseColour(ColourText(colour.entry), 0.25f, "written") != colour.entry) {
                std::fprintf(stderr, "fuzz: '%s' does not read back\n", ColourText(colour.entry).c_str());
                std::abort();
            }
        }
    } catch (const UsageError&) {
    }
    return 0;
}
