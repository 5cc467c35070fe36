// Colours as a person types them: hex red, green, blue with an optional opacity, alone on the
// command line or one per line in a palette or stack file.
#pragma once
#include <string>
#include <vector>

#include <orvane/PhotosRelief.h>

namespace orvane_cli {

struct NamedColour {
    Orvanes::LayerEntry entry;  // blue, green, red (0..255), opacity
    std::string name;           // free text from a file line; empty on the command line
    std::string typed = {};     // the colour as written in a file (a TD stays a TD)
};

// "RRGGBB" or "RRGGBB:OPACITY", with an optional leading '#'; opacity from 0 to 1, default
// defaultOpacity. With a layer height, also "RRGGBB@TD": a filament that hides what lies below
// at TD mm (above 0, at most 100), one layer of which stops layerHeight / TD of the light.
// Throws UsageError naming what for anything else.
Orvanes::LayerEntry ParseColour(const std::string& text, float defaultOpacity, const std::string& what,
                                double layerHeight = 0.0);

// One colour per line: the colour word, then an optional name. Empty lines and lines whose
// first non-blank character is ';' are skipped. Throws UsageError for an unreadable file or a
// malformed line (naming file and line).
std::vector<NamedColour> ReadColourFile(const std::string& path, float defaultOpacity, double layerHeight = 0.0);
// The same for a colour file's text already read; path names it in messages.
std::vector<NamedColour> ParseColourText(const std::string& text, const std::string& path, float defaultOpacity,
                                         double layerHeight = 0.0);

// "rrggbb" of an entry (lower-case hex, red first).
std::string HexOf(const Orvanes::LayerEntry& entry);
// "rrggbb:opacity": the form ParseColour reads back to the same four floats.
std::string ColourText(const Orvanes::LayerEntry& entry);

}  // namespace orvane_cli
