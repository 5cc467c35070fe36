// The translucent facade's flat interface with raw lengths and any numbers.
#include <orvane/OrvaneTranslucentProxy.h>

#include "ImageTargets.h"

using namespace Orvanes;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    orvane_fuzz::FuzzInput in(data, size);
    const orvane_fuzz::TranslucentRequest r(in);
    try {
        OrvaneTranslucentProxy proxy(reinterpret_cast<const char*>(r.card.data()), static_cast<int>(r.card.size()),
                                     reinterpret_cast<const char*>(r.photo.data()), static_cast<int>(r.photo.size()),
                                     r.width, r.height, r.pixelSize, nullptr);
        int width = 0, height = 0, bytes = 0;
        if (r.operations & 1) {
            float automaticContrast = 0, automaticBrightness = 0;
            proxy.AutoContrast(automaticContrast, automaticBrightness, width, height, bytes);
        }
        proxy.UpdatePreviewImage(r.contrast, r.brightness, width, height, bytes);
        proxy.UpdatePreviewImage(r.width, r.height, r.pixelSize, width, height, bytes);
        if (r.operations & 2) proxy.GetMeshes(r.minLayers, r.maxLayers, r.layerHeight, r.lastLayerHeight);
    } catch (const std::exception&) {
    }
    return 0;
}
