// The tool's writers on their own. Files appear under their names only when complete: a write
// that fails leaves neither a partial file nor a temporary one, and never disturbs what was
// there. The 3MF package, read back by lib3mf, keeps objects, colours and triangle counts and
// leaves out stray vertices and empty meshes.
#include <filesystem>

#include <gtest/gtest.h>

#include "CliHarness.h"
#include "MeshFiles.h"
#include "OutputFolder.h"

using namespace orvane_cli;

using FileWriters = cli_test::ToolTest;

namespace {

// A closed tetrahedron wound outward, plus one vertex no face uses.
Orvanes::OrvaneMesh Tetrahedron(float offset)
{
    Orvanes::OrvaneMesh mesh;
    mesh.vertices = {{offset, 0, 0}, {offset + 1, 0, 0}, {offset, 1, 0}, {offset, 0, 1}, {9, 9, 9}};
    mesh.faces = {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}};
    return mesh;
}

}  // namespace

TEST_F(FileWriters, ThreeMfReaderSeesEveryObjectWithItsColour)
{
    const Orvanes::OrvaneMesh red = Tetrahedron(0), empty;
    Orvanes::OrvaneMesh blue = Tetrahedron(3);
    for (auto& vertex : blue.vertices) vertex[2] -= 2;  // below the bed, as voxel meshes hang
    const std::vector<ColouredMesh> meshes = {
        {"red & <co>", &red, 255, 0, 0}, {"nothing", &empty, 0, 255, 0}, {"blue", &blue, 0, 0, 255}};
    const std::string package = ThreeMfPackage(meshes);
    cli_test::WriteText(dir / "meshes.3mf", package);
    const std::vector<cli_test::ThreeMfObject> objects = cli_test::ReadThreeMf(dir / "meshes.3mf");
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[0].name, "red & <co>");
    EXPECT_EQ(objects[0].colour, "ff0000");
    EXPECT_EQ(objects[0].vertices, 4u);
    EXPECT_EQ(objects[0].triangles, 4u);
    EXPECT_TRUE(objects[0].manifold);
    EXPECT_EQ(objects[1].colour, "0000ff");
    // One lift for every object: the lowest stands on the bed and the others keep their place.
    EXPECT_EQ(objects[1].lowestZ, 0.0f);
    EXPECT_EQ(objects[0].lowestZ, 2.0f);
    // Same meshes, same bytes: nothing in the package depends on time or memory.
    EXPECT_EQ(package, ThreeMfPackage(meshes));
}

TEST_F(FileWriters, OutputFolderShowsCompleteFilesOnlyAndNothingAfterAFailure)
{
    OutputFolder folder((dir / "made/on/demand").string());
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
