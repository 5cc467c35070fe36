// A card and a photograph as encoded bytes through the translucent model: decoding, matching,
// contrast, both previews and the material meshes.
#include <orvane/ImageLimits.h>
#include <orvane/PhotosTranslucent.h>

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
        PhotosTranslucent model(orvane_fuzz::Encoded(card), orvane_fuzz::Encoded(photo), width, height, pixelSize,
                                nullptr);
        if (operations & 1) {
            float automaticContrast = 0, automaticBrightness = 0;
            model.AutoContrast(automaticContrast, automaticBrightness);
        }
        model.UpdatePreviewImage(contrast, brightness);
        model.UpdatePreviewImage(width, height, pixelSize);
        if (operations & 2) model.GetMeshes(minLayers, maxLayers, layerHeight, lastLayerHeight);
    } catch (const std::exception&) {
    }
    return 0;
}
