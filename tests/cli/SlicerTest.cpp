// The 3MF projects sliced by PrusaSlicer, the reader they are made for: one object, nothing to
// repair, each part on its extruder, and colour changes at the heights given.
#include <algorithm>
#include <array>
#include <cstdio>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include "CliHarness.h"
#include "MeshFiles.h"
#include "TestImages.h"

namespace {

class Slicer : public cli_test::ToolTest {
protected:
    void SetUp() override
    {
        if (std::string(PRUSA_SLICER_PROGRAM).empty()) GTEST_SKIP() << "prusa-slicer is not installed";
        ToolTest::SetUp();
    }

    // Slices project to G-code after checking what the slicer reads from it; returns the G-code.
    std::string Slice(const std::string& project)
    {
        // A data folder of its own keeps the settings of whoever runs the tests out.
        const std::string common = "--datadir slicer-data --loglevel 2 ";
        const cli_test::RunResult info = cli_test::RunProgram(PRUSA_SLICER_PROGRAM, common + "--info " + project, dir);
        const std::string text = info.out + info.err;
        lastInfo = text;
        const std::regex object("^\\[.*\\.3mf\\]$", std::regex::multiline);
        EXPECT_EQ(std::distance(std::sregex_iterator(text.begin(), text.end(), object), std::sregex_iterator()), 1) << text;
        EXPECT_NE(text.find("manifold = yes"), std::string::npos) << text;
        EXPECT_FALSE(std::regex_search(text, std::regex("fixed|reversed|removed|backwards|degenerate|open_edges"))) << text;
        const cli_test::RunResult run =
            cli_test::RunProgram(PRUSA_SLICER_PROGRAM, common + "--export-gcode --output print.gcode " + project, dir);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_FALSE(std::regex_search(run.out + run.err, std::regex("repair|manifold|warning|error", std::regex::icase)))
            << run.out << run.err;
        return cli_test::ReadText(dir / "print.gcode");
    }

    std::string lastInfo;  // what the slicer read from the last project sliced
};

// The tools used (T0, T1, ...), the layer tops (";Z:") at which a filament change (M600) stops the
// print, and the extruder colours the slicer took.
std::string Summary(const std::string& gcode)
{
    std::istringstream lines(gcode);
    std::set<std::string> tools;
    std::string changes, colours, z;
    for (std::string line; std::getline(lines, line);) {
        if (std::regex_match(line, std::regex("T[0-9]+"))) tools.insert(line);
        if (line.rfind(";Z:", 0) == 0) z = line.substr(3);
        if (line == "M600") changes += "M600@" + z + " ";
        if (line.rfind("; extruder_colour = ", 0) == 0) colours = line.substr(20);
    }
    std::string text;
    for (const std::string& tool : tools) text += tool + " ";
    return text + changes + colours;
}

// A closed box from corner low to corner high, wound outward.
Orvanes::OrvaneMesh Box(const Eigen::Vector3f& low, const Eigen::Vector3f& high)
{
    Orvanes::OrvaneMesh box;
    for (int corner = 0; corner < 8; ++corner)  // bit 0: x high, bit 1: y high, bit 2: z high
        box.vertices.emplace_back(corner & 1 ? high.x() : low.x(), corner & 2 ? high.y() : low.y(),
                                  corner & 4 ? high.z() : low.z());
    for (const auto& [a, b, c, d] : std::vector<std::array<int, 4>>{
             {0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}}) {
        box.faces.emplace_back(a, b, c);
        box.faces.emplace_back(a, c, d);
    }
    return box;
}

}  // namespace

TEST_F(Slicer, ToolProjectsPrintEachPartOnItsOwnExtruder)
{
    ASSERT_TRUE(cv::imwrite((dir / "photo.png").string(), orvane_test::MakePhoto(24, 16)));
    ASSERT_EQ(cli_test::RunTool("card --simulate --cell-pixels 1 --out s", dir).status, 0);
    struct Case {
        std::string line, project, expected, size;  // size: the print's, from the photo's aspect
    };
    for (const Case& c : std::vector<Case>{
             {"relief photo.png --width 12 --pixel-size 1 --colour 000000:1 --colour 1d3f8c:0.4 --colour e0a526:0.35 "
              "--colour ffffff:0.2 --levels 12 --only 3mf --out r", "r/relief.3mf", "T0 T1 T2 T3 #000000;#E0A526;#1D3F8C;#FFFFFF", "12.000 x 8.000"},
             {"relief photo.png --width 12 --pixel-size 1 --only body-3mf --out b", "b/relief-body.3mf", "M600@0.9 #000000", "12.000 x 8.000"},
             {"translucent s/card-simulated.png photo.png --width 12 --pixel-size 0.5 --card-as-is --only 3mf --out t",
              "t/translucent.3mf", "T0 T1 T2 T3 #00FFFF;#FF00FF;#FFFF00;#FFFFFF", "12.000 x 8.000"},
             {"card --cell-size 0.5 --only 3mf --out c", "c/card.3mf", "T0 T1 T2 T3 #00FFFF;#FF00FF;#FFFF00;#FFFFFF", "36.000 x 12.000"}}) {
        SCOPED_TRACE(c.line);
        const cli_test::RunResult run = cli_test::RunTool(c.line, dir);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(Summary(Slice(c.project)), c.expected);
        // In register on the bed, as large as asked, in the middle of a 200 mm bed (a part out
        // of register makes the object larger).
        const std::regex size("size_x = ([0-9.]+)\\s+size_y = ([0-9.]+)[\\s\\S]*min_x = ([0-9.-]+)\\s+"
                              "min_y = ([0-9.-]+)\\s+min_z = ([0-9.-]+)");
        std::smatch found;
        ASSERT_TRUE(std::regex_search(lastInfo, found, size)) << lastInfo;
        char text[96];
        std::snprintf(text, sizeof text, "%.3f x %.3f from %.3f, middle %.3f %.3f", std::stod(found[1]),
                      std::stod(found[2]), std::stod(found[5]), std::stod(found[3]) + std::stod(found[1]) / 2,
                      std::stod(found[4]) + std::stod(found[2]) / 2);
        EXPECT_EQ(text, c.size + " from 0.000, middle 100.000 100.000");
    }
}

TEST_F(Slicer, OneNozzleReliefChangesFilamentAtTheSwapListsLayers)
{
    ASSERT_TRUE(cv::imwrite((dir / "photo.png").string(), orvane_test::MakePhoto(24, 16)));
    const cli_test::RunResult run = cli_test::RunTool(
        "relief photo.png --width 12 --pixel-size 1 --colour 000000:1 --colour 1d3f8c:0.4 --colour e0a526:0.35 "
        "--colour ffffff:0.2 --levels 12 --first-layer-height 0.3 --only body-3mf --json --out r", dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const auto summary = nlohmann::json::parse(run.out);
    std::string expected;  // one nozzle: no tool changes
    for (size_t k = 1; k < summary["swaps"].size(); ++k) {
        char z[32];
        std::snprintf(z, sizeof z, "M600@%g ", summary["swaps"][k]["to"].get<double>());
        expected += z;
    }
    const std::string gcode = Slice("r/relief-body.3mf");
    EXPECT_EQ(Summary(gcode).substr(0, expected.size()), expected);
    // The layers the swap list announces are the layers printed, the first as thick as it says.
    EXPECT_NE(gcode.find("\n;Z:0.3\n"), std::string::npos) << "the first layer 0.3 mm thick";
    int layers = 0;
    for (std::size_t at = gcode.find(";LAYER_CHANGE"); at != std::string::npos; at = gcode.find(";LAYER_CHANGE", at + 1)) ++layers;
    EXPECT_EQ(layers, summary["printed_layers"].get<int>());
}

TEST_F(Slicer, HandMadeProjectsKeepTheirExtrudersColoursAndColourChanges)
{
    const Orvanes::OrvaneMesh low = Box({0, 0, 0}, {6, 6, 1}), high = Box({0, 0, 1}, {6, 6, 2}),
                              beside = Box({8, 0, 0}, {12, 6, 1}), empty;
    // Each extruder takes the colour of its first part, even of one without triangles, which is
    // left out: extruder 2 is never used.
    const orvane_cli::ThreeMfProject onThreeExtruders{
        "three", {{"low", &low, 10, 20, 30, 1}, {"empty", &empty, 255, 0, 0, 2}, {"high", &high, 0, 255, 0, 3},
                  {"beside", &beside, 1, 2, 3, 1}}, {}, 0.1, 0.2};
    const orvane_cli::ThreeMfProject withChanges{"changes", {{"low", &low, 0, 0, 0, 1}, {"high", &high, 90, 90, 90, 1}},
                                                 {{0.5, 255, 0, 0}, {1.2, 0, 0, 255}}, 0.1, 0.2};
    for (const auto& [project, expected] : std::vector<std::pair<orvane_cli::ThreeMfProject, std::string>>{
             {onThreeExtruders, "T0 T2 #0A141E;#FF0000;#00FF00"}, {withChanges, "M600@0.5 M600@1.2 #000000"}}) {
        SCOPED_TRACE(project.objectName);
        cli_test::WriteText(dir / "project.3mf", orvane_cli::ThreeMfPackage(project));
        EXPECT_EQ(Summary(Slice("project.3mf")), expected);
    }
    orvane_cli::ThreeMfProject changingExtruders = onThreeExtruders;
    changingExtruders.colourChanges = withChanges.colourChanges;
    EXPECT_THROW(orvane_cli::ThreeMfPackage(changingExtruders), std::invalid_argument);
}
