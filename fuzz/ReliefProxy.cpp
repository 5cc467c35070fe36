// The relief facade's flat interface as a host written in another language would call it:
// raw lengths, raw floats, any ints.
#include <orvane/OrvaneReliefProxy.h>

#include "ImageTargets.h"

using namespace Orvanes;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    orvane_fuzz::FuzzInput in(data, size);
    const double width = in.Number(1, 20), height = in.Number(1, 20), pixelSize = in.Number(0.5, 4);
    const std::vector<float> colours = in.Floats(static_cast<size_t>(in.Int(0, 26)));
    const std::vector<float> stack = in.Floats(static_cast<size_t>(in.Int(0, 50)));
    const int baseCount = in.Count(0, 4), layerCount = in.Count(0, 24);
    const int startLevel = in.Count(0, 24), endLevel = in.Count(0, 24);
    const double levelHeight = in.Number(0.05, 1), baseOffset = in.Number(0, 3);
    const double previewWidth = in.Number(1, 40), previewHeight = in.Number(1, 40), previewPixel = in.Number(0.25, 4);
    const std::vector<uint8_t> encoded = in.Rest();
    try {
        OrvaneReliefProxy proxy(reinterpret_cast<const char*>(encoded.data()), static_cast<int>(encoded.size()),
                                width, height, pixelSize, colours.data(), static_cast<int>(colours.size()), nullptr);
        int count = 0;
        proxy.GetAutoLayerInfo(count, baseCount, layerCount);
        proxy.GetMesh(startLevel, endLevel, levelHeight, baseOffset);
        int outWidth = 0, outHeight = 0, outSize = 0;
        proxy.UpdatePreviewImage(stack.data(), static_cast<int>(stack.size()), outWidth, outHeight, outSize,
                                 baseCount, previewWidth, previewHeight, previewPixel);
    } catch (const std::exception&) {
    }
    return 0;
}
