// Encoded bytes through the relief model: decoding, the proposed stack, the preview, the
// height-map mesh and the colour meshes, at sizes a host might ask for.
#include <orvane/PhotosRelief.h>

#include "ImageTargets.h"

using namespace Orvanes;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    orvane_fuzz::FuzzInput in(data, size);
    const double width = in.Number(1, 20), height = in.Number(1, 20), pixelSize = in.Number(0.5, 4);
    std::vector<LayerEntry> palette(static_cast<size_t>(in.Int(0, 6)));
    for (LayerEntry& entry : palette) entry << in.Byte(), in.Byte(), in.Byte(), in.Byte() / 255.0f;
    const int baseCount = in.Count(0, 4), layerCount = in.Count(0, 24);
    const uint8_t operations = in.Byte();
    try {
        PhotosRelief relief(orvane_fuzz::Encoded(in.Rest()), width, height, pixelSize, nullptr, palette);
        std::vector<LayerEntry> stack;
        relief.GetAutoLayerInfo(stack, baseCount, layerCount);
        relief.UpdatePreviewImage(stack, baseCount, width, height, pixelSize);
        if (operations & 1) relief.GetMesh(0, layerCount, 0.2, 1.0);
        if (operations & 2) {
            std::vector<OrvaneMesh> meshes;
            std::vector<LayerEntry> colours;
            relief.GetVoxMeshes(stack, 0.2, 0.4, baseCount, pixelSize, meshes, colours);
        }
    } catch (const std::exception&) {
        // Refusals are documented results; only memory errors and undefined behaviour count.
    }
    return 0;
}
