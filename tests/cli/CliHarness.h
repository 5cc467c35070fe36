// Runs the built tool as a person would and reads what it wrote with readers from elsewhere:
// admesh for STL, lib3mf for 3MF, nlohmann-json for the summaries, the image library for PNG.
#pragma once
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace cli_test {

using Json = nlohmann::json;

struct RunResult {
    int status = -1;  // -1 when the tool did not exit normally
    std::string out, err;
};
// Runs the tool in folder cwd with the command line split at spaces, standard input closed.
RunResult RunTool(const std::string& line, const std::filesystem::path& cwd);

std::string ReadText(const std::filesystem::path& path);
void WriteText(const std::filesystem::path& path, const std::string& text);
std::vector<std::string> FileNames(const std::filesystem::path& folder);  // sorted, not recursive
// "name digest" lines for folder's files: FNV-1a of the bytes, of the pixels for PNG (encoders vary).
std::string Digests(const std::filesystem::path& folder);

// What admesh reports about an STL file before mending anything; NaN where it printed no figure.
struct AdmeshReport {
    double facets, disconnectedFacets, facetsReversed, backwardsEdges, normalsFixed, volume, maxZ;
};
AdmeshReport Admesh(const std::filesystem::path& stl);

// What lib3mf reads back from a 3MF package, in build order: each object with its triangles
// split into parts where their base material changes.
struct ThreeMfPart {
    std::string name, colour;  // of the base material; colour "rrggbb"
    uint32_t vertices = 0, triangles = 0;  // vertices: those the part's triangles use
    float lowestZ = 0.0f;  // in build coordinates: after the build item's transform
    bool manifold = false;  // each edge of the part's triangles used once each way
};
struct ThreeMfObject {
    std::string name;
    std::vector<ThreeMfPart> parts;
    float middleX = 0.0f, middleY = 0.0f;  // of the parts' extent on the bed, in build coordinates
};
std::vector<ThreeMfObject> ReadThreeMf(const std::filesystem::path& package);

// Runs program with the command line split at spaces in folder cwd, standard input closed.
RunResult RunProgram(const std::string& program, const std::string& line, const std::filesystem::path& cwd);

// Checks each entry of a summary's file list against the disk (size; an STL with triangles must
// be a complete binary STL that admesh finds closed, consistently wound and of positive volume)
// and that folder holds nothing else. Paths are relative to cwd. Returns triangles by STL name.
std::map<std::string, int64_t> ExpectListedFiles(const Json& files, const std::filesystem::path& cwd,
                                                 const std::filesystem::path& folder);

// A fresh folder under the temporary folder, removed with the fixture when it passed.
class ToolTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::filesystem::path dir;
};

}  // namespace cli_test
