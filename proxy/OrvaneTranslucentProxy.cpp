#include "OrvaneTranslucentProxy.h"

#include <memory>
#include <utility>
#include <vector>

#include "FlatBuffers.h"
#include "PhotosTranslucent.h"

namespace Orvanes {

namespace {

constexpr size_t kMeshCount = 5;

// Every record is released, filled or not: a GetMeshes that failed halfway leaves some records
// holding streams and the rest empty.
void ReleaseMeshes(MeshProxy (&meshes)[kMeshCount], bool& hasMeshes)
{
    if (hasMeshes)
        for (MeshProxy& stream : meshes) detail::ReleaseStream(stream);
    hasMeshes = false;
}

}  // namespace

// The reporter is held by a unique_ptr until the model exists: a constructor that throws runs
// no destructor, and the proxy has promised to delete the host's reporter either way.
OrvaneTranslucentProxy::OrvaneTranslucentProxy(const char* cardPath, const char* photoPath, double width,
                                               double height, double pixelSize,
                                               PhotosProgressBar* reporter)
{
    std::unique_ptr<PhotosProgressBar> held = detail::TakeReporter(reporter);
    translucent = new PhotosTranslucent(detail::PathOf(cardPath), detail::PathOf(photoPath), width,
                                        height, pixelSize, held.get());
    progress = held.release();
}

OrvaneTranslucentProxy::OrvaneTranslucentProxy(const char* card, int cardLength, const char* photo,
                                               int photoLength, double width, double height,
                                               double pixelSize, PhotosProgressBar* reporter)
{
    std::unique_ptr<PhotosProgressBar> held = detail::TakeReporter(reporter);
    translucent = new PhotosTranslucent(detail::WrapBytes(card, cardLength),
                                        detail::WrapBytes(photo, photoLength), width, height,
                                        pixelSize, held.get());
    progress = held.release();
}

OrvaneTranslucentProxy::~OrvaneTranslucentProxy()
{
    delete translucent;
    delete[] previewData;
    ReleaseMeshes(meshes, hasMeshes);
    delete progress;
}

OrvaneTranslucentProxy& OrvaneTranslucentProxy::operator=(const OrvaneTranslucentProxy& other)
{
    if (this == &other) return *this;
    detail::ReplaceWithCopy(translucent, *other.translucent, progress);
    // Buffers describe results of the old model; the host must ask the new one again.
    delete[] previewData;
    previewData = nullptr;
    ReleaseMeshes(meshes, hasMeshes);
    return *this;
}

unsigned char* OrvaneTranslucentProxy::AutoContrast(float& contrast, float& brightness, int& width,
                                                    int& height, int& size)
{
    const cv::Mat preview = translucent->AutoContrast(contrast, brightness);
    return detail::ReplacePreview(previewData, preview, width, height, size);
}

unsigned char* OrvaneTranslucentProxy::UpdatePreviewImage(double contrast, double brightness, int& width,
                                                          int& height, int& size)
{
    const cv::Mat preview = translucent->UpdatePreviewImage(contrast, brightness);
    return detail::ReplacePreview(previewData, preview, width, height, size);
}

unsigned char* OrvaneTranslucentProxy::UpdatePreviewImage(double width, double height, double pixelSize,
                                                          int& outWidth, int& outHeight, int& size)
{
    const cv::Mat preview = translucent->UpdatePreviewImage(width, height, pixelSize);
    return detail::ReplacePreview(previewData, preview, outWidth, outHeight, size);
}

MeshProxy* OrvaneTranslucentProxy::GetMeshes(int minLayers, int maxLayers, double layerHeight,
                                             double lastLayerHeight)
{
    ReleaseMeshes(meshes, hasMeshes);
    std::vector<OrvaneMesh> list = translucent->GetMeshes(minLayers, maxLayers, layerHeight, lastLayerHeight);
    // Set before filling, so streams made before a failure are still released.
    hasMeshes = true;
    // Hosts read exactly five records; a short list still yields five complete (empty) streams.
    for (size_t k = 0; k < kMeshCount; ++k)
        detail::FillStream(meshes[k], *translucent, k < list.size() ? std::move(list[k]) : OrvaneMesh());
    return meshes;
}

}  // namespace Orvanes
