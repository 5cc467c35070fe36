// orvane card and orvane translucent end to end: the simulated card feeds the translucent road,
// and every mesh file is read back by admesh and lib3mf.
#include <cstdlib>
#include <filesystem>
#include <map>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "CliHarness.h"

using cli_test::Json;
using cli_test::RunTool;

using CardAndTranslucent = cli_test::ToolTest;

TEST_F(CardAndTranslucent, CardMeshesTileSixLayersOfCells)
{
    const cli_test::RunResult run =
        RunTool("card --cell-size 1.5 --layer-height 0.1 --last-layer-height 0.2 --json --out card", dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "") << "a progress bar where standard error is a file";
    const Json summary = Json::parse(run.out);
    double volume = 0.0;
    for (const auto& [name, triangles] : cli_test::ExpectListedFiles(summary["files"], dir, dir / "card"))
        volume += cli_test::Admesh(dir / "card" / name).volume;
    // Together the four materials fill the card: 96 x 24 mm, five layers of 0.1 and one of 0.2.
    EXPECT_NEAR(volume, 96.0 * 24.0 * 0.7, 96.0 * 24.0 * 0.7 * 1e-4);

    std::vector<std::string> colours;
    for (const cli_test::ThreeMfObject& object : cli_test::ReadThreeMf(dir / "card/card.3mf"))
        colours.push_back(object.colour);
    EXPECT_EQ(colours, (std::vector<std::string>{"00ffff", "ff00ff", "ffff00", "ffffff"}));
}

TEST_F(CardAndTranslucent, SimulatedCardFeedsTheTranslucentRoad)
{
    const cli_test::RunResult card = RunTool(
        "card --simulate --cell-pixels 4 --materials 00ffff:0.5,ff00ff:0.5,ffff00:0.5,ffffff:0.1 --quiet --out .", dir);
    ASSERT_EQ(card.status, 0) << card.err;
    const cv::Mat image = cv::imread((dir / "card-simulated.png").string(), cv::IMREAD_UNCHANGED);
    ASSERT_EQ(image.size(), cv::Size(256, 64));
    // Cell (15, 63) is white in every layer: the brightest cell. Cell (0, 0) is six cyan-ish layers.
    const cv::Vec3b white = image.at<cv::Vec3b>(62, 254), cyan = image.at<cv::Vec3b>(1, 1);
    EXPECT_GT(white[0] + white[1] + white[2], cyan[0] + cyan[1] + cyan[2]);
    EXPECT_LT(cyan[2], cyan[0]);  // cyan stops red (the last channel) most

    cli_test::WritePhoto(dir / "photo.png", 48, 32);
    const std::string road = "translucent card-simulated.png photo.png --width 24 --pixel-size 0.5 --quiet --json ";
    const cli_test::RunResult run = RunTool(road + "--auto-contrast --min-layers 7 --max-layers 10 --out out", dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const Json summary = Json::parse(run.out);
    EXPECT_TRUE(summary["auto_contrast"].get<bool>());
    EXPECT_GE(summary["contrast"].get<double>(), 0.0);
    EXPECT_LE(summary["contrast"].get<double>(), 1.0);
    EXPECT_EQ(cv::imread((dir / "out/preview.png").string(), cv::IMREAD_UNCHANGED).size(), cv::Size(48, 32));
    const std::map<std::string, int64_t> triangles = cli_test::ExpectListedFiles(summary["files"], dir, dir / "out");
    EXPECT_EQ(triangles.size(), 5u) << "four materials and the body";
    const std::vector<cli_test::ThreeMfObject> objects = cli_test::ReadThreeMf(dir / "out/translucent.3mf");
    ASSERT_GE(objects.size(), 2u);
    EXPECT_EQ(objects.back().name, "body (white)");
    EXPECT_TRUE(objects.back().manifold);
    EXPECT_EQ(objects.back().triangles, triangles.at("body.stl"));

    // A contrast given by hand is used as given.
    const cli_test::RunResult manual = RunTool(road + "--contrast 0.25 --brightness -0.1 --only preview --out m", dir);
    ASSERT_EQ(manual.status, 0) << manual.err;
    EXPECT_DOUBLE_EQ(Json::parse(manual.out)["contrast"].get<double>(), 0.25);
    EXPECT_EQ(cli_test::FileNames(dir / "m"), std::vector<std::string>{"preview.png"});
}

TEST_F(CardAndTranslucent, DemoWritesBothRoadsFromTheBuiltInPhoto)
{
    const cli_test::RunResult run = RunTool("demo show --quiet --json", dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const Json summary = Json::parse(run.out);
    EXPECT_EQ(summary["folder"], "show");
    const cv::Mat embedded = cv::imread((dir / "show/photo.png").string(), cv::IMREAD_COLOR);
    const cv::Mat sample = cv::imread(ORVANE_SAMPLE_PHOTO, cv::IMREAD_COLOR);
    ASSERT_EQ(embedded.size(), sample.size());
    EXPECT_EQ(cv::norm(embedded, sample, cv::NORM_INF), 0.0);
    EXPECT_TRUE(cli_test::ExpectListedFiles(summary["relief"]["files"], dir, dir / "show/relief").count("relief.stl"));
    EXPECT_TRUE(cli_test::ExpectListedFiles(summary["translucent"]["files"], dir, dir / "show/translucent")
                    .count("body.stl"));
    EXPECT_TRUE(std::filesystem::exists(dir / "show/card-simulated.png"));
}

TEST_F(CardAndTranslucent, ProgressBarOnATerminalUnlessQuiet)
{
    if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no 'script' to make a terminal";
    // script(1) runs the tool on a pseudo-terminal and copies what the terminal showed.
    for (const std::string quiet : {"", " --quiet"}) {
        SCOPED_TRACE("quiet: " + quiet);
        const std::string command = "cd '" + dir.string() + "' && script -qec \"'" + std::string(ORVANE_TOOL) +
                                    "' card --cell-size 1 --only 3mf" + quiet + "\" /dev/null > terminal.txt 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
        const std::string shown = cli_test::ReadText(dir / "terminal.txt");
        EXPECT_EQ(shown.find("card meshes") != std::string::npos && shown.find("100%") != std::string::npos,
                  quiet.empty()) << shown;
    }
}
