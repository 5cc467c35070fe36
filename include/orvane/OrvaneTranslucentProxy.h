// Flat facade over the translucent model: raw pointers, plain numbers and STL streams only.
#pragma once

#include "OrvaneExport.h"
#include "OrvaneMesh.h"
#include "OrvaneReliefProxy.h"

namespace Orvanes {

class PhotosTranslucent;

// The proxy owns its model, its reporter and every buffer it returns. The three preview
// operations share one pixel buffer, valid until the next of them; the five mesh streams stay
// valid until the next GetMeshes; everything ends with the proxy.
class ORVANE_EXPORT OrvaneTranslucentProxy {
public:
    // reporter: taken over and deleted with the proxy (also when construction throws); null
    // means no reports. The card comes first, the photograph second.
    OrvaneTranslucentProxy(const char* cardPath, const char* photoPath, double width, double height,
                           double pixelSize, PhotosProgressBar* reporter);
    OrvaneTranslucentProxy(const char* card, int cardLength, const char* photo, int photoLength,
                           double width, double height, double pixelSize, PhotosProgressBar* reporter);
    ~OrvaneTranslucentProxy();

    OrvaneTranslucentProxy(const OrvaneTranslucentProxy&) = delete;
    // Gives this proxy its own copy of the other's model and releases its own buffers.
    OrvaneTranslucentProxy& operator=(const OrvaneTranslucentProxy& other);

    // Previews as packed RGB bytes: width x height pixels, size bytes.
    unsigned char* AutoContrast(float& contrast, float& brightness, int& width, int& height, int& size);
    unsigned char* UpdatePreviewImage(double contrast, double brightness, int& width, int& height,
                                      int& size);
    unsigned char* UpdatePreviewImage(double width, double height, double pixelSize, int& outWidth,
                                      int& outHeight, int& size);
    // Five consecutive records: materials 0 to 3, then the height-map body.
    MeshProxy* GetMeshes(int minLayers, int maxLayers, double layerHeight, double lastLayerHeight);

private:
    PhotosTranslucent* translucent = nullptr;
    MeshProxy meshes[5];
    unsigned char* previewData = nullptr;
    bool hasMeshes = false;
    PhotosProgressBar* progress = nullptr;
};

}  // namespace Orvanes
