// What the targets that decode images share: a pixel limit that keeps decoding quick (the limit
// itself is what is exercised), and the request both translucent targets read.
#pragma once
#include <orvane/ImageLimits.h>

#include "FuzzInput.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Orvanes::SetMaxImagePixels(1 << 18);
    return 0;
}

namespace orvane_fuzz {

struct TranslucentRequest {
    explicit TranslucentRequest(FuzzInput& in)
        : cardLength(static_cast<size_t>(in.Int(0, 65535))), width(in.Number(1, 30)), height(in.Number(1, 30)),
          pixelSize(in.Number(0.5, 4)), contrast(in.Number(0, 4)), brightness(in.Number(0, 200)),
          minLayers(in.Count(0, 6)), maxLayers(in.Count(0, 6)), layerHeight(in.Number(0.05, 1)),
          lastLayerHeight(in.Number(0.05, 1)), operations(in.Byte()), card(in.Bytes(cardLength)), photo(in.Rest())
    {
    }
    size_t cardLength;
    double width, height, pixelSize, contrast, brightness;
    int minLayers, maxLayers;
    double layerHeight, lastLayerHeight;
    uint8_t operations;  // bit 0: automatic contrast, bit 1: meshes
    std::vector<uint8_t> card, photo;
};

}  // namespace orvane_fuzz
