// A card and a photograph as encoded bytes through the translucent model: decoding, matching,
// contrast, both previews and the material meshes.
#include <orvane/PhotosTranslucent.h>

#include "ImageTargets.h"

using namespace Orvanes;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    orvane_fuzz::FuzzInput in(data, size);
    const orvane_fuzz::TranslucentRequest r(in);
    try {
        PhotosTranslucent model(orvane_fuzz::Encoded(r.card), orvane_fuzz::Encoded(r.photo), r.width, r.height,
                                r.pixelSize, nullptr);
        if (r.operations & 1) {
            float automaticContrast = 0, automaticBrightness = 0;
            model.AutoContrast(automaticContrast, automaticBrightness);
        }
        model.UpdatePreviewImage(r.contrast, r.brightness);
        model.UpdatePreviewImage(r.width, r.height, r.pixelSize);
        if (r.operations & 2) model.GetMeshes(r.minLayers, r.maxLayers, r.layerHeight, r.lastLayerHeight);
    } catch (const std::exception&) {
        // Refusals are documented results; only memory errors and undefined behaviour count.
    }
    return 0;
}
