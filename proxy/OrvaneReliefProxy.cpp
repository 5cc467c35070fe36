#include "OrvaneReliefProxy.h"

#include <memory>
#include <utility>
#include <vector>

#include "FlatBuffers.h"
#include "PhotosRelief.h"

namespace Orvanes {

// The reporter is held by a unique_ptr until the model exists: a constructor that throws runs
// no destructor, and the proxy has promised to delete the host's reporter either way.
OrvaneReliefProxy::OrvaneReliefProxy(const char* encoded, int length, double width, double height,
                                     double pixelSize, const float* colours, int colourCount,
                                     PhotosProgressBar* reporter)
{
    std::unique_ptr<PhotosProgressBar> held = detail::TakeReporter(reporter);
    relief = new PhotosRelief(detail::WrapBytes(encoded, length), width, height, pixelSize, held.get(),
                              detail::LayerListFromFloats(colours, colourCount));
    progress = held.release();
}

OrvaneReliefProxy::OrvaneReliefProxy(const char* path, double width, double height, double pixelSize,
                                     const float* colours, int colourCount, PhotosProgressBar* reporter)
{
    std::unique_ptr<PhotosProgressBar> held = detail::TakeReporter(reporter);
    relief = new PhotosRelief(detail::PathOf(path), width, height, pixelSize, held.get(),
                              detail::LayerListFromFloats(colours, colourCount));
    progress = held.release();
}

OrvaneReliefProxy::~OrvaneReliefProxy()
{
    delete[] layerInfo;
    delete[] previewData;
    detail::ReleaseStream(mesh);
    delete relief;
    delete progress;
}

OrvaneReliefProxy& OrvaneReliefProxy::operator=(const OrvaneReliefProxy& other)
{
    if (this == &other) return *this;
    detail::ReplaceWithCopy(relief, *other.relief, progress);
    // Buffers describe results of the old model; the host must ask the new one again.
    delete[] layerInfo;
    layerInfo = nullptr;
    delete[] previewData;
    previewData = nullptr;
    detail::ReleaseStream(mesh);
    return *this;
}

float* OrvaneReliefProxy::GetAutoLayerInfo(int& count, int baseCount, int layerCount)
{
    std::vector<LayerEntry> stack;
    relief->GetAutoLayerInfo(stack, baseCount, layerCount);
    count = static_cast<int>(stack.size() * 4);
    delete[] layerInfo;
    layerInfo = nullptr;
    layerInfo = new float[stack.size() * 4];
    // Stored order (blue first) is what the host gets back; only input colours are red first.
    for (size_t i = 0; i < stack.size(); ++i)
        for (int k = 0; k < 4; ++k) layerInfo[4 * i + static_cast<size_t>(k)] = stack[i][k];
    return layerInfo;
}

MeshProxy OrvaneReliefProxy::GetMesh(int startLevel, int endLevel, double levelHeight, double baseOffset)
{
    OrvaneMesh body = relief->GetMesh(startLevel, endLevel, levelHeight, baseOffset);
    detail::ReleaseStream(mesh);
    detail::FillStream(mesh, *relief, std::move(body));
    return mesh;
}

unsigned char* OrvaneReliefProxy::UpdatePreviewImage(const float* colours, int colourCount,
                                                     int& outWidth, int& outHeight, int& outSize,
                                                     int baseCount, double width, double height,
                                                     double pixelSize)
{
    const cv::Mat preview = relief->UpdatePreviewImage(detail::LayerListFromFloats(colours, colourCount),
                                                       baseCount, width, height, pixelSize);
    return detail::ReplacePreview(previewData, preview, outWidth, outHeight, outSize);
}

}  // namespace Orvanes
