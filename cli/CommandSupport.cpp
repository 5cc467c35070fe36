#include "CommandSupport.h"

#include <cerrno>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <zlib.h>
#include <orvane/ImageLimits.h>

#include <unistd.h>

namespace orvane_cli {

namespace {

// A JPEG whose data stops before its end marker: the decoder fills the missing part with grey
// and only warns. Markers are walked up to the first scan; entropy-coded data never holds FF D9,
// so the end marker must follow somewhere after it.
bool IsTruncatedJpeg(const cv::Mat& bytes)
{
    const uint8_t* data = bytes.ptr<uint8_t>();
    const size_t size = bytes.total();
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
    size_t at = 2;
    while (at + 4 <= size && data[at] == 0xFF) {
        const uint8_t marker = data[at + 1];
        if (marker == 0xD9) return false;
        if (marker == 0xFF) { ++at; continue; }  // fill byte
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) { at += 2; continue; }
        at += 2 + (size_t(data[at + 2]) << 8 | data[at + 3]);
        if (marker == 0xDA) {
            for (size_t k = at; k + 1 < size; ++k)
                if (data[k] == 0xFF && data[k + 1] == 0xD9) return false;
            return true;
        }
    }
    return true;
}

ImageFile Decode(cv::Mat bytes, const std::string& what, const std::string& origin, bool acceptDamaged)
{
    cv::Mat image;
    std::string warnings;
    // The header first: a few bytes can declare billions of pixels.
    const cv::Size declared = Orvanes::DeclaredImageSize(bytes);
    if (uint64_t(declared.width) * uint64_t(declared.height) > Orvanes::MaxImagePixels())
        throw std::runtime_error("the " + what + " " + origin + " declares " + std::to_string(declared.width) + " x " +
                                 std::to_string(declared.height) + " pixels; at most " +
                                 std::to_string(Orvanes::MaxImagePixels()) + " are read");
    if (!declared.empty()) {
        StderrCapture capture;
        image = cv::imdecode(bytes, cv::IMREAD_COLOR);
        warnings = capture.Text();
    }
    if (image.empty())
        throw std::runtime_error("the " + what + " " + origin + " is not an image the image library can decode");
    // The decoder's own words for broken data; other warnings (colour profiles) pass through.
    const bool damaged = IsTruncatedJpeg(bytes) || warnings.find("Corrupt") != std::string::npos ||
                         warnings.find("Premature end") != std::string::npos;
    if (damaged && !acceptDamaged)
        throw std::runtime_error("the " + what + " " + origin + " is damaged (cut short or corrupt); "
                                 "--accept-damaged uses what can be read");
    std::fputs(Printable(warnings).c_str(), stderr);
    return {bytes, image.size()};
}

}  // namespace

std::string Plain(double value)
{
    std::ostringstream text;
    text << value;
    return text.str();
}

ImageFile ReadImageFile(const std::string& path, const std::string& what, bool acceptDamaged)
{
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status))
        throw UsageError("cannot read the " + what + " '" + path + "': " +
                         (error ? error.message() : std::string("no such file")));
    // A folder or a pipe would block or fail deep in the reading; only plain files are photos.
    if (!std::filesystem::is_regular_file(status))
        throw UsageError("the " + what + " '" + path + "' is not a file");
    const std::uintmax_t fileSize = std::filesystem::file_size(path, error);
    if (error) throw UsageError("cannot read the " + what + " '" + path + "': " + error.message());
    if (fileSize > kMaxImageFileBytes)
        throw UsageError("the " + what + " '" + path + "' is " + std::to_string(fileSize >> 20) +
                         " MiB; at most " + std::to_string(kMaxImageFileBytes >> 20) + " MiB are read");
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read the " + what + " '" + path + "': " + std::strerror(errno));
    std::vector<unsigned char> data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad() || data.size() > kMaxImageFileBytes)
        throw std::runtime_error("cannot read the " + what + " '" + path + "'");
    cv::Mat bytes(1, static_cast<int>(data.size()), CV_8U);
    if (!data.empty()) std::memcpy(bytes.data, data.data(), data.size());
    return Decode(bytes, what, "'" + path + "'", acceptDamaged);
}

ImageFile ImageFromBytes(const unsigned char* data, std::size_t size, const std::string& what)
{
    cv::Mat bytes(1, static_cast<int>(size), CV_8U);
    std::memcpy(bytes.data, data, size);
    return Decode(bytes, what, "built into the tool", false);
}

PrintSize ResolvePrintSize(const Arguments& args, cv::Size image, double defaultWidth, double defaultPixelSize)
{
    PrintSize size;
    const double aspect = double(image.height) / image.width;
    if (args.Has("width") || !args.Has("height")) {
        size.width = args.PositiveNumber("width", defaultWidth);
        size.height = args.PositiveNumber("height", size.width * aspect);
    } else {
        size.height = args.PositiveNumber("height", 0.0);
        size.width = size.height / aspect;
    }
    // A side that follows the photo's aspect ratio gets the same bound as a typed one.
    if (size.width > kMaxSizeMm || size.height > kMaxSizeMm)
        throw UsageError("the print would be " + Plain(size.width) + " x " + Plain(size.height) + " mm; at most " +
                         Plain(kMaxSizeMm) + " mm either way");
    size.pixelSize = args.Length("pixel-size", defaultPixelSize, kMaxStepMm);
    const double cols = std::floor(size.width / size.pixelSize);
    const double rows = std::floor(size.height / size.pixelSize);
    if (cols < 2 || rows < 2)
        throw UsageError("pixel size " + Plain(size.pixelSize) + " gives " + Plain(cols) + " x " + Plain(rows) +
                         " pixels for " + Plain(size.width) + " x " + Plain(size.height) +
                         "; at least 2 x 2 are needed (use a smaller --pixel-size)");
    if (cols * rows > kMaxWorkingPixels)
        throw UsageError("pixel size " + Plain(size.pixelSize) + " gives " + Plain(cols) + " x " + Plain(rows) +
                         " pixels; at most " + std::to_string(static_cast<long>(kMaxWorkingPixels)) + " are supported (use a larger --pixel-size)");
    size.cols = static_cast<int>(cols);
    size.rows = static_cast<int>(rows);
    return size;
}

void WarnBelowNozzle(const Arguments& args, const std::vector<std::pair<std::string, double>>& finest)
{
    for (const auto& [name, smallest] : finest) {
        if (!args.Has(name) || args.Number(name, smallest) >= smallest) continue;
        std::fprintf(stderr, "orvane: warning: --%s %s mm is finer than a 0.4 mm nozzle prints; %s mm is the "
                     "smallest sensible value\n", name.c_str(), args.Text(name, "").c_str(), Plain(smallest).c_str());
    }
}

std::vector<OptionSpec> CommonOptions(const std::string& defaultFolder, const std::string& outputs,
                                      const std::string& defaults, bool writesMeshes)
{
    std::vector<OptionSpec> options = {
        {"out", "DIR", "folder to write into, created when missing (default " + defaultFolder + ")"},
        {"only", "LIST", "comma-separated outputs to write, from: " + outputs + " (default " + defaults + ")"},
        {"json", "", "print a JSON summary on standard output"},
        {"quiet", "", "no progress bar"},
        {"timings", "", "print the time each stage of the run takes on standard error"},
        {"threads", "N", "work on at most N cores (default: all; 1 works on one, with the same files)"},
        {"verbose", "", "list the files written on standard output (relief: and the layer analysis' fit, on standard "
                        "error with --json)"},
    };
    if (writesMeshes)
        options.push_back({"exact-meshes", "", "write the library's meshes as they are: unmerged (two triangles per "
                                               "voxel face) and placed as the library places them"});
    return options;
}

CommonSettings ReadCommonSettings(const Arguments& args, const std::string& defaultFolder,
                                  const std::vector<std::string>& allowedOutputs,
                                  const std::vector<std::string>& defaultOutputs)
{
    CommonSettings settings;
    settings.folder = args.Text("out", defaultFolder);
    if (settings.folder.empty()) throw UsageError("--out must name a folder");
    CheckOutputFolder(settings.folder);
    settings.json = args.Has("json");
    if (settings.json) RequireUtf8(settings.folder, "the folder name '" + settings.folder + "'");
    settings.quiet = args.Has("quiet");
    settings.verbose = args.Has("verbose");
    ShowStageTimes(args.Has("timings"));
    if (args.Has("threads")) cv::setNumThreads(args.Integer("threads", 0, 1, 256));
    settings.exactMeshes = args.Has("exact-meshes");
    if (!args.Has("only")) {
        const std::vector<std::string>& chosen = defaultOutputs.empty() ? allowedOutputs : defaultOutputs;
        settings.outputs.insert(chosen.begin(), chosen.end());
        return settings;
    }
    std::string list = args.Text("only", "");
    std::istringstream words(list);
    std::string word;
    while (std::getline(words, word, ',')) {
        bool known = false;
        for (const std::string& allowed : allowedOutputs) known = known || allowed == word;
        if (!known) {
            std::string names;
            for (const std::string& allowed : allowedOutputs) names += (names.empty() ? "" : ", ") + allowed;
            throw UsageError("--only: unknown output '" + word + "'; choose from " + names);
        }
        settings.outputs.insert(word);
    }
    if (settings.outputs.empty()) throw UsageError("--only needs at least one output name");
    return settings;
}

void RefuseOverwritingInputs(const OutputFolder& folder, const std::vector<std::string>& names)
{
    for (const std::string& name : names) {
        const std::string input = folder.InputAt(name);
        if (!input.empty())
            throw UsageError("the output " + (std::filesystem::path(folder.Path()) / name).string() +
                             " would overwrite the input '" + input + "'; choose another --out");
    }
}

void CheckOutputFolder(const std::string& folder)
{
    std::error_code error;
    std::filesystem::path existing = folder;
    while (!existing.empty() && !std::filesystem::exists(existing, error)) existing = existing.parent_path();
    if (existing.empty()) existing = ".";
    if (!std::filesystem::is_directory(existing, error))
        throw UsageError("cannot write into '" + folder + "': '" + existing.string() + "' is not a folder");
    if (::access(existing.c_str(), W_OK | X_OK) != 0)
        throw UsageError("cannot write into '" + folder + "': '" + existing.string() + "': " + std::strerror(errno));
}

std::vector<unsigned char> EncodePng(const cv::Mat& image)
{
    std::vector<unsigned char> png;
    if (!cv::imencode(".png", image, png) || png.empty())
        throw std::runtime_error("the image library could not encode a " + std::to_string(image.cols) + " x " +
                                 std::to_string(image.rows) + " PNG");
    return png;
}

ImageFile PngImageFile(const cv::Mat& image)
{
    const std::vector<unsigned char> png = EncodePng(image);
    return {cv::Mat(png, true).reshape(1, 1), image.size()};
}

void JsonFiles(Json& json, const OutputFolder& folder)
{
    Json& files = json["files"] = Json::array();
    for (const WrittenFile& file : folder.Files()) {
        Json entry = {{"path", file.path}, {"kind", file.kind}, {"bytes", file.bytes}};
        if (file.triangles >= 0) entry["triangles"] = file.triangles;
        files.push_back(std::move(entry));
    }
}

void WriteManifest(OutputFolder& folder, const std::string& command, int argc, char** argv, int first,
                   const std::vector<std::string>& inputs)
{
    Json manifest = {{"command", command}, {"arguments", Json::array()}, {"inputs", Json::array()}, {"files", Json::array()}};
    for (int k = first; k < argc; ++k) manifest["arguments"].push_back(argv[k]);
    for (const std::string& input : inputs) {
        std::ifstream in(input, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        char crc[16];
        std::snprintf(crc, sizeof crc, "%08x",
                      static_cast<unsigned>(crc32_z(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size())));
        manifest["inputs"].push_back({{"path", input}, {"bytes", bytes.size()}, {"crc32", crc}});
    }
    for (const WrittenFile& file : folder.Files()) {
        Json entry = {{"name", std::filesystem::path(file.path).filename().string()}, {"kind", file.kind}, {"bytes", file.bytes}};
        if (file.triangles >= 0) entry["triangles"] = file.triangles;
        manifest["files"].push_back(std::move(entry));
    }
    // Typed arguments may hold bytes that are not UTF-8: shown replaced, the manifest still written.
    folder.Write(kManifestName, "manifest", manifest.dump(1, ' ', false, Json::error_handler_t::replace) + "\n");
}

void RequireUtf8(const std::string& text, const std::string& what)
{
    try {
        (void)Json(text).dump();
    } catch (const Json::type_error&) {
        throw UsageError(what + " is not UTF-8, which the JSON summary needs; rename it or leave out --json");
    }
}

void PrintSummary(const CommonSettings& settings, const OutputFolder& folder, const Json& json)
{
    if (settings.json) {
        std::cout << json.dump() << std::endl;
        return;
    }
    // A run that succeeds says nothing unless asked: the files are where --out says.
    if (!settings.verbose) return;
    for (const WrittenFile& file : folder.Files()) {
        std::cout << "wrote " << file.path;
        if (file.triangles >= 0) std::cout << " (" << file.triangles << " triangles)";
        std::cout << "\n";
    }
    std::cout.flush();
}

}  // namespace orvane_cli
