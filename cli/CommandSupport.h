// What the commands share: reading the images a person names, the physical size and working
// pixel count checks, output selection, and the summary printed at the end.
#pragma once
#include <cstdint>
#include <set>
#include <utility>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "Arguments.h"
#include "Json.h"
#include "OutputFolder.h"
#include "Terminal.h"

namespace orvane_cli {

// An image file as the library takes it: its encoded bytes, plus its decoded size.
struct ImageFile {
    cv::Mat bytes;   // 1 x n, 8-bit
    cv::Size size;   // decoded columns x rows
};

// Reads and test-decodes an image; throws UsageError naming what ("photo", "card") and the
// path when the path names no regular file, and std::runtime_error when the file cannot be
// read, is not a decodable image, or is damaged (cut short, or data the decoder calls
// corrupt) unless acceptDamaged.
// Only regular files of at most kMaxImageFileBytes are read.
ImageFile ReadImageFile(const std::string& path, const std::string& what, bool acceptDamaged);
constexpr std::uintmax_t kMaxImageFileBytes = std::uintmax_t(512) << 20;
// The same for bytes already in memory (the sample photo).
ImageFile ImageFromBytes(const unsigned char* data, std::size_t size, const std::string& what);

// Physical size and the working pixel grid it gives.
struct PrintSize {
    double width = 0.0;
    double height = 0.0;
    double pixelSize = 0.0;
    int cols = 0;  // floor(width / pixelSize)
    int rows = 0;  // floor(height / pixelSize)
};

// --width, --height and --pixel-size, with a missing height (or width) following the image's
// aspect ratio. Throws UsageError for a size that is not positive, or a grid of fewer than 2
// pixels either way or more than kMaxWorkingPixels in all.
PrintSize ResolvePrintSize(const Arguments& args, cv::Size image, double defaultWidth, double defaultPixelSize);
// The single-body relief STL of that many pixels stays within the 32-bit size of the library's
// STL writer (84 + 50 * 4 * (cols * rows - 1) bytes).
constexpr double kMaxWorkingPixels = 10e6;

// Largest printed width or height, and largest pixel, cell or layer size, in mm: beyond these
// a number is a typing slip, and far beyond them the arithmetic leaves the range of int.
constexpr double kMaxSizeMm = 10000.0;
constexpr double kMaxStepMm = 100.0;

// Smallest sizes that still print as intended with a 0.4 mm nozzle, in mm: a relief pixel, a
// colour pixel or card cell (one extrusion wide), a layer.
constexpr double kFinestReliefPixelMm = 0.1;
constexpr double kFinestColourPixelMm = 0.4;
constexpr double kFinestLayerMm = 0.04;
// A number as a person writes it: 200, 0.1, 1e-300.
std::string Plain(double value);

// One "orvane: warning: ..." line on standard error for each option below its finest value.
void WarnBelowNozzle(const Arguments& args, const std::vector<std::pair<std::string, double>>& finest);

// The options every writing command takes, for its option table.
std::vector<OptionSpec> CommonOptions(const std::string& defaultFolder, const std::string& outputs,
                                      const std::string& defaults = "all", bool writesMeshes = true);

struct CommonSettings {
    std::string folder;
    std::set<std::string> outputs;  // the chosen output names
    bool json = false;
    bool quiet = false;
    bool verbose = false;  // list the files written; relief: show the layer analysis' fit
    bool exactMeshes = false;  // the library's meshes as they are, not merged nor placed for printing
};

// The manifest of a run: what was asked (command and arguments as typed), of what (each input's
// size and CRC-32) and what was written (name, kind, bytes, triangles), as orvane-run.json. Write
// it last: the folder puts it in place after every other file of the run, so a folder with a
// manifest holds that run whole.
constexpr const char* kManifestName = "orvane-run.json";
void WriteManifest(OutputFolder& folder, const std::string& command, int argc, char** argv, int first,
                   const std::vector<std::string>& inputs);

// Reads --out, --only (checked against the allowed names; defaultOutputs without it, all when
// empty), --json, --quiet, --verbose and --exact-meshes.
CommonSettings ReadCommonSettings(const Arguments& args, const std::string& defaultFolder,
                                  const std::vector<std::string>& allowedOutputs,
                                  const std::vector<std::string>& defaultOutputs = {});

// Throws UsageError when folder/name, for any of names, is one of the folder's protected inputs.
void RefuseOverwritingInputs(const OutputFolder& folder, const std::vector<std::string>& names);

// Throws UsageError when folder exists and is not a folder, or the nearest existing folder
// above it is not one this user can write into.
void CheckOutputFolder(const std::string& folder);

// The image as PNG bytes; throws std::runtime_error when the image library cannot encode it.
std::vector<unsigned char> EncodePng(const cv::Mat& image);
// The image as an ImageFile of PNG bytes, the form the library takes a picture the tool made in.
ImageFile PngImageFile(const cv::Mat& image);

// The files written, as a JSON array member "files" of the open object.
void JsonFiles(Json& json, const OutputFolder& folder);

// Prints the JSON summary, or with --verbose a plain list of the files written, on standard output.
void PrintSummary(const CommonSettings& settings, const OutputFolder& folder, const Json& json);

}  // namespace orvane_cli
