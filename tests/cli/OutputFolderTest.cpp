// Files appear under their names only when complete: a write that fails leaves neither a
// partial file nor a temporary one, and never disturbs what was there.
#include <filesystem>

#include <gtest/gtest.h>

#include "CliHarness.h"
#include "OutputFolder.h"

using OutputFolderTest = cli_test::ToolTest;

TEST_F(OutputFolderTest, CompleteFilesOnlyAndNothingLeftAfterAFailure)
{
    orvane_cli::OutputFolder folder((dir / "made/on/demand").string());
    EXPECT_FALSE(std::filesystem::exists(dir / "made")) << "created before the first write";
    const std::string path = folder.Write("a.txt", "stack", std::string("first"));
    EXPECT_EQ(cli_test::ReadText(path), "first");
    folder.Write("a.txt", "stack", std::string("second, longer"));
    EXPECT_EQ(cli_test::ReadText(path), "second, longer");

    // A folder in the way of the final name: the rename fails after the bytes were written.
    std::filesystem::create_directories(dir / "made/on/demand/taken/inside");
    EXPECT_THROW(folder.Write("taken", "stl", std::string(1 << 20, 'x')), std::runtime_error);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "made/on/demand/taken/inside"));
    EXPECT_EQ(cli_test::FileNames(dir / "made/on/demand"), (std::vector<std::string>{"a.txt", "taken"}));
    ASSERT_EQ(folder.Files().size(), 2u);
    EXPECT_EQ(folder.Files()[1].bytes, 14u);
}
