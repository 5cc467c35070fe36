// The translucent road from a photo of the whole card: the tool finds and rectifies the card,
// says what it found, and reads an ideal photo exactly as the cropped card it shows.
#include <set>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "CliHarness.h"
#include "TestImages.h"

using cli_test::Json;
using cli_test::RunTool;

using CardScan = cli_test::ToolTest;

TEST_F(CardScan, IdealPhotosOfTheCardInAnyTurnGiveTheMeshesOfTheCroppedCard)
{
    ASSERT_TRUE(cv::imwrite((dir / "photo.png").string(), orvane_test::MakePhoto(60, 40)));
    ASSERT_EQ(RunTool("card --simulate --out c", dir).status, 0);
    const std::string line = " photo.png --width 30 --pixel-size 0.5 --only materials,preview --out ";
    ASSERT_EQ(RunTool("translucent c/card-simulated.png" + line + "as-is --card-as-is", dir).status, 0);
    std::set<std::pair<int, bool>> poses;
    for (const std::string seed : {"3", "4", "5", "6"}) {  // half, none, no turn mirrored, a quarter
        SCOPED_TRACE("seed " + seed);
        ASSERT_EQ(RunTool("card --simulate --photo --ideal --seed " + seed + " --out p" + seed, dir).status, 0);
        const cli_test::RunResult run = RunTool("translucent p" + seed + "/card-photo.png" + line + "t" + seed + " --json", dir);
        ASSERT_EQ(run.status, 0) << run.err;
        const Json card = Json::parse(run.out)["card"];
        poses.insert({card["rotation"].get<int>(), card["mirrored"].get<bool>()});
        EXPECT_TRUE(card["confidence"] == 1.0 && card["warnings"].empty()) << card;
        EXPECT_NE(run.err.find("orvane: card found: turned " + std::to_string(card["rotation"].get<int>()) + " degrees"),
                  std::string::npos) << run.err;
        for (const std::string name : {"material-0.stl", "material-1.stl", "material-2.stl", "material-3.stl", "preview.png"})
            EXPECT_EQ(cli_test::ReadText(dir / ("t" + seed) / name), cli_test::ReadText(dir / "as-is" / name)) << name;
    }
    EXPECT_EQ(poses.size(), 4u);

    // The scan shows what was read: the rectified card is the cropped one, the check image the photo.
    const cli_test::RunResult scan = RunTool("card-scan p6/card-photo.png --quiet --out s", dir);
    EXPECT_TRUE(scan.status == 0 && scan.err.empty()) << scan.err;
    EXPECT_TRUE(orvane_test::Same(cv::imread((dir / "s/card-rectified.png").string()),
                                  cv::imread((dir / "c/card-simulated.png").string())));
    EXPECT_EQ(cv::imread((dir / "s/card-found.png").string()).size(), cv::imread((dir / "p6/card-photo.png").string()).size());
    // A real photo: tilted, unevenly lit, noisy, JPEG; read, and the light evened out. Its cells
    // are too small for a JPEG's colours to read within CIEDE2000 2: said, but not refused.
    ASSERT_EQ(RunTool("card --simulate --photo --seed 9 --out r", dir).status, 0);
    const cli_test::RunResult real = RunTool("card-scan r/card-photo.jpg --only rectified --json --out s2", dir);
    ASSERT_EQ(real.status, 0) << real.err;
    const Json card = Json::parse(real.out)["card"];
    EXPECT_TRUE(card["white_balanced"].get<bool>());
    EXPECT_TRUE(card["warnings"].size() == 1 && card["warnings"][0].get<std::string>().find("pixels wide in a JPEG") !=
                                                    std::string::npos) << card;
    EXPECT_EQ(cli_test::FileNames(dir / "s2"), (std::vector<std::string>{"card-rectified.png", "orvane-run.json"}));
}
