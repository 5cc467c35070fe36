// orvane relief end to end: the files it writes, read back by admesh, lib3mf and the image
// library, agree with each other and with the JSON summary.
#include <algorithm>
#include <filesystem>
#include <map>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "CliHarness.h"

using cli_test::Json;
using cli_test::RunTool;

namespace {

class ReliefOutputs : public cli_test::ToolTest {
protected:
    void SetUp() override
    {
        ToolTest::SetUp();
        cli_test::WritePhoto(dir / "photo.png", 60, 40);
        cli_test::WriteText(dir / "palette.txt", "; four filaments\n000000:1 black\n1d3f8c:0.4 blue\n"
                                                 "e0a526:0.35 ochre\nffffff:0.125 white\n");
    }

    cli_test::RunResult Relief(const std::string& extra)
    {
        return RunTool("relief photo.png --width 30 --pixel-size 0.5 --palette palette.txt --base-levels 2 --quiet " +
                           extra, dir);
    }
};

}  // namespace

TEST_F(ReliefOutputs, JsonSummaryStaysValidAndMatchesEveryFile)
{
    const cli_test::RunResult run = Relief("--levels 12 --json --out out");
    ASSERT_EQ(run.status, 0) << run.err;
    // The layer analysis prints its fit; with --json none of that may reach standard output.
    const Json summary = Json::parse(run.out);
    EXPECT_EQ(summary["working_size"]["cols"], 60);
    EXPECT_EQ(summary["working_size"]["rows"], 40);
    const Json& stack = summary["stack"];
    ASSERT_GE(stack.size(), 12u);

    std::map<std::string, int64_t> trianglesOf = cli_test::ExpectListedFiles(summary["files"], dir, dir / "out");
    for (const std::string name : {"preview.png", "relief.stl", "relief.3mf", "stack.txt", "swaps.txt"})
        EXPECT_TRUE(std::filesystem::exists(dir / "out" / name)) << name;
    const cv::Mat preview = cv::imread((dir / "out/preview.png").string(), cv::IMREAD_UNCHANGED);
    EXPECT_EQ(preview.size(), cv::Size(60, 40));
    // 2 x 60 x 40 vertices, 4 triangles per grid cell and 4 per edge step along the border.
    EXPECT_EQ(trianglesOf["relief.stl"], 4 * 59 * 39 + 4 * 59 + 4 * 39);

    // The 3MF holds the colour meshes, one object each, in the stack's colours, standing on the bed.
    const std::vector<cli_test::ThreeMfObject> objects = cli_test::ReadThreeMf(dir / "out/relief.3mf");
    ASSERT_EQ(objects.size(), trianglesOf.size() - 1);
    float lowest = 1e9f;
    for (const cli_test::ThreeMfObject& object : objects) {
        SCOPED_TRACE(object.name);
        lowest = std::min(lowest, object.lowestZ);
        int64_t stlTriangles = -1;
        for (const auto& [name, triangles] : trianglesOf)
            if (name.find(object.colour + ".stl") != std::string::npos) stlTriangles = triangles;
        EXPECT_EQ(object.triangles, stlTriangles) << "no colour STL alike";
        EXPECT_TRUE(std::any_of(stack.begin(), stack.end(), [&](const Json& l) { return l["colour"] == object.colour; }));
    }
    EXPECT_EQ(lowest, 0.0f);

    // The swap list names exactly the layers where the stack changes filament, in the stack's colours.
    std::vector<int> changes, swapLayers;
    for (size_t k = 0; k < stack.size(); ++k)
        if (k == 0 || stack[k] != stack[k - 1]) changes.push_back(int(k) + 1);
    for (const Json& swap : summary["swaps"]) {
        swapLayers.push_back(swap["layer"]);
        EXPECT_EQ(swap["colour"], stack[swap["layer"].get<size_t>() - 1]["colour"]);
    }
    EXPECT_EQ(swapLayers, changes);
    // The single body stops within the layer the swap list counts.
    const double top = cli_test::Admesh(dir / "out/relief.stl").maxZ;
    const double printedTop = 0.2 + (summary["printed_layers"].get<double>() - 1) * 0.1;
    EXPECT_GT(top, printedTop - 0.1);
    EXPECT_LE(top, printedTop + 0.05);
}

TEST_F(ReliefOutputs, OnlyTheChosenOutputsAndAGivenStackIsUsedAsWritten)
{
    // Without --json the layer analysis keeps its fit on standard output, beside the files written.
    const cli_test::RunResult first = Relief("--levels 12 --only stack,preview --out first");
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_NE(first.out.find('['), std::string::npos) << "the layer analysis prints its coefficients";
    EXPECT_NE(first.out.find("wrote first/stack.txt"), std::string::npos);
    EXPECT_EQ(cli_test::FileNames(dir / "first"), (std::vector<std::string>{"preview.png", "stack.txt"}));

    // A stack edited in place and given back with the same folder stays as the person wrote it,
    // and renders the same preview.
    const std::string edited = cli_test::ReadText(dir / "first/stack.txt") + "; checked by hand\n";
    cli_test::WriteText(dir / "first/stack.txt", edited);
    const std::string firstPreview = cli_test::ReadText(dir / "first/preview.png");
    const cli_test::RunResult again = Relief("--stack first/stack.txt --only stack,preview --json --out first");
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_TRUE(Json::parse(again.out)["stack_given"].get<bool>());
    EXPECT_EQ(cli_test::ReadText(dir / "first/stack.txt"), edited);
    EXPECT_EQ(cli_test::ReadText(dir / "first/preview.png"), firstPreview);

    // A hand-made stack: blue levels in the middle change the swaps.
    cli_test::WriteText(dir / "mine.txt", "000000:1\n000000:1\n000000:1\n1d3f8c:0.4\n1d3f8c:0.4\nffffff:0.125\n");
    const cli_test::RunResult mine = Relief("--stack mine.txt --json --only swaps,colours --out mine");
    ASSERT_EQ(mine.status, 0) << mine.err;
    const Json swaps = Json::parse(mine.out)["swaps"];
    ASSERT_EQ(swaps.size(), 3u);
    EXPECT_EQ(swaps[1]["layer"], 4);
    EXPECT_EQ(swaps[1]["colour"], "1d3f8c");
    EXPECT_EQ(swaps[2]["layer"], 6);
    EXPECT_EQ(cli_test::FileNames(dir / "mine"), (std::vector<std::string>{"colour-1-000000.stl", "colour-3-1d3f8c.stl",
                                                                          "colour-4-ffffff.stl", "swaps.txt"}));
}
