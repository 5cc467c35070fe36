// Every road end to end: the files, read back by admesh, lib3mf and the image library, agree with
// each other and with the JSON summary; the demo's simulated card feeds the translucent road.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "CliHarness.h"
#include "TestImages.h"

using cli_test::Json;
using cli_test::RunTool;

using RoadsEndToEnd = cli_test::ToolTest;

TEST_F(RoadsEndToEnd, ReliefFilesAgreeWithTheSummaryAndAGivenStackIsUsedAsWritten)
{
    // Grey from 0 to 255 at the working size: neither resampling nor stretching rounds anything.
    cv::Mat photo = orvane_test::MakePhoto(60, 40);
    photo.at<cv::Vec3b>(0, 59) = cv::Vec3b::all(0), photo.at<cv::Vec3b>(39, 0) = cv::Vec3b::all(255);
    ASSERT_TRUE(cv::imwrite((dir / "photo.png").string(), photo));
    cli_test::WriteText(dir / "palette.txt", "; four filaments\n000000:1 black & <co>\n1d3f8c:0.4 blue\n"
                                             "e0a526:0.35 ochre\nffffff:0.125 white\n");
    const auto relief = [&](const std::string& extra) {
        return RunTool("relief photo.png --width 30 --pixel-size 0.5 --palette palette.txt --base-levels 2 " + extra, dir);
    };
    const cli_test::RunResult run = relief("--levels 12 --only preview,body,body-3mf,colours,3mf,stack,swaps --json --out out");
    ASSERT_EQ(run.status, 0) << run.err;
    // The layer analysis prints its fit; with --json none of that may reach standard output.
    const Json summary = Json::parse(run.out);
    EXPECT_EQ(summary["working_size"]["cols"], 60);
    const Json& stack = summary["stack"];
    ASSERT_GE(stack.size(), 12u);

    std::map<std::string, int64_t> trianglesOf = cli_test::ExpectListedFiles(summary["files"], dir, dir / "out");
    // The manifest names what was asked, of what, and every other file of the run.
    const Json manifest = Json::parse(cli_test::ReadText(dir / "out/orvane-run.json"));
    EXPECT_EQ(manifest["command"], "relief");
    EXPECT_EQ(manifest["arguments"][0], "photo.png");
    EXPECT_EQ(manifest["inputs"][0]["bytes"].get<size_t>(), cli_test::ReadText(dir / "photo.png").size());
    EXPECT_EQ(manifest["files"].size() + 1, summary["files"].size());
    EXPECT_EQ(cv::imread((dir / "out/preview.png").string(), cv::IMREAD_UNCHANGED).size(), cv::Size(60, 40));
    // The library's body: 2 x 60 x 40 vertices, 4 triangles per grid cell and 4 per edge step along
    // the border; the tool's merges the flat parts.
    const cli_test::RunResult exact = relief("--levels 12 --only body --exact-meshes --json --out exact");
    const int64_t exactBody = cli_test::ExpectListedFiles(Json::parse(exact.out)["files"], dir, dir / "exact")["relief.stl"];
    EXPECT_EQ(exactBody, 4 * 59 * 39 + 4 * 59 + 4 * 39);
    EXPECT_LT(trianglesOf["relief.stl"] * 2, exactBody);
    // A quiet run for the bare body plans no colours, and its body is the same.
    ASSERT_EQ(relief("--levels 12 --only body --quiet --out bare").status, 0);
    EXPECT_EQ(cli_test::ReadText(dir / "bare/relief.stl"), cli_test::ReadText(dir / "out/relief.stl"));

    // The 3MF holds one object, the colour meshes its parts in the stack's colours, without the
    // meshes' unused vertices, lifted together so the lowest stands on the bed.
    const std::vector<cli_test::ThreeMfObject> objects = cli_test::ReadThreeMf(dir / "out/relief.3mf");
    ASSERT_EQ(objects.size(), 1u);
    const std::vector<cli_test::ThreeMfPart>& parts = objects[0].parts;
    ASSERT_EQ(parts.size(), trianglesOf.size() - 1);
    EXPECT_EQ(parts[0].name, "black & <co> (000000)");
    std::vector<float> lowest;
    for (const cli_test::ThreeMfPart& part : parts) {
        SCOPED_TRACE(part.name);
        lowest.push_back(part.lowestZ);
        EXPECT_LE(part.vertices, part.triangles);
        EXPECT_TRUE(part.manifold) << "solids touching along an edge get their own vertices";
        int64_t stlTriangles = -1;
        for (const auto& [name, triangles] : trianglesOf)
            if (name.find(part.colour + ".stl") != std::string::npos) stlTriangles = triangles;
        EXPECT_EQ(part.triangles, stlTriangles) << "no colour STL alike";
    }
    EXPECT_EQ(*std::min_element(lowest.begin(), lowest.end()), 0.0f);
    EXPECT_NEAR(objects[0].middleX, 100.0f, 1e-3f) << "in the middle of a 200 mm bed, where the slicer keeps it";
    EXPECT_NEAR(objects[0].middleY, 100.0f, 1e-3f);
    EXPECT_GT(*std::max_element(lowest.begin(), lowest.end()), 0.0f) << "each part lifted on its own";

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
    const double printedTop = 0.2 + (summary["printed_layers"].get<double>() - 1) * 0.1;
    EXPECT_NEAR(cli_test::Admesh(dir / "out/relief.stl").maxZ, printedTop - 0.025, 0.075);
    // The one-nozzle project: the body alone, in the first colour, the swaps its colour changes.
    const std::vector<cli_test::ThreeMfObject> single = cli_test::ReadThreeMf(dir / "out/relief-body.3mf");
    ASSERT_TRUE(single.size() == 1 && single[0].parts.size() == 1);
    EXPECT_EQ(single[0].parts[0].triangles, trianglesOf["relief.stl"]);
    EXPECT_EQ(single[0].parts[0].colour, summary["swaps"][0]["colour"]);

    // A stack edited in place and given back with the same folder stays as the person wrote it,
    // and renders the same preview.
    const std::string edited = cli_test::ReadText(dir / "out/stack.txt") + "; checked by hand\n";
    cli_test::WriteText(dir / "out/stack.txt", edited);
    const std::string preview = cli_test::ReadText(dir / "out/preview.png");
    const cli_test::RunResult again = relief("--stack out/stack.txt --only stack,preview --quiet --verbose --out out");
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, "wrote out/preview.png\nwrote out/orvane-run.json\n");
    EXPECT_EQ(cli_test::ReadText(dir / "out/stack.txt"), edited);
    EXPECT_EQ(cli_test::ReadText(dir / "out/preview.png"), preview);

    // A hand-made stack's files, pinned to the bytes this version writes on every machine (take the
    // new digests after an intended change); the ochre the stack leaves out gets no file.
    cli_test::WriteText(dir / "mine.txt", "000000:1\n000000:1\n000000:1\n1d3f8c:0.4\n1d3f8c:0.4\nffffff:0.125\n");
    const cli_test::RunResult mine = relief("--stack mine.txt --only preview,fidelity,body,colours,stack,swaps --out mine");
    ASSERT_EQ(mine.status, 0) << mine.err;
    EXPECT_EQ(cli_test::Digests(dir / "mine"),
              "colour-1-000000.stl 412b386497546d55\ncolour-3-1d3f8c.stl e24f7316df63f058\n"
              "colour-4-ffffff.stl d396d9d4f2bdab4d\nfidelity.png 9106c2562b76ce77\norvane-run.json 6a18a03a2c9d6137\n"
              "preview.png 7d8f9da514382f43\nrelief.stl efc36c25e90ee6f9\nstack.txt 75fe81c2cdf03e24\nswaps.txt 3f707ba4ceae86ee\n");
    // One core writes the same files as two (the manifest records the options), projects of
    // many compressed pieces included.
    for (const std::string cores : {"1", "2"})
        ASSERT_EQ(RunTool("relief photo.png --width 30 --pixel-size 0.1 --palette palette.txt --stack mine.txt --only "
                          "colours,3mf,body-3mf --threads " + cores + " --out t" + cores, dir).status, 0);
    const auto unlisted = [](std::string digests) { return digests.erase(digests.find("orvane-run.json"), 33); };
    EXPECT_EQ(unlisted(cli_test::Digests(dir / "t1")), unlisted(cli_test::Digests(dir / "t2")));
}

TEST_F(RoadsEndToEnd, CardMeshesTileSixLayersOfCells)
{
    const cli_test::RunResult run = RunTool("card --cell-size 1.5 --layer-height 0.1 --last-layer-height 0.2 --json "
                                            "--materials 00ffff:0.5,ff00ff:0.5,ffff00:0.5,f0f0f0:0.1 --out card", dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "") << "a progress bar where standard error is a file";
    double volume = 0.0;
    for (const auto& [name, triangles] : cli_test::ExpectListedFiles(Json::parse(run.out)["files"], dir, dir / "card"))
        volume += cli_test::Admesh(dir / "card" / name).volume;
    // Together the four materials fill the card and its frame: 72 x 24 cells of 1.5 mm, five
    // layers of 0.1 and one of 0.2.
    EXPECT_NEAR(volume, 108.0 * 36.0 * 0.7, 108.0 * 36.0 * 0.7 * 1e-4);
    std::string colours;
    const std::vector<cli_test::ThreeMfObject> card = cli_test::ReadThreeMf(dir / "card/card.3mf");
    for (const cli_test::ThreeMfPart& part : card.at(0).parts) colours += part.colour;
    EXPECT_EQ(colours, "00ffffff00ffffff00f0f0f0");
    EXPECT_EQ(cli_test::Digests(dir / "card"), "card-material-0.stl 373b4bf5d9a477cf\ncard-material-1.stl f55c697700313968\n"
              "card-material-2.stl a11e18f88de4b8ab\ncard-material-3.stl 7b6d9ffc7f0b06dc\ncard.3mf db4bc80a4343c309\norvane-run.json 313845393a4f4bd4\n")
        << "pinned like the relief's files";
}

TEST_F(RoadsEndToEnd, DemoRunsBothRoadsAndItsCardFeedsTheTranslucentRoad)
{
    const cli_test::RunResult run = RunTool("demo --quiet --json", dir);  // FOLDER may be left out
    ASSERT_EQ(run.status, 0) << run.err;
    const Json summary = Json::parse(run.out);
    EXPECT_EQ(summary["folder"], "orvane-demo");
    EXPECT_TRUE(orvane_test::Same(cv::imread((dir / "orvane-demo/photo.png").string()), cv::imread(ORVANE_SAMPLE_PHOTO)))
        << "the built-in photo is the sample";
    EXPECT_TRUE(cli_test::ExpectListedFiles(summary["relief"]["files"], dir, dir / "orvane-demo/relief").count("relief.stl"));
    const auto triangles = cli_test::ExpectListedFiles(summary["translucent"]["files"], dir, dir / "orvane-demo/translucent");
    EXPECT_EQ(triangles.size(), 5u) << "four materials and the body";
    const std::vector<cli_test::ThreeMfObject> objects = cli_test::ReadThreeMf(dir / "orvane-demo/translucent/translucent.3mf");
    ASSERT_EQ(objects.size(), 1u);
    ASSERT_EQ(objects[0].parts.size(), 5u);
    EXPECT_EQ(objects[0].parts.back().name, "body (white)");
    EXPECT_EQ(objects[0].parts.back().triangles, triangles.at("body.stl"));
    for (const cli_test::ThreeMfPart& part : objects[0].parts) EXPECT_TRUE(part.manifold) << part.name;
    const double contrast = summary["translucent"]["contrast"];
    EXPECT_TRUE(summary["translucent"]["auto_contrast"].get<bool>() && contrast >= 0.0 && contrast <= 1.0) << contrast;

    // Cell (15, 63) is white in every layer: the brightest cell. Cell (0, 0) is six cyan-ish layers.
    const cv::Mat card = cv::imread((dir / "orvane-demo/card-simulated.png").string(), cv::IMREAD_UNCHANGED);
    ASSERT_EQ(card.size(), cv::Size(640, 160));
    const cv::Vec3b white = card.at<cv::Vec3b>(155, 635), cyan = card.at<cv::Vec3b>(5, 5);
    EXPECT_GT(white[0] + white[1] + white[2], cyan[0] + cyan[1] + cyan[2]);
    EXPECT_LT(cyan[2], cyan[0]);  // cyan stops red (the last channel) most

    // The smallest card (a pixel a cell), equal layer bounds and a contrast given by hand are taken.
    ASSERT_EQ(RunTool("card --simulate --cell-pixels 1 --out c", dir).status, 0);
    EXPECT_EQ(cli_test::Digests(dir / "c"), "card-simulated.png 7af1731d39fe318e\norvane-run.json c881e94de4849cc9\n") << "pinned like the relief's files";
    const cli_test::RunResult manual = RunTool("translucent c/card-simulated.png orvane-demo/photo.png --width 24 --contrast "
                                               "0.25 --brightness -0.1 --min-layers 7 --max-layers 7 --only preview "
                                               "--card-as-is --json --out m", dir);
    EXPECT_TRUE(manual.status == 0 && Json::parse(manual.out)["contrast"] == 0.25) << manual.err;
    EXPECT_EQ(cli_test::FileNames(dir / "m"), (std::vector<std::string>{"orvane-run.json", "preview.png"}));
}

TEST_F(RoadsEndToEnd, ProgressBarOnATerminalUnlessQuiet)
{
    if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no 'script' to make a terminal";
    // script(1) runs the tool on a pseudo-terminal and copies what the terminal showed.
    for (const std::string quiet : {"", " --quiet"}) {
        SCOPED_TRACE("quiet: " + quiet);
        const std::string command = "cd '" + dir.string() + "' && script -qec \"'" + std::string(ORVANE_TOOL) +
                                    "' card --cell-size 1 --only 3mf" + quiet + "\" /dev/null > terminal.txt 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
        const std::string shown = cli_test::ReadText(dir / "terminal.txt");
        // The finished bar ends its line, so what follows does not overwrite it.
        EXPECT_EQ(shown.find("card meshes") != std::string::npos && std::regex_search(shown, std::regex("100%\r?\n")),
                  quiet.empty()) << shown;
    }
}

TEST_F(RoadsEndToEnd, HeightControlsWarningsVersionAndCleanStandardOutput)
{
    // 256 greys, one per column: inverting the ramp gives exactly the mirrored ramp, which the
    // inversion must reach before the power curve bends it.
    cv::Mat mirrored;
    cv::flip(orvane_test::MakeRamp(256, 2), mirrored, 1);
    ASSERT_TRUE(cv::imwrite((dir / "ramp.png").string(), orvane_test::MakeRamp(256, 2)));
    ASSERT_TRUE(cv::imwrite((dir / "mirrored.png").string(), mirrored));
    const std::string relief = " --width 128 --pixel-size 0.5 --colour 000000:1 --colour ffffff:0.2 --levels 8 --out ";
    for (const std::string& run : {"ramp.png --invert --gamma 2 --only body" + relief + "a",
                                   "mirrored.png --gamma 2 --only body" + relief + "b",
                                   "mirrored.png --only body" + relief + "c"})
        ASSERT_EQ(RunTool("relief " + run, dir).status, 0) << run;
    EXPECT_EQ(cli_test::ReadText(dir / "a/relief.stl"), cli_test::ReadText(dir / "b/relief.stl"));
    EXPECT_NE(cli_test::ReadText(dir / "b/relief.stl"), cli_test::ReadText(dir / "c/relief.stl"));

    // The layer analysis' fit reaches standard output only when asked for.
    EXPECT_EQ(RunTool("relief ramp.png --only stack" + relief + "d", dir).out, "") << "nothing unless asked";
    EXPECT_NE(RunTool("relief ramp.png --only stack --plan edges --verbose" + relief + "d", dir).out.find('['), std::string::npos);
    EXPECT_NE(RunTool("relief ramp.png --only stack --timings" + relief + "d", dir).err.find(" s  planning colours\n"),
              std::string::npos) << "each stage's time, when asked";
    // A filament by transmission distance: one 0.2 mm layer of a 0.8 mm TD stops a quarter of the
    // light. The colour error is reported, and drawn beside the photo and the preview.
    const Json td = Json::parse(RunTool("relief ramp.png --colour 000000:1 --colour ffffff@0.8 --layer-height 0.2 "
                                        "--width 128 --pixel-size 0.5 --only fidelity --json --out t", dir).out);
    EXPECT_TRUE(td["stack"].back()["opacity"] == 0.25 && td["colour_error"]["mean"] > 0.0) << td;
    EXPECT_EQ(cv::imread((dir / "t/fidelity.png").string()).size(), cv::Size(3 * 256, 2));
    // Sizes finer than a nozzle prints are warned about, and the work is still done.
    const cli_test::RunResult fine = RunTool("card --cell-size 0.2 --layer-height 0.02 --only 3mf --out w", dir);
    EXPECT_TRUE(fine.status == 0 && std::count(fine.err.begin(), fine.err.end(), '\n') == 2 &&
                fine.err.find("warning: --cell-size 0.2 mm is finer than a 0.4 mm nozzle") != std::string::npos)
        << fine.err;
    EXPECT_EQ(RunTool("--version", dir).out + RunTool("card --version", dir).out,
              "orvane " ORVANE_VERSION "\norvane " ORVANE_VERSION "\n");
}

// The highest point of the triangles of an STL that lie wholly where xFrom < x < xTo and y > yFrom
// (seen from above: between two columns, above a row), or -1 when none does.
static double HighestWhere(const std::filesystem::path& stl, double xFrom, double xTo, double yFrom = -1e9)
{
    const std::string bytes = cli_test::ReadText(stl);
    double highest = -1.0;
    float v[9];  // the corners of a facet, after its normal
    for (size_t at = 96; at + sizeof v <= bytes.size() && std::memcpy(v, bytes.data() + at, sizeof v); at += 50)
        if (std::min({v[0], v[3], v[6]}) > xFrom && std::max({v[0], v[3], v[6]}) < xTo && std::min({v[1], v[4], v[7]}) > yFrom)
            highest = std::max({highest, double(v[2]), double(v[5]), double(v[8])});
    return highest;
}

// Left of `column` of the picture, x = column * pixel seen from above (the picture upright).
static double HighestLeftOf(const std::filesystem::path& stl, double column, double pixel)
{
    return HighestWhere(stl, -1e9, column * pixel);
}

TEST_F(RoadsEndToEnd, TransparentBackgroundIsCutAboveTheBaseAndFramingKeepsTheAspect)
{
    cv::Mat photo, bgra;
    cv::resize(cv::imread(ORVANE_SAMPLE_PHOTO), photo, {96, 64}, 0, 0, cv::INTER_AREA);
    cv::cvtColor(photo, bgra, cv::COLOR_BGR2BGRA);
    bgra(cv::Rect(0, 0, 96, 20)).setTo(cv::Scalar::all(0));  // a transparent top
    ASSERT_TRUE(cv::imwrite((dir / "top.png").string(), bgra) &&
                cv::imwrite((dir / "bottom.png").string(), photo(cv::Rect(0, 20, 96, 44))));
    cv::cvtColor(photo, bgra, cv::COLOR_BGR2BGRA);
    bgra(cv::Rect(0, 0, 40, 64)).setTo(cv::Scalar::all(0));  // a black, transparent left part
    ASSERT_TRUE(cv::imwrite((dir / "cut.png").string(), bgra) && cv::imwrite((dir / "photo.png").string(), photo) &&
                cv::imwrite((dir / "square.png").string(), photo(cv::Rect(16, 0, 64, 64))));
    ASSERT_EQ(RunTool("card --simulate --cell-pixels 1 --out c", dir).status, 0);
    const cli_test::RunResult translucent = RunTool("translucent c/card-simulated.png cut.png --width 48 --pixel-size 0.5 --card-as-is --out t", dir);
    EXPECT_TRUE(translucent.status == 0 && translucent.err.empty()) << "no progress bar but on a terminal: " << translucent.err;
    for (const std::string line : {"relief cut.png --width 48 --pixel-size 0.5 --only preview,body,colours --out r",
                                   "relief photo.png --width 40 --height 40 --pixel-size 0.5 --only preview --out crop",
                                   "relief square.png --width 40 --pixel-size 0.5 --only preview --out square",
                                   "relief photo.png --width 48 --height 48 --pixel-size 0.5 --fit pad --out pad",
                                   "relief photo.png --width 48 --pixel-size 0.5 --border 2 --only preview,body --out b",
                                   "relief top.png --width 48 --pixel-size 0.5 --only body,preview --out top",
                                   "relief bottom.png --width 48 --pixel-size 0.5 --only preview --out bottom"})
        ASSERT_EQ(RunTool(line, dir).status, 0) << line;
    EXPECT_NE(RunTool("relief photo.png --width 48 --pixel-size 0.1 --only stack", dir).err.find("more than 4 times"),
              std::string::npos) << "96 photo pixels across make 480 working pixels";

    // Left of column 40 the preview shows the checkerboard, the meshes only the base (0.2 + 2 x 0.1
    // mm), the translucent materials nothing and its body a plate one layer thick.
    const cv::Mat preview = cv::imread((dir / "r/preview.png").string());
    int checkered = 0;
    for (int r = 0; r < 64; ++r)
        for (int c = 0; c < 40; ++c) checkered += preview.at<cv::Vec3b>(r, c) == cv::Vec3b::all((r / 8 + c / 8) % 2 ? 204 : 255);
    EXPECT_EQ(checkered, 40 * 64);
    for (const std::string& name : cli_test::FileNames(dir / "r"))
        EXPECT_LE(name.find(".stl") == std::string::npos ? 0.0 : HighestLeftOf(dir / "r" / name, 39.5, 0.5), 0.4 + 1e-4) << name;
    EXPECT_NEAR(HighestLeftOf(dir / "r/relief.stl", 39.5, 0.5), 0.4, 1e-4);
    EXPECT_GT(HighestLeftOf(dir / "r/relief.stl", 96, 0.5), 1.0);
    // The translucent print is read from below, through its six colour layers (0.6 mm) under the
    // body: seen from above, the picture's left part lies on the right, from x = 48 - 20 mm.
    EXPECT_NEAR(HighestWhere(dir / "t/body.stl", 48 - 19.75, 1e9), 0.7, 1e-4);
    EXPECT_GT(HighestWhere(dir / "t/body.stl", -1e9, 48 - 20.25), 0.8);
    for (const std::string name : {"material-0.stl", "material-1.stl", "material-2.stl", "material-3.stl"})
        EXPECT_EQ(HighestWhere(dir / "t" / name, 48 - 19.75, 1e9), -1.0) << name;
    EXPECT_TRUE(orvane_test::Same(cv::imread((dir / "crop/preview.png").string()), cv::imread((dir / "square/preview.png").string())));
    const cv::Mat padded = cv::imread((dir / "pad/preview.png").string());  // 96 x 64 centred in 96 x 96
    for (const int row : {0, 12, 84, 95})
        EXPECT_EQ(padded.at<cv::Vec3b>(row, 8), cv::Vec3b::all((row / 8 + 1) % 2 ? 204 : 255)) << "padding is background, row " << row;
    EXPECT_EQ(cv::imread((dir / "b/preview.png").string()).size(), cv::Size(104, 72)) << "2 mm: 4 pixels of base plate each side";
    EXPECT_NEAR(HighestLeftOf(dir / "b/relief.stl", 3.5, 0.5), 0.4, 1e-4);
    // Seen from above the picture stands upright: its cut-out top is at the far side (largest y).
    EXPECT_NEAR(HighestWhere(dir / "top/relief.stl", -1e9, 1e9, 32 - 19.5 * 0.5), 0.4, 1e-4);
    EXPECT_GT(HighestWhere(dir / "top/relief.stl", -1e9, 1e9, 0.0), 1.0);
    // What is left out takes no part in the levels: the kept part looks as the same part alone.
    EXPECT_TRUE(orvane_test::Same(cv::imread((dir / "top/preview.png").string())(cv::Rect(0, 20, 96, 44)),
                                  cv::imread((dir / "bottom/preview.png").string())));
}

TEST_F(RoadsEndToEnd, PaletteChoosesTheFilamentsThatPrintThePhotoBest)
{
    cv::Mat photo(40, 60, CV_8UC3, cv::Scalar(40, 40, 190));  // red, under a black and over a white band
    photo.rowRange(0, 10).setTo(cv::Scalar::all(0));
    photo.rowRange(30, 40).setTo(cv::Scalar::all(255));
    ASSERT_TRUE(cv::imwrite((dir / "photo.png").string(), photo));
    cli_test::WriteText(dir / "spools.txt", "000000:1 black\nffffff@0.8 white\n1d3f8c:0.5 navy\nb22222:0.5 red\n4caf50:0.5 green\n");
    const cli_test::RunResult run = RunTool("palette photo.png --from spools.txt --count 3 --out p", dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string chosen = cli_test::ReadText(dir / "p/palette.txt");
    EXPECT_EQ(chosen.substr(chosen.find('\n') + 1), "000000:1 black\nffffff@0.8 white\nb22222:0.5 red\n") << "as written";
    EXPECT_EQ(run.out, chosen);
    EXPECT_EQ(RunTool("relief photo.png --palette p/palette.txt --only stack --out r", dir).status, 0);
}
