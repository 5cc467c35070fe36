// Flat facade over the relief model: raw pointers, plain numbers and STL streams only.
#pragma once
#include <cstdint>

#include "OrvaneExport.h"
#include "OrvaneMesh.h"

namespace Orvanes {

class PhotosRelief;

// One mesh as a complete binary STL stream. The bytes belong to the proxy that returned the
// record; a null data with size 0 means no mesh.
struct MeshProxy {
    const char* data = nullptr;
    int32_t size = 0;
};

// Colours cross this facade as groups of four floats red, green, blue, opacity (a count of
// floats; a trailing incomplete group is ignored, a null array is no colours). The proxy owns
// its model, its reporter and every buffer it returns; a returned buffer stays valid until the
// same operation is called again on this proxy, or the proxy is destroyed.
class ORVANE_EXPORT OrvaneReliefProxy {
public:
    // reporter: taken over and deleted with the proxy (also when construction throws); allocate
    // it with new and do not delete it yourself. Null means no reports.
    OrvaneReliefProxy(const char* encoded, int length, double width, double height, double pixelSize,
                      const float* colours, int colourCount, PhotosProgressBar* reporter);
    OrvaneReliefProxy(const char* path, double width, double height, double pixelSize,
                      const float* colours, int colourCount, PhotosProgressBar* reporter);
    ~OrvaneReliefProxy();

    OrvaneReliefProxy(const OrvaneReliefProxy&) = delete;
    // Gives this proxy its own copy of the other's model (sharing the reporter is impossible:
    // each proxy owns one) and releases its own buffers; the other keeps everything it had.
    OrvaneReliefProxy& operator=(const OrvaneReliefProxy& other);

    // The proposed stack as floats blue, green, red, opacity per entry; count = float count.
    float* GetAutoLayerInfo(int& count, int baseCount, int layerCount);
    MeshProxy GetMesh(int startLevel, int endLevel, double levelHeight, double baseOffset);
    // The preview as packed RGB bytes, outWidth x outHeight, outSize bytes.
    unsigned char* UpdatePreviewImage(const float* colours, int colourCount, int& outWidth,
                                      int& outHeight, int& outSize, int baseCount, double width,
                                      double height, double pixelSize);

private:
    PhotosRelief* relief = nullptr;
    MeshProxy mesh;
    unsigned char* previewData = nullptr;
    float* layerInfo = nullptr;
    PhotosProgressBar* progress = nullptr;
};

}  // namespace Orvanes
