// The translucent facade's flat interface with raw lengths and any numbers.
#include <orvane/ImageLimits.h>
#include <orvane/OrvaneTranslucentProxy.h>

#include "FuzzInput.h"

using namespace Orvanes;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    SetMaxImagePixels(1 << 18);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    orvane_fuzz::FuzzInput in(data, size);
    const size_t cardLength = static_cast<size_t>(in.Int(0, 65535));
    const double width = in.Number(1, 30), height = in.Number(1, 30), pixelSize = in.Number(0.5, 4);
    const double contrast = in.Number(0, 4), brightness = in.Number(0, 200);
    const int minLayers = in.Count(0, 6), maxLayers = in.Count(0, 6);
    const double layerHeight = in.Number(0.05, 1), lastLayerHeight = in.Number(0.05, 1);
    const uint8_t operations = in.Byte();
    const std::vector<uint8_t> card = in.Bytes(cardLength);
    const std::vector<uint8_t> photo = in.Rest();
    try {
        OrvaneTranslucentProxy proxy(reinterpret_cast<const char*>(card.data()), static_cast<int>(card.size()),
                                     reinterpret_cast<const char*>(photo.data()), static_cast<int>(photo.size()),
                                     width, height, pixelSize, nullptr);
        int outWidth = 0, outHeight = 0, outSize = 0;
        if (operations & 1) {
            float automaticContrast = 0, automaticBrightness = 0;
            proxy.AutoContrast(automaticContrast, automaticBrightness, outWidth, outHeight, outSize);
        }
        proxy.UpdatePreviewImage(contrast, brightness, outWidth, outHeight, outSize);
        proxy.UpdatePreviewImage(width, height, pixelSize, outWidth, outHeight, outSize);
        if (operations & 2) proxy.GetMeshes(minLayers, maxLayers, layerHeight, lastLayerHeight);
    } catch (const std::exception&) {
    }
    return 0;
}
