// orvane relief end to end: the files it writes, read back by admesh, lib3mf and the image
// library, agree with each other and with the JSON summary.
#include <filesystem>
#include <map>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "CliHarness.h"

using cli_test::RunTool;

namespace {

class ReliefOutputs : public cli_test::ToolTest {
protected:
    void SetUp() override
    {
        ToolTest::SetUp();
        cli_test::WritePng(dir / "photo.png", cli_test::MakePhoto(60, 40));
        cli_test::WriteText(dir / "palette.txt", "; four filaments\n000000:1 black\n1d3f8c:0.4 blue\n"
                                                 "e0a526:0.35 ochre\nffffff:0.125 white\n");
    }

    std::vector<std::string> Relief(std::vector<std::string> extra)
    {
        std::vector<std::string> args = {"relief", "photo.png", "--width", "30", "--pixel-size", "0.5",
                                          "--palette", "palette.txt", "--levels", "12", "--base-levels", "2",
                                          "--quiet", "--out", "out"};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
};

void ExpectSoundStl(const std::filesystem::path& stl, int64_t triangles)
{
    SCOPED_TRACE(stl.string());
    EXPECT_EQ(cli_test::StlFacetCount(stl), triangles);
    const cli_test::AdmeshReport report = cli_test::Admesh(stl);
    EXPECT_EQ(report.facets, triangles);
    EXPECT_EQ(report.disconnectedFacets, 0) << "open edges";
    EXPECT_EQ(report.facetsReversed, 0) << "inconsistently wound facets";
    EXPECT_EQ(report.backwardsEdges, 0);
    EXPECT_EQ(report.normalsFixed, 0);
    EXPECT_GT(report.volume, 0.0);
}

}  // namespace

TEST_F(ReliefOutputs, JsonSummaryStaysValidAndMatchesEveryFile)
{
    const cli_test::RunResult run = RunTool(Relief({"--json"}), dir);
    ASSERT_EQ(run.status, 0) << run.err;
    // The layer analysis prints its fit; with --json none of that may reach standard output.
    const cli_test::Json summary = cli_test::ParseJson(run.out);
    EXPECT_EQ(summary["command"].text, "relief");
    EXPECT_EQ(summary["working_size"]["cols"].number, 60);
    EXPECT_EQ(summary["working_size"]["rows"].number, 40);
    const cli_test::Json& stack = summary["stack"];
    ASSERT_GE(stack.items.size(), 12u);

    std::map<std::string, int64_t> trianglesOf;
    std::map<std::string, std::string> kindOf;
    for (const cli_test::Json& file : summary["files"].items) {
        const std::filesystem::path path = dir / file["path"].text;
        ASSERT_TRUE(std::filesystem::exists(path)) << path;
        EXPECT_EQ(std::filesystem::file_size(path), file["bytes"].number) << path;
        const std::string name = path.filename().string();
        kindOf[name] = file["kind"].text;
        if (file["kind"].text == "stl") trianglesOf[name] = static_cast<int64_t>(file["triangles"].number);
    }
    for (const std::string name : {"preview.png", "relief.stl", "relief.3mf", "stack.txt", "swaps.txt"})
        EXPECT_TRUE(kindOf.count(name)) << name;
    for (const std::string& name : cli_test::FileNames(dir / "out"))
        EXPECT_TRUE(kindOf.count(name)) << "unlisted or temporary file " << name;

    const cv::Mat preview = cv::imread((dir / "out/preview.png").string(), cv::IMREAD_UNCHANGED);
    ASSERT_FALSE(preview.empty());
    EXPECT_EQ(preview.size(), cv::Size(60, 40));
    EXPECT_EQ(preview.type(), CV_8UC3);

    for (const auto& [name, triangles] : trianglesOf) ExpectSoundStl(dir / "out" / name, triangles);
    // 2 x 60 x 40 vertices, 4 triangles per grid cell and 4 per edge step along the border.
    EXPECT_EQ(trianglesOf["relief.stl"], 4 * 59 * 39 + 4 * 59 + 4 * 39);

    // The 3MF holds the colour meshes, one object each, with the stack's colours.
    const std::vector<cli_test::ThreeMfObject> objects = cli_test::ReadThreeMf(dir / "out/relief.3mf");
    ASSERT_EQ(objects.size(), trianglesOf.size() - 1);
    for (const cli_test::ThreeMfObject& object : objects) {
        SCOPED_TRACE(object.name);
        const std::string stl = [&] {
            for (const auto& [name, triangles] : trianglesOf)
                if (name.find(object.colour + ".stl") != std::string::npos) return name;
            return std::string();
        }();
        ASSERT_FALSE(stl.empty()) << "no colour STL for " << object.colour;
        EXPECT_EQ(object.triangles, trianglesOf[stl]);
        bool inStack = false;
        for (const cli_test::Json& level : stack.items) inStack = inStack || level["colour"].text == object.colour;
        EXPECT_TRUE(inStack);
    }

    // The swap list starts with the bottom colour and changes colour where the stack does.
    const cli_test::Json& swaps = summary["swaps"];
    ASSERT_FALSE(swaps.items.empty());
    EXPECT_EQ(swaps[0]["layer"].number, 1);
    EXPECT_EQ(swaps[0]["colour"].text, stack[0]["colour"].text);
    for (const cli_test::Json& swap : swaps.items) {
        const size_t level = static_cast<size_t>(swap["layer"].number) - 1;
        EXPECT_EQ(swap["colour"].text, stack[level]["colour"].text);
        if (level > 0) {
            EXPECT_NE(stack[level - 1]["colour"].text + std::to_string(stack[level - 1]["opacity"].number),
                      swap["colour"].text + std::to_string(swap["opacity"].number));
        }
    }
    // The single body stops within the layer the swap list counts.
    const double top = cli_test::Admesh(dir / "out/relief.stl").maxZ;
    const double printedTop = 0.2 + (summary["printed_layers"].number - 1) * 0.1;
    EXPECT_GT(top, printedTop - 0.1);
    EXPECT_LE(top, printedTop + 0.05);
}

TEST_F(ReliefOutputs, PlainRunKeepsTheFitOnStandardOutput)
{
    const cli_test::RunResult run = RunTool(Relief({"--only", "stack"}), dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find('['), std::string::npos) << "the layer analysis prints its coefficients";
    EXPECT_NE(run.out.find("wrote out/stack.txt"), std::string::npos);
    EXPECT_EQ(cli_test::FileNames(dir / "out"), std::vector<std::string>{"stack.txt"});
}

TEST_F(ReliefOutputs, OnlyTheChosenOutputsAreWritten)
{
    const cli_test::RunResult run = RunTool(Relief({"--only", "body", "--json"}), dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(cli_test::FileNames(dir / "out"), std::vector<std::string>{"relief.stl"});
    EXPECT_EQ(cli_test::ParseJson(run.out)["files"].items.size(), 1u);
}

TEST_F(ReliefOutputs, GivenStackIsUsedAsWritten)
{
    ASSERT_EQ(RunTool(Relief({"--only", "stack,preview"}), dir).status, 0);
    std::filesystem::rename(dir / "out", dir / "first");
    // The same stack given back renders the same preview.
    const cli_test::RunResult again = RunTool(Relief({"--stack", "first/stack.txt", "--only", "preview", "--json"}), dir);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_TRUE(cli_test::ParseJson(again.out)["stack_given"].flag);
    EXPECT_EQ(cli_test::ReadText(dir / "first/preview.png"), cli_test::ReadText(dir / "out/preview.png"));

    // A hand-made stack: blue levels in the middle change the preview and the swaps.
    cli_test::WriteText(dir / "mine.txt", "000000:1\n000000:1\n000000:1\n1d3f8c:0.4\n1d3f8c:0.4\nffffff:0.125\n");
    const cli_test::RunResult mine = RunTool(
        {"relief", "photo.png", "--width", "30", "--pixel-size", "0.5", "--palette", "palette.txt", "--stack",
         "mine.txt", "--base-levels", "2", "--quiet", "--json", "--only", "swaps,colours", "--out", "mine"},
        dir);
    ASSERT_EQ(mine.status, 0) << mine.err;
    const cli_test::Json summary = cli_test::ParseJson(mine.out);
    ASSERT_EQ(summary["swaps"].items.size(), 3u);
    EXPECT_EQ(summary["swaps"][1]["layer"].number, 4);
    EXPECT_EQ(summary["swaps"][1]["colour"].text, "1d3f8c");
    EXPECT_EQ(summary["swaps"][2]["layer"].number, 6);
    EXPECT_EQ(cli_test::FileNames(dir / "mine"),
              (std::vector<std::string>{"colour-1-000000.stl", "colour-3-1d3f8c.stl", "colour-4-ffffff.stl",
                                        "swaps.txt"}));
}
