#include "Colours.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <orvane/StackPlanner.h>

#include "Arguments.h"

namespace orvane_cli {

namespace {

// A colour file is a few lines a person wrote: anything larger is not one, and reading it
// whole first keeps a device or a pipe from blocking or growing without end.
constexpr std::uintmax_t kMaxColourFileBytes = std::uintmax_t(1) << 20;
constexpr int kMaxColourFileLines = 10000;

std::string ReadColourText(const std::string& path)
{
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error || !std::filesystem::exists(status))
        throw UsageError("cannot read the colour file '" + path + "': " +
                         (error ? error.message() : std::string("no such file")));
    if (!std::filesystem::is_regular_file(status)) throw UsageError("the colour file '" + path + "' is not a file");
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size > kMaxColourFileBytes)
        throw UsageError("the colour file '" + path + "' is " + (error ? error.message() : std::to_string(size) + " bytes") +
                         "; at most 1 MiB is read");
    std::ifstream file(path, std::ios::binary);
    if (!file) throw UsageError("cannot read the colour file '" + path + "': " + std::strerror(errno));
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) throw UsageError("cannot read the colour file '" + path + "'");
    return text.str();
}

// Lines end at LF, CRLF or a bare CR; a UTF-8 byte-order mark before the first is skipped.
std::vector<std::string> SplitLines(std::string text)
{
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    std::vector<std::string> lines(1);
    for (size_t k = 0; k < text.size(); ++k) {
        if (text[k] == '\r' || text[k] == '\n') {
            if (text[k] == '\r' && k + 1 < text.size() && text[k + 1] == '\n') ++k;
            lines.emplace_back();
        } else {
            lines.back() += text[k];
        }
    }
    if (lines.back().empty()) lines.pop_back();
    return lines;
}

// UTF-8 without control characters (tabs aside): what a name in a 3MF or a message may hold.
bool IsPlainText(const std::string& text)
{
    for (size_t k = 0; k < text.size();) {
        const auto c = static_cast<unsigned char>(text[k]);
        size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (length == 0 || k + length > text.size() || (c < 0x20 && c != '\t') || c == 0x7F) return false;
        for (size_t n = 1; n < length; ++n)
            if ((static_cast<unsigned char>(text[k + n]) >> 6) != 2) return false;
        k += length;
    }
    return true;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

Orvanes::LayerEntry ParseColour(const std::string& text, float defaultOpacity, const std::string& what,
                                double layerHeight)
{
    const std::string bad = what + " '" + text + "' is not a colour: write RRGGBB or RRGGBB:OPACITY (hex red, "
                            "green, blue; opacity from 0 to 1), e.g. ff8800:0.3" +
                            (layerHeight > 0.0 ? ", or RRGGBB@TD (transmission distance in mm, above 0 and at most "
                                                 "100), e.g. b22222@1.2" : "");
    std::string hex = text;
    std::string opacityText;
    if (const size_t colon = hex.find(':'); colon != std::string::npos) {
        opacityText = hex.substr(colon + 1);
        hex.resize(colon);
    }
    std::string distanceText;
    if (const size_t at = hex.find('@'); at != std::string::npos && layerHeight > 0.0) {
        distanceText = hex.substr(at + 1);
        hex.resize(at);
    }
    if (!hex.empty() && hex[0] == '#') hex.erase(0, 1);
    if (hex.size() != 6) throw UsageError(bad);
    int rgb[3];
    for (int k = 0; k < 3; ++k) {
        const int high = HexDigit(hex[2 * k]);
        const int low = HexDigit(hex[2 * k + 1]);
        if (high < 0 || low < 0) throw UsageError(bad);
        rgb[k] = high * 16 + low;
    }
    float opacity = defaultOpacity;
    if (text.find('@') != std::string::npos && layerHeight > 0.0) {
        double distance = 0.0;
        try {
            distance = ParseNumber(distanceText, "transmission distance");
        } catch (const UsageError&) {
            throw UsageError(bad);
        }
        if (!(distance > 0.0 && distance <= 100.0) || text.find(':') != std::string::npos) throw UsageError(bad);
        opacity = Orvanes::LayerOpacity(distance, layerHeight);
    } else if (!opacityText.empty() || text.find(':') != std::string::npos) {
        double value = 0.0;
        try {
            value = ParseNumber(opacityText, "opacity");
        } catch (const UsageError&) {
            throw UsageError(bad);
        }
        if (value < 0.0 || value > 1.0) throw UsageError(bad);
        opacity = static_cast<float>(value);
    }
    Orvanes::LayerEntry entry;
    entry << static_cast<float>(rgb[2]), static_cast<float>(rgb[1]), static_cast<float>(rgb[0]), opacity;
    return entry;
}

std::vector<NamedColour> ReadColourFile(const std::string& path, float defaultOpacity, double layerHeight)
{
    return ParseColourText(ReadColourText(path), path, defaultOpacity, layerHeight);
}

std::vector<NamedColour> ParseColourText(const std::string& text, const std::string& path, float defaultOpacity,
                                         double layerHeight)
{
    const std::vector<std::string> lines = SplitLines(text);
    if (lines.size() > size_t(kMaxColourFileLines))
        throw UsageError("the colour file '" + path + "' has " + std::to_string(lines.size()) + " lines; at most " +
                         std::to_string(kMaxColourFileLines) + " are read");
    std::vector<NamedColour> colours;
    for (int lineNumber = 1; lineNumber <= static_cast<int>(lines.size()); ++lineNumber) {
        const std::string& line = lines[static_cast<size_t>(lineNumber) - 1];
        // Names reach 3MF files and messages: control bytes or broken UTF-8 would corrupt both.
        if (!IsPlainText(line))
            throw UsageError(path + ":" + std::to_string(lineNumber) +
                             ": holds a control character, a NUL or bytes that are not UTF-8");
        std::istringstream words(line);
        std::string word;
        if (!(words >> word) || word[0] == ';') continue;
        NamedColour colour;
        colour.entry = ParseColour(word, defaultOpacity, path + ":" + std::to_string(lineNumber) + ":", layerHeight);
        colour.typed = word;
        std::getline(words >> std::ws, colour.name);
        while (!colour.name.empty() && std::isspace(static_cast<unsigned char>(colour.name.back())))
            colour.name.pop_back();
        // "ffffff 0.125 white" means an opacity written after a space: taken as a name, the
        // colour would silently get the default opacity.
        std::string first;
        std::istringstream(colour.name) >> first;
        char* end = nullptr;
        const double number = std::strtod(first.c_str(), &end);
        if (!first.empty() && *end == '\0' && std::isfinite(number))
            throw UsageError(path + ":" + std::to_string(lineNumber) + ": '" + line +
                             "': a number after the colour; write the opacity after a colon, e.g. " +
                             word.substr(0, word.find(':')) + ":" + first);
        colours.push_back(std::move(colour));
    }
    return colours;
}

std::string HexOf(const Orvanes::LayerEntry& entry)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02x%02x%02x", static_cast<int>(entry[2]) & 255,
                  static_cast<int>(entry[1]) & 255, static_cast<int>(entry[0]) & 255);
    return text;
}

std::string ColourText(const Orvanes::LayerEntry& entry)
{
    // The shortest text that reads back to the same float: 0.3, not 0.300000012.
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, entry[3]);
    return HexOf(entry) + ":" + std::string(text, written.ptr);
}

}  // namespace orvane_cli
