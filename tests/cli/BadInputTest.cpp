// Every mistake a person can type is caught before any work: one line on standard error,
// exit status 2, nothing on standard output and no file or folder left behind.
#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include <csignal>
#include <cstring>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "CliHarness.h"
#include "OutputFolder.h"
#include "TestImages.h"

using cli_test::RunTool;

using BadInput = cli_test::ToolTest;

TEST_F(BadInput, MistakesAndFailedWritesAreReportedOnOneLineLeavingNothingBehind)
{
    for (const auto& [name, size] : {std::pair<const char*, cv::Size>{"photo.png", {40, 30}}, {"card.png", {128, 32}},
                                     {"preview.png", {40, 30}}, {"square.png", {16, 16}}, {"thin.png", {1, 100}}})
        ASSERT_TRUE(cv::imwrite((dir / name).string(), orvane_test::MakePhoto(size.width, size.height)));
    std::ostringstream big;
    for (int k = 0; k < 255; ++k) big << std::hex << 0x100000 + k * 3 << ":0.5\n";
    // navy-base: the library sorts blue first, so red, not navy, is the base colour of these two.
    for (const auto& [name, text] : std::map<std::string, std::string>{
             {"notes.png", "this is not a picture"},
             {"palette.txt", "; my filaments\n000000:1 black\nwhite\n"},
             {"foreign.txt", "000000:1\n000000:1\nff0000:0.3\n"}, {"short.txt", "000000:1\nffffff:0.125\nffffff:0.125\n"},
             {"navy-base.txt", "000080:1\n000080:1\nff0000:0.3\n"}, {"big.txt", big.str()},
             {"occupied", "a file where the folder should go"}, {"spaced.txt", "ffffff 0.125 white\n"}, {"empty.txt", "; none\n"},
             {"bom.txt", "\xEF\xBB\xBFzzz\n"}, {"cr.txt", "000000:1\rqqq\r"}, {"cr2.txt", "000000:1\rqqq\r"},
             {"nul.txt", std::string("000000:1 bl\0ack\n", 16)}, {"swaps.txt", "000000:1\nffffff:0.125\n"},
             {"lone.txt", "000000:1 bl\x80" "ck\n"}, {"long.txt", std::string(10001, '\n')}, {"names.txt", "000000:1 schwarz \xE2\x82\xAC\nffffff:0.125 wei\xC3\x9F \xF0\x9F\x99\x82\n"}})
        cli_test::WriteText(dir / name, text);
    ASSERT_EQ(::mkfifo((dir / "fifo.txt").c_str(), 0600), 0);
    const std::vector<char> png = orvane_test::PngChars(orvane_test::MakePhoto(4, 4));
    std::string bomb(png.begin(), png.end());
    bomb.replace(16, 8, std::string("\0\0\x75\x30\0\0\x75\x30", 8));  // a header claiming 30000 x 30000
    cli_test::WriteText(dir / "bomb.png", bomb);
    bomb.replace(16, 8, std::string("\0\1\0\0\0\1\0\1", 8));  // 65536 x 65537: wraps to 65536 in 32 bits
    cli_test::WriteText(dir / "wrap.png", bomb);
    // A WebP start the image library turns down, then its DICOM reader's mark: that reader aborted.
    std::string dicom(134, '\0');
    cli_test::WriteText(dir / "dicom.webp", dicom.replace(0, 24, "\x52\x49\x46\x46\x06\x01\x00\x00\x57\x45\x42\x50\x56\x50\x38\x4c\xf9\x00\x00\x00\xda\x17\xc0\x03", 24).replace(128, 6, "DICMI\0", 6));
    cli_test::WriteText(dir / "huge.png", "");
    std::filesystem::resize_file(dir / "huge.png", (std::uintmax_t(512) << 20) + 1);  // sparse: costs no disk
    std::filesystem::resize_file(dir / "cr.txt", (std::uintmax_t(1) << 20) + 1);
    std::vector<uint8_t> jpeg;  // an interrupted download
    cv::imencode(".jpg", orvane_test::MakePhoto(120, 90), jpeg);
    cli_test::WriteText(dir / "cut.jpg", std::string(jpeg.begin(), jpeg.begin() + jpeg.size() * 3 / 4));
    cli_test::WriteText(dir / "whole.jpg", std::string(jpeg.begin(), jpeg.end()));
    cv::Mat mask(30, 40, CV_8U, cv::Scalar(0));
    ASSERT_TRUE(cv::imwrite((dir / "black.png").string(), mask) && cv::imwrite((dir / "half.png").string(), mask.setTo(255, orvane_test::MakeRamp(40, 30) > 127)));
    const std::vector<std::string> before = cli_test::FileNames(dir);

    // Each command line is split at spaces; the message must appear in the one line printed.
    struct Case { std::string line, message; int status = 2; };
    std::vector<Case> cases = {
        {"relief cut.jpg", "the photo 'cut.jpg' is damaged (cut short or corrupt)", 1},
        {"relief photo.png --palette spaced.txt", "spaced.txt:1: 'ffffff 0.125 white': a number after the colour"},
        {"card --simulate --only 3mf", "--only does not apply to --simulate"},
        {"card --cell-pixels 4", "--cell-pixels applies only to --simulate"},
        {"relief -no-such.png", "cannot read the photo '-no-such.png'"},  // a single dash starts no option
        {"relief notes.png", "the photo 'notes.png' is not an image", 1},
        {"translucent missing-card.png photo.png", "cannot read the card"},
        {"translucent card.png notes.png", "the photo 'notes.png' is not an image", 1},
        {"card --cell-size 1e-300", "--cell-size must be at least 0.001 mm, not 1e-300"},
        {"relief photo.png --width 200 --pixel-size 0.2", "1000 x 750 pixels would blow up 40 x 30 photo pixels more than 16 times"},
        {"translucent card.png thin.png", "250 x 25000 pixels would blow up 1 x 100 photo pixels"},
        {"relief photo.png --width 64 --pixel-size 0.1 --border 200", "--border 200 grows the working image to 4640 x 4480 pixels"},
        {"relief bomb.png", "the photo 'bomb.png' declares 30000 x 30000 pixels; at most 100000000 are read", 1},
        {"relief wrap.png", "the photo 'wrap.png' declares 65536 x 65537 pixels", 1},
        {"relief dicom.webp", "the photo 'dicom.webp' is not an image", 1},
        {"relief photo.png --palette fifo.txt", "the colour file 'fifo.txt' is not a file"},
        {"relief photo.png --palette /dev/zero", "is not a file"}, {"relief photo.png --palette bom.txt", "bom.txt:1: 'zzz' is"},
        {"relief photo.png --palette swaps.txt --stack cr2.txt", "cr2.txt:2: 'qqq' is"},
        {"relief photo.png --palette cr.txt", "the colour file 'cr.txt' is 1048577 bytes; at most 1 MiB is read"}, {"relief photo.png --palette nul.txt", "nul.txt:1: holds a control"},
        {"relief photo.png --palette lone.txt", "lone.txt:1:"}, {"relief photo.png --palette long.txt", "has 10001 lines; at most 10000 are read"},
        {"palette photo.png", "palette needs --from FILE"}, {"palette photo.png --from empty.txt", "holds no filaments"},
        {"palette photo.png --from swaps.txt --count 3", "--count must lie between 1 and 2"},
        {"relief photo.png --fit squeeze", "--fit must be crop, pad or stretch, not 'squeeze'"},
        {"relief photo.png --background none", "--background must be cut or keep"},
        {"relief photo.png --mask half.png --background keep", "--background keep prints everything"},
        {"translucent card.png photo.png --mask card.png", "the mask is 128 x 32 pixels; the photo is 40 x 30"},
        {"relief photo.png --crop 0,0,41,30", "does not lie inside the photo of 40 x 30 pixels"},
        {"relief photo.png --crop 0,0,0,30", "does not lie inside"},
        {"relief photo.png --json --out bad\xff", "the folder name 'bad\xff' is not UTF-8"},
        {"relief photo.png --crop 1,2,3", "needs four numbers"}, {"relief photo.png --crop 1,2,3,a", "must be a number"},
        {"relief photo.png --mask black.png", "leave nothing to print"},
        {"relief photo.png --mask half.png --base-levels 0", "a cut-out background needs a base"},
        {"translucent photo.png photo.png --card-as-is", "64 x 16"},
        {"translucent photo.png card.png", "the card 'photo.png': no colour card found", 1},  // swapped
        {"card-scan photo.png --out s", "no colour card found", 1},
        {"card --photo", "--photo applies only to --simulate"}, {"card --simulate --ideal", "--ideal applies only to --simulate --photo"},
        {"relief photo.png --width=-5", "--width must be greater than 0"},
        {"relief photo.png --quiet=yes", "option --quiet takes no value"},
        {"relief photo.png --width ten", "--width must be a number, not 'ten'"}, {"relief photo.png --width nan", "must be a number"},
        {"relief photo.png --width 10 --height 10 --pixel-size 6", "gives 1 x 1 pixels"},
        {"relief photo.png --width 100 --height 1 --pixel-size 0.6", "at least 2 x 2"},
        {"relief photo.png --width 400 --pixel-size 0.1", "4000 x 3000 pixels; at most 10000000"},
        {"relief photo.png --width 10001", "the print would be 10001 x 7500.75 mm; at most 10000 mm"},
        {"relief photo.png --height 9000", "at most 10000 mm either way"},
        {"card --layer-height 101", "--layer-height must be at most 100"},
        {"relief .", "the photo '.' is not a file"}, {"relief ph\x1b[2Joto.png", "'ph\\x1b[2Joto.png'"}, {"relief huge.png", "at most 512 MiB"},
        {"relief preview.png --out .", "would overwrite the input 'preview.png'"},
        {"relief photo.png --only swaps --palette swaps.txt --out .", "would overwrite the input"},
        {"relief photo.png --out occupied", "'occupied' is not a folder"},
        {"translucent card.png photo.png --width 3 --pixel-size 2", "at least 2 x 2"},
        {"translucent card.png photo.png --width 16 --pixel-size 1", "16 x 12 pixels is too low for its width"},
        {"relief photo.png --palette palette.txt", "palette.txt:3:"},
        {"relief photo.png --palette no-palette.txt", "cannot read the colour file 'no-palette.txt': No such file or directory"},
        {"card --materials 00ffff,ff00ff,ffff00", "needs four colours"},
        {"card --materials 00ffff,ff00ff,ffff00,ffffff,000000", "needs four colours"},
        {"card --materials 00ffff,ff00ff,ffff00,white", "'white' is not a colour"},
        {"relief photo.png --palette big.txt", "255 colours given; a relief takes at most 254"},
        {"relief photo.png --stack foreign.txt --base-levels 1", "stack level 3 (ff0000:0.3) is not a palette colour"},
        {"relief photo.png --stack short.txt --levels 5 --base-levels 1", "disagrees"},
        {"relief photo.png --colour 000080:1 --colour ff0000:0.3 --stack navy-base.txt --base-levels 2",
         "stack level 1 (000080:1) is a base level and must be ff0000:0.3"},
        {"relief photo.png --levels 3 --base-levels 5", "the level count (3) must exceed the base level count (5)"},
        {"relief photo.png --levels 4 --base-levels 4", "must exceed"}, {"relief photo.png --levels 2.5", "whole number"},
        {"relief photo.png --base-levels 0 --first-layer-height 0.05", "with no base levels the first layer must be"},
        {"relief photo.png --levels 600", "--levels must lie between 1 and 512"},
        {"relief photo.png --base-levels -1", "--base-levels must lie between"},
        {"translucent card.png photo.png --min-layers 10 --max-layers 8", "--max-layers (8) must not be below --min-layers (10)"},
        {"translucent card.png photo.png --min-layers 5", "--min-layers must lie between 6"},
        {"translucent card.png photo.png --auto-contrast --contrast 0.3", "leave out --contrast"},
        {"", "no command given"}, {"sculpt", "unknown command 'sculpt'"}, {"relief", "needs PHOTO"},
        {"relief photo.png extra.png", "unexpected argument 'extra.png'"},
        {"relief photo.png --colours ff0000", "unknown option --colours"},
        {"relief photo.png --width", "option --width needs a value"}, {"relief photo.png --width 5 --width 6", "more than once"},
        {"relief photo.png --only body,mesh", "unknown output 'mesh'"},
        {"relief photo.png --quiet --out occupied/sub", "cannot write into 'occupied/sub'"},
    };
    for (const std::string option : {"--width", "--height", "--pixel-size", "--layer-height", "--first-layer-height",
                                     "--gamma", "--border"})
        cases.push_back({"relief photo.png " + option + " 0", option + " must be greater than 0"});
    for (const std::string colour : {"ff00", "ff8800a", "red", "#12345g", "ff0000:", "ff0000:2", "ff0000:-1", "0f0f0f:.5x",
                                     "b22222@0", "b22222@101", "b22222@nan", "b22222@1:0.3"})
        cases.push_back({"relief photo.png --colour " + colour, "'" + colour + "' is not a colour"});
    for (const auto& [line, message, status] : cases) {
        SCOPED_TRACE("orvane " + line);
        const cli_test::RunResult run = RunTool(line, dir);
        EXPECT_TRUE(run.status == status && run.out.empty()) << run.status << ", work began before the refusal: " << run.out;
        EXPECT_TRUE(run.err.rfind("orvane: ", 0) == 0 && std::count(run.err.begin(), run.err.end(), '\n') == 1 &&
                    run.err.find(message) != std::string::npos) << run.err;
        EXPECT_EQ(cli_test::FileNames(dir), before) << "something was left behind";
    }
    rusage children{};  // the largest of the refused runs (kB): a few hostile bytes must not cost a gigabyte
    EXPECT_TRUE(::getrusage(RUSAGE_CHILDREN, &children) == 0 && children.ru_maxrss < (1 << 20)) << children.ru_maxrss;
    for (const std::string line : {"cut.jpg --accept-damaged", "whole.jpg", "whole.jpg --base-levels 0",
                                   "photo.png --palette names.txt --levels 3 --base-levels 2",  // UTF-8 names
                                   "photo.png --colour 000000@100 --colour ffffff@0.5 --levels 4 --base-levels 1",  // the thickest TD
                                   "photo.png --width 1 --height 1 --pixel-size 0.5",  // 2 x 2, the fewest
                                   "photo.png --crop 0,0,1,30 --width 4 --pixel-size 0.5"})  // the narrowest crop
        EXPECT_EQ(RunTool("relief " + line + " --only stack --out d", dir).status, 0) << line;
    EXPECT_EQ(RunTool("palette photo.png --from swaps.txt --count 2 --out d", dir).status, 0) << "the highest count";
    // The fewest pixels still fill the picture asked for: 2 x 2 pixels of 0.5 mm make 1 x 1 mm.
    ASSERT_EQ(RunTool("relief photo.png --width 1 --height 1 --pixel-size 0.5 --only body --out s", dir).status, 0);
    const std::string stl = cli_test::ReadText(dir / "s/relief.stl");
    float x[2] = {1e9f, -1e9f}, y[2] = {1e9f, -1e9f}, point[3];
    for (size_t at = 84; at + 50 <= stl.size(); at += 50)
        for (size_t corner = 12; corner <= 36; corner += 12) {
            std::memcpy(point, stl.data() + at + corner, 12);
            x[0] = std::min(x[0], point[0]), x[1] = std::max(x[1], point[0]), y[0] = std::min(y[0], point[1]), y[1] = std::max(y[1], point[1]);
        }
    EXPECT_TRUE(std::abs(x[1] - x[0] - 1) < 1e-5f && std::abs(y[1] - y[0] - 1) < 1e-5f) << x[0] << " " << x[1] << " " << y[0] << " " << y[1];
    // A notice that echoes a folder's name shows its control bytes escaped, as failures do.
    std::filesystem::create_directories(dir / "d" / "o\x1b[2J");
    cli_test::WriteText(dir / "d" / "o\x1b[2J" / ".a.txt.partial-Ab12Cd", "left by a killed run");
    const cli_test::RunResult tidy = RunTool("relief photo.png --only stack --out d/o\x1b[2J", dir);
    EXPECT_TRUE(tidy.status == 0 && tidy.err.find("left in 'd/o\\x1b[2J'") != std::string::npos &&
                tidy.err.find('\x1b') == std::string::npos) << tidy.err;
    // As many pixels as the 256 colours the photo is reduced to: just enough.
    EXPECT_EQ(RunTool("translucent card.png square.png --width 16 --pixel-size 1 --card-as-is --only preview --out d", dir).status, 0);
}

// Files appear under their names only when the whole run succeeded: a run that fails leaves
// neither its files nor temporary ones nor the folders it made, and never disturbs what was there.
TEST_F(BadInput, OutputFolderShowsAWholeRunOrNothingOfIt)
{
    {
        orvane_cli::OutputFolder folder((dir / "made/on/demand").string());
        EXPECT_FALSE(std::filesystem::exists(dir / "made")) << "created before the first write";
        folder.Write("b.txt", "stack", std::string("never committed"));
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "made")) << "a failed run leaves the folders it made";

    std::filesystem::create_directories(dir / "made/on/demand");
    cli_test::WriteText(dir / "made/on/demand/.relief.stl.partial-Ab12Cd", "left by a run that was killed");
    {
        orvane_cli::OutputFolder folder((dir / "made/on/demand").string());
        folder.Write("a.txt", "stack", std::string("first"));
        EXPECT_FALSE(std::filesystem::exists(dir / "made/on/demand/.relief.stl.partial-Ab12Cd"));
        orvane_cli::OutputFolder second((dir / "made/on/demand").string());  // a second run at the same time
        EXPECT_THROW(second.Write("b.txt", "stack", std::string("mixed in")), std::runtime_error);
        folder.Write("a.txt", "stack", std::string("second, longer"));
        EXPECT_FALSE(std::filesystem::exists(dir / "made/on/demand/a.txt")) << "before the run is complete";
        folder.Commit();
        EXPECT_TRUE(folder.Files().size() == 1 && folder.Files()[0].bytes == 14) << "one a.txt, the second";
    }
    const std::string path = (dir / "made/on/demand/a.txt").string();
    const mode_t mask = ::umask(0);  // a new file of this user's, not mkstemp's private mode
    ::umask(mask);
    EXPECT_EQ(cli_test::ReadText(path), "second, longer");
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0666 & ~mask));

    // A folder in the way of one name: no file of the run is put in place, the earlier a.txt stays.
    std::filesystem::create_directories(dir / "made/on/demand/taken/inside");
    {
        orvane_cli::OutputFolder folder((dir / "made/on/demand").string());
        folder.Write("a.txt", "stack", std::string("third"));
        folder.Write("taken", "stl", std::string(1 << 20, 'x'));
        EXPECT_THROW(folder.Commit(), std::runtime_error);
    }
    EXPECT_EQ(cli_test::ReadText(path), "second, longer");
    EXPECT_EQ(cli_test::FileNames(dir / "made/on/demand"), (std::vector<std::string>{"a.txt", "taken"}));
}

// A run killed part way leaves the files of the run before it as they were and none of its own
// under a real name; the next run into the folder takes its temporary files away.
TEST_F(BadInput, KilledRunLeavesTheEarlierFilesAndTheNextRunTidiesUp)
{
    ASSERT_TRUE(cv::imwrite((dir / "photo.png").string(), orvane_test::MakePhoto(160, 120)));
    const std::string line = "relief photo.png --width 80 --pixel-size 0.2 --only preview,body,colours,3mf --quiet --out o";
    ASSERT_EQ(RunTool(line + " --levels 8", dir).status, 0);
    const std::map<std::string, std::string> before = [&] {
        std::map<std::string, std::string> files;
        for (const std::string& name : cli_test::FileNames(dir / "o")) files[name] = cli_test::ReadText(dir / "o" / name);
        return files;
    }();
    for (const int waitMs : {50, 400, 1500}) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::chdir(dir.c_str()) == 0)
                ::execl("/bin/sh", "sh", "-c", ("exec " + std::string(ORVANE_TOOL) + " " + line + " --levels 12").c_str(), nullptr);
            ::_exit(127);
        }
        ::usleep(useconds_t(waitMs) * 1000);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        if (WIFEXITED(status)) continue;  // finished before the kill: nothing to see
        for (const auto& [name, bytes] : before) EXPECT_EQ(cli_test::ReadText(dir / "o" / name), bytes) << name << " after " << waitMs << " ms";
        for (const std::string& name : cli_test::FileNames(dir / "o"))
            EXPECT_TRUE(before.count(name) || name[0] == '.') << name << " in place after a kill at " << waitMs << " ms";
    }
    const cli_test::RunResult next = RunTool(line + " --levels 12", dir);
    ASSERT_EQ(next.status, 0) << next.err;
    for (const std::string& name : cli_test::FileNames(dir / "o")) EXPECT_NE(name[0], '.') << name << " left behind";
}

// Two runs into one folder at once: one refuses with one line, or both finish one after the
// other; the folder then holds exactly one run's files, its manifest naming each of them.
TEST_F(BadInput, TwoRunsIntoOneFolderAtOnceLeaveOneRunsFiles)
{
    ASSERT_TRUE(cv::imwrite((dir / "photo.png").string(), orvane_test::MakePhoto(160, 120)));
    const std::string line = "relief photo.png --width 80 --pixel-size 0.2 --only preview,body --quiet --out o";
    const auto start = [&](const std::string& extra) {
        const pid_t child = ::fork();
        if (child == 0) {
            if (::chdir(dir.c_str()) == 0)
                ::execl("/bin/sh", "sh", "-c", ("exec " + std::string(ORVANE_TOOL) + " " + line + extra + " 2>>errors.txt").c_str(), nullptr);
            ::_exit(127);
        }
        return child;
    };
    const pid_t first = start(" --levels 8"), second = start(" --levels 12");
    int statuses[2] = {};
    ::waitpid(first, &statuses[0], 0);
    ::waitpid(second, &statuses[1], 0);
    const int finished = int(WEXITSTATUS(statuses[0]) == 0) + int(WEXITSTATUS(statuses[1]) == 0);
    EXPECT_GE(finished, 1);
    const std::string errors = cli_test::ReadText(dir / "errors.txt");
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 2 - finished) << errors;
    EXPECT_TRUE(finished == 2 || errors.find("another orvane run is writing into") != std::string::npos) << errors;
    const cli_test::Json manifest = cli_test::Json::parse(cli_test::ReadText(dir / "o/orvane-run.json"));
    std::vector<std::string> named{"orvane-run.json"};
    for (const cli_test::Json& file : manifest["files"]) {
        named.push_back(file["name"]);
        EXPECT_EQ(std::filesystem::file_size(dir / "o" / named.back()), file["bytes"].get<uintmax_t>()) << named.back();
    }
    std::sort(named.begin(), named.end());
    EXPECT_EQ(cli_test::FileNames(dir / "o"), named);
}
