// Meshes and pixel arrays as a host builds them, indices and sizes unchecked: the STL stream,
// the merger, and the array conversions.
#include <orvane/MeshMerging.h>
#include <orvane/PhotosBase.h>

#include "FuzzInput.h"

using namespace Orvanes;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    orvane_fuzz::FuzzInput in(data, size);
    OrvaneMesh mesh;
    mesh.vertices.resize(static_cast<size_t>(in.Int(0, 48)));
    for (Eigen::Vector3f& vertex : mesh.vertices) {
        // Small lattice coordinates mostly, so faces meet and merge; raw floats now and then.
        if (in.Byte() < 240) {
            vertex << in.Int(0, 4), in.Int(0, 4), in.Int(0, 4);
        } else {
            const std::vector<float> raw = in.Floats(3);
            vertex << raw[0], raw[1], raw[2];
        }
    }
    mesh.faces.resize(static_cast<size_t>(in.Int(0, 96)));
    const int vertexCount = static_cast<int>(mesh.vertices.size());
    for (auto& face : mesh.faces) face << in.Count(0, vertexCount), in.Count(0, vertexCount), in.Count(0, vertexCount);

    const PhotosBase base;
    try {
        int streamSize = 0;
        delete[] base.GetSTLStream(mesh, streamSize);
    } catch (const std::exception&) {
    }
    try {
        MergeCoplanarFaces(mesh);
    } catch (const std::exception&) {
    }

    // Sizes past the largest int must be refused before allocating; sizes below it are
    // allocated as asked, so they stay small here.
    static const unsigned kOdd[] = {0u, 1u << 31, ~0u};
    const auto dimension = [&in] { const uint8_t kind = in.Byte(); return kind >= 253 ? kOdd[kind - 253] : unsigned(in.Int(0, 16)); };
    const unsigned width = dimension(), height = dimension();
    const unsigned length = static_cast<unsigned>(in.Count(0, 800));
    const std::vector<uint8_t> pixels = in.Rest();
    try {
        // The length may claim more than the bytes hold: only the bytes given are passed.
        const unsigned given = std::min<unsigned>(length, static_cast<unsigned>(pixels.size()));
        cv::Mat image = PhotosBase::ArrayToMat(pixels.empty() ? nullptr : pixels.data(), width, height, given);
        int outWidth = 0, outHeight = 0, outLength = 0;
        delete[] PhotosBase::MatToArray(image, outWidth, outHeight, outLength);
    } catch (const std::exception&) {
    }
    return 0;
}
