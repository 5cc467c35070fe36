// Runs the built tool as a person would and reads what it wrote with readers from elsewhere:
// admesh for STL, lib3mf for 3MF, the image library for PNG.
#pragma once
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

namespace cli_test {

struct RunResult {
    int status = -1;  // exit status, or -1 when the tool did not exit normally
    std::string out;
    std::string err;
};

// Runs the tool with args in folder cwd, standard input closed.
RunResult RunTool(const std::vector<std::string>& args, const std::filesystem::path& cwd);

std::string ReadText(const std::filesystem::path& path);
void WriteText(const std::filesystem::path& path, const std::string& text);
// Writes image as a PNG file.
void WritePng(const std::filesystem::path& path, const cv::Mat& image);
// A small photo-like test picture: a diagonal ramp with a bright disc and a dark bar.
cv::Mat MakePhoto(int cols, int rows);

// Names of the files in folder (not recursive).
std::vector<std::string> FileNames(const std::filesystem::path& folder);

// What admesh reports about an STL file.
struct AdmeshReport {
    int64_t facets = -1;
    int64_t disconnectedFacets = -1;
    int64_t facetsReversed = -1;
    int64_t backwardsEdges = -1;
    int64_t normalsFixed = -1;
    double volume = 0.0;
    double maxZ = 0.0;
    double minZ = 0.0;
};
AdmeshReport Admesh(const std::filesystem::path& stl);
// A binary STL's facet count from its header, checked against its size.
int64_t StlFacetCount(const std::filesystem::path& stl);

// What lib3mf reads back from a 3MF package.
struct ThreeMfObject {
    std::string name;
    uint32_t vertices = 0;
    uint32_t triangles = 0;
    std::string colour;  // "rrggbb" of the object's base material
    bool manifold = false;
};
std::vector<ThreeMfObject> ReadThreeMf(const std::filesystem::path& package);

// A parsed JSON value, enough to check the tool's summaries.
struct Json {
    enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
    bool flag = false;
    double number = 0.0;
    std::string text;
    std::vector<Json> items;
    std::map<std::string, Json> members;
    const Json& operator[](const std::string& key) const;
    const Json& operator[](size_t index) const { return items.at(index); }
};
// Throws std::runtime_error for anything that is not one complete JSON value.
Json ParseJson(const std::string& text);

// A fresh folder under the test temporary folder, removed with the fixture.
class ToolTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::filesystem::path dir;
};

}  // namespace cli_test
