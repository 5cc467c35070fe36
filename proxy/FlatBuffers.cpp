#include "FlatBuffers.h"

#include <utility>

#include <opencv2/imgproc.hpp>

#include "NULLProgressBar.h"

namespace Orvanes::detail {

std::vector<LayerEntry> LayerListFromFloats(const float* colours, int colourCount)
{
    // A count without an array would make us read memory the host never gave us.
    if (!colours || colourCount < 4) return {};
    const int entryCount = colourCount / 4;
    std::vector<LayerEntry> entries;
    entries.reserve(static_cast<size_t>(entryCount));
    for (int i = 0; i < entryCount; ++i) {
        const float* rgba = colours + 4 * static_cast<size_t>(i);
        entries.emplace_back(rgba[2], rgba[1], rgba[0], rgba[3]);
    }
    return entries;
}

std::unique_ptr<PhotosProgressBar> TakeReporter(PhotosProgressBar* reporter)
{
    // The models call their reporter without a check in places; the facades promise hosts
    // that null means silence, so the model always gets a real one.
    if (reporter) return std::unique_ptr<PhotosProgressBar>(reporter);
    return std::make_unique<NULLProgressBar>();
}

cv::Mat WrapBytes(const char* bytes, int length)
{
    if (!bytes || length < 1) return cv::Mat();
    // cv::Mat has no read-only view; the models only decode these bytes, never write them.
    return cv::Mat(1, length, CV_8UC1, const_cast<char*>(bytes));
}

std::string PathOf(const char* path)
{
    return path ? std::string(path) : std::string();
}

unsigned char* ReplacePreview(unsigned char*& slot, const cv::Mat& bgr, int& width, int& height,
                              int& size)
{
    cv::Mat rgb;
    cv::cvtColor(bgr, rgb, cv::COLOR_BGR2RGB);
    delete[] slot;
    slot = nullptr;  // should packing throw, the destructor must not release the old buffer again
    slot = PhotosBase::MatToArray(rgb, width, height, size);
    return slot;
}

void ReleaseStream(MeshProxy& stream)
{
    delete[] stream.data;
    stream = MeshProxy();
}

void FillStream(MeshProxy& stream, const PhotosBase& model, OrvaneMesh mesh)
{
    int size = 0;
    stream.data = model.GetSTLStream(std::move(mesh), size);
    stream.size = size;
}

}  // namespace Orvanes::detail
