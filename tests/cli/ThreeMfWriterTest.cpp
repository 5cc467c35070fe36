// The 3MF package the tool writes, read back by lib3mf: objects, colours and triangle counts
// survive; stray vertices and empty meshes are left out.
#include <filesystem>

#include <gtest/gtest.h>

#include "CliHarness.h"
#include "MeshFiles.h"
#include "Zip.h"

using namespace orvane_cli;

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

TEST(Zip, ChecksumMatchesTheStandardCheckValue)
{
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32("", 0), 0u);
}

TEST(ThreeMf, LibraryReaderSeesEveryObjectWithItsColour)
{
    const Orvanes::OrvaneMesh red = Tetrahedron(0), blue = Tetrahedron(3), empty;
    const std::vector<ColouredMesh> meshes = {
        {"red & <co>", &red, 255, 0, 0}, {"nothing", &empty, 0, 255, 0}, {"blue", &blue, 0, 0, 255}};
    const std::string package = ThreeMfPackage(meshes);
    const std::filesystem::path path = std::filesystem::path(testing::TempDir()) / "orvane-writer-test.3mf";
    cli_test::WriteText(path, package);
    const std::vector<cli_test::ThreeMfObject> objects = cli_test::ReadThreeMf(path);
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[0].name, "red & <co>");
    EXPECT_EQ(objects[0].colour, "ff0000");
    EXPECT_EQ(objects[0].vertices, 4u);
    EXPECT_EQ(objects[0].triangles, 4u);
    EXPECT_TRUE(objects[0].manifold);
    EXPECT_EQ(objects[1].colour, "0000ff");
    // Same meshes, same bytes: nothing in the package depends on time or memory.
    EXPECT_EQ(package, ThreeMfPackage(meshes));
    std::filesystem::remove(path);
}
