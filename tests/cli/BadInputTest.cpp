// Every mistake a person can type is caught before any work: one line on standard error,
// exit status 2, nothing on standard output and no output folder.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "CliHarness.h"

using cli_test::RunTool;

namespace {

class BadInput : public cli_test::ToolTest {
protected:
    void SetUp() override
    {
        ToolTest::SetUp();
        cli_test::WritePng(dir / "photo.png", cli_test::MakePhoto(40, 30));
        cli_test::WritePng(dir / "card.png", cli_test::MakePhoto(128, 32));
    }

    // Runs the tool and checks the refusal; message must appear in the one line.
    void ExpectRefused(const std::vector<std::string>& args, const std::string& message)
    {
        std::string words;
        for (const std::string& a : args) words += " " + a;
        SCOPED_TRACE("orvane" + words);
        const cli_test::RunResult run = RunTool(args, dir);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("orvane: ", 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(dir / "out")) << "an output folder was left behind";
    }
};

}  // namespace

TEST_F(BadInput, MissingOrUndecodablePhotosAreNamed)
{
    ExpectRefused({"relief", "nothing-here.png", "--out", "out"}, "cannot read the photo 'nothing-here.png'");
    cli_test::WriteText(dir / "notes.png", "this is not a picture");
    ExpectRefused({"relief", "notes.png", "--out", "out"}, "the photo 'notes.png' is not an image");
    cli_test::WriteText(dir / "empty.png", "");
    ExpectRefused({"relief", "empty.png", "--out", "out"}, "is not an image");
    ExpectRefused({"translucent", "missing-card.png", "photo.png", "--out", "out"}, "cannot read the card");
    ExpectRefused({"translucent", "card.png", "notes.png", "--out", "out"}, "the photo 'notes.png' is not an image");
}

TEST_F(BadInput, SizesMustBePositiveNumbers)
{
    for (const std::string option : {"--width", "--height", "--pixel-size", "--layer-height", "--first-layer-height"})
        ExpectRefused({"relief", "photo.png", option, "0", "--out", "out"}, option + " must be greater than 0");
    ExpectRefused({"relief", "photo.png", "--width", "-5", "--out", "out"}, "--width must be greater than 0");
    ExpectRefused({"relief", "photo.png", "--width", "ten", "--out", "out"}, "--width must be a number, not 'ten'");
    ExpectRefused({"relief", "photo.png", "--width", "nan", "--out", "out"}, "must be a number");
    ExpectRefused({"translucent", "card.png", "photo.png", "--pixel-size", "0", "--out", "out"},
                  "--pixel-size must be greater than 0");
    ExpectRefused({"card", "--cell-size", "-1", "--out", "out"}, "--cell-size must be greater than 0");
}

TEST_F(BadInput, PixelSizeMustLeaveAtLeastTwoPixelsEachWay)
{
    ExpectRefused({"relief", "photo.png", "--width", "10", "--height", "10", "--pixel-size", "6", "--out", "out"},
                  "gives 1 x 1 pixels");
    ExpectRefused({"relief", "photo.png", "--width", "100", "--height", "1", "--pixel-size", "0.6", "--out", "out"},
                  "at least 2 x 2");
    ExpectRefused({"relief", "photo.png", "--width", "100000", "--pixel-size", "0.001", "--out", "out"},
                  "at most");
    ExpectRefused({"translucent", "card.png", "photo.png", "--width", "3", "--pixel-size", "2", "--out", "out"},
                  "at least 2 x 2");
}

TEST_F(BadInput, MalformedColoursAreQuotedBack)
{
    for (const std::string colour : {"ff00", "red", "ff0000:2", "ff0000:", "00ff00:0.5x", "#12345g"})
        ExpectRefused({"relief", "photo.png", "--colour", colour, "--out", "out"}, "'" + colour + "' is not a colour");
    cli_test::WriteText(dir / "palette.txt", "; my filaments\n000000:1 black\nwhite\n");
    ExpectRefused({"relief", "photo.png", "--palette", "palette.txt", "--out", "out"}, "palette.txt:3:");
    ExpectRefused({"relief", "photo.png", "--palette", "no-palette.txt", "--out", "out"},
                  "cannot read the colour file 'no-palette.txt'");
    ExpectRefused({"card", "--materials", "00ffff,ff00ff,ffff00", "--out", "out"}, "needs four colours");
    ExpectRefused({"card", "--materials", "00ffff,ff00ff,ffff00,white", "--out", "out"}, "'white' is not a colour");
}

TEST_F(BadInput, AtMost254PaletteColours)
{
    std::ofstream palette(dir / "big.txt");
    for (int k = 0; k < 255; ++k) palette << std::hex << 0x100000 + k * 3 << ":0.5\n";
    palette.close();
    ExpectRefused({"relief", "photo.png", "--palette", "big.txt", "--out", "out"},
                  "255 colours given; a relief takes at most 254");
}

TEST_F(BadInput, LevelCountMustExceedBaseCount)
{
    ExpectRefused({"relief", "photo.png", "--levels", "3", "--base-levels", "5", "--out", "out"},
                  "the level count (3) must exceed the base level count (5)");
    ExpectRefused({"relief", "photo.png", "--levels", "4", "--base-levels", "4", "--out", "out"}, "must exceed");
    ExpectRefused({"relief", "photo.png", "--levels", "2.5", "--out", "out"}, "whole number");
    ExpectRefused({"relief", "photo.png", "--levels", "600", "--out", "out"}, "--levels must lie between 1 and 512");
    ExpectRefused({"relief", "photo.png", "--base-levels", "-1", "--out", "out"}, "--base-levels must lie between");
    ExpectRefused({"translucent", "card.png", "photo.png", "--min-layers", "10", "--max-layers", "8", "--out", "out"},
                  "--max-layers (8) must not be below --min-layers (10)");
    ExpectRefused({"translucent", "card.png", "photo.png", "--min-layers", "5", "--out", "out"},
                  "--min-layers must lie between 6");
}

TEST_F(BadInput, StackFilesMustFitThePalette)
{
    cli_test::WriteText(dir / "stack.txt", "000000:1\n000000:1\nff0000:0.3\n");
    ExpectRefused({"relief", "photo.png", "--stack", "stack.txt", "--base-levels", "1", "--out", "out"},
                  "stack level 3 (ff0000:0.3) is not a palette colour");
    cli_test::WriteText(dir / "stack.txt", "000000:1\nffffff:0.125\nffffff:0.125\n");
    ExpectRefused({"relief", "photo.png", "--stack", "stack.txt", "--levels", "5", "--base-levels", "1", "--out", "out"},
                  "disagrees");
}

TEST_F(BadInput, CommandLineMistakes)
{
    ExpectRefused({}, "no command given");
    ExpectRefused({"sculpt"}, "unknown command 'sculpt'");
    ExpectRefused({"relief"}, "needs PHOTO");
    ExpectRefused({"relief", "photo.png", "extra.png"}, "unexpected argument 'extra.png'");
    ExpectRefused({"relief", "photo.png", "--colours", "ff0000"}, "unknown option --colours");
    ExpectRefused({"relief", "photo.png", "--width"}, "option --width needs a value");
    ExpectRefused({"relief", "photo.png", "--width", "5", "--width", "6"}, "more than once");
    ExpectRefused({"relief", "photo.png", "--only", "body,mesh", "--out", "out"}, "unknown output 'mesh'");
    ExpectRefused({"translucent", "card.png", "photo.png", "--auto-contrast", "--contrast", "0.3", "--out", "out"},
                  "leave out --contrast");
    ExpectRefused({"translucent", "photo.png", "photo.png", "--out", "out"}, "64 x 16");
}

TEST_F(BadInput, FailureWhileWritingExitsOneWithoutPartialFiles)
{
    cli_test::WriteText(dir / "occupied", "a file where the folder should go");
    const cli_test::RunResult run = RunTool({"relief", "photo.png", "--quiet", "--out", "occupied/sub"}, dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("orvane: cannot create the folder 'occupied/sub'", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    for (const std::string& name : cli_test::FileNames(dir)) EXPECT_EQ(name.find(".partial"), std::string::npos);
}
