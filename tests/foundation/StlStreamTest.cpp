#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>

#include <gtest/gtest.h>

#include "PhotosBase.h"

using Orvanes::OrvaneMesh;
using Orvanes::PhotosBase;

namespace {

using Face = Eigen::Matrix<int32_t, 3, 1>;

struct Stream {
    std::unique_ptr<const char[]> bytes;
    int size = 0;
};

Stream Serialise(OrvaneMesh mesh)
{
    Stream s;
    s.bytes.reset(PhotosBase().GetSTLStream(std::move(mesh), s.size));
    return s;
}

float FloatAt(const Stream& s, size_t offset)
{
    float v;
    std::memcpy(&v, s.bytes.get() + offset, 4);
    return v;
}

OrvaneMesh UnitTriangle(const Face& face)
{
    OrvaneMesh mesh;
    mesh.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    mesh.faces = {face};
    return mesh;
}

}  // namespace

TEST(StlStream, EmptyMeshIsHeaderAndZeroCount)
{
    OrvaneMesh mesh;
    mesh.vertices = {{1, 2, 3}};
    const Stream s = Serialise(mesh);
    ASSERT_EQ(s.size, 84);
    EXPECT_EQ(s.bytes[0], ' ');
    EXPECT_EQ(s.bytes[1], 0);
    EXPECT_EQ(s.bytes[2], 0);
    for (int i = 3; i < 80; ++i) EXPECT_EQ(s.bytes[i], ' ') << "header byte " << i;
    for (int i = 80; i < 84; ++i) EXPECT_EQ(s.bytes[i], 0);
}

TEST(StlStream, FacetRecordHoldsUnitNormalCornersAndZeroAttribute)
{
    const Stream s = Serialise(UnitTriangle(Face(0, 1, 2)));
    ASSERT_EQ(s.size, 134);
    uint32_t count;
    std::memcpy(&count, s.bytes.get() + 80, 4);
    EXPECT_EQ(count, 1u);
    const float expected[12] = {0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(FloatAt(s, 84 + 4 * size_t(i)), expected[i]) << "float " << i;
    EXPECT_EQ(s.bytes[132], 0);
    EXPECT_EQ(s.bytes[133], 0);

    const Stream reversed = Serialise(UnitTriangle(Face(0, 2, 1)));
    EXPECT_EQ(FloatAt(reversed, 92), -1.0f);

    const Stream degenerate = Serialise(UnitTriangle(Face(0, 1, 1)));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(FloatAt(degenerate, 84 + 4 * size_t(i)), 0.0f);
}

TEST(StlStream, UnusedVerticesAndRepeatedCallsDoNotChangeBytes)
{
    OrvaneMesh mesh = UnitTriangle(Face(2, 0, 1));
    mesh.vertices.push_back({0.5f, 0.25f, 3.0f});
    mesh.faces.push_back(Face(3, 1, 2));
    const Stream first = Serialise(mesh);
    const Stream second = Serialise(mesh);
    mesh.vertices.push_back({9, 9, 9});
    const Stream padded = Serialise(mesh);
    ASSERT_EQ(first.size, 84 + 50 * 2);
    ASSERT_EQ(second.size, first.size);
    ASSERT_EQ(padded.size, first.size);
    EXPECT_NE(first.bytes.get(), second.bytes.get());
    EXPECT_EQ(std::memcmp(first.bytes.get(), second.bytes.get(), size_t(first.size)), 0);
    EXPECT_EQ(std::memcmp(first.bytes.get(), padded.bytes.get(), size_t(first.size)), 0);
}

TEST(StlStream, RefusesMeshesWhoseSizeOverflowsTheSignedCount)
{
    // (2^31 - 1 - 84) / 50 = 42949671 faces still fit; one more does not.
    OrvaneMesh mesh;
    mesh.vertices = {{0, 0, 0}};
    mesh.faces.assign(42949672, Face(0, 0, 0));
    int size = -1;
    try {
        PhotosBase().GetSTLStream(std::move(mesh), size);
        FAIL() << "expected std::length_error";
    } catch (const std::length_error& e) {
        EXPECT_NE(std::string(e.what()).find("42949672"), std::string::npos) << e.what();
    }
}

TEST(StlStream, RefusesIndicesOutsideTheVertexList)
{
    for (const Face& face : {Face(0, 1, 3), Face(-1, 1, 2)}) {
        int size = 0;
        EXPECT_THROW(PhotosBase().GetSTLStream(UnitTriangle(face), size), std::out_of_range);
    }
}
