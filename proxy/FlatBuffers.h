// Conversions between the flat facades' raw arguments and the models' containers, and the
// buffer bookkeeping both facades share.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "OrvaneMesh.h"
#include "OrvaneReliefProxy.h"
#include "PhotosBase.h"
#include "PhotosRelief.h"

namespace Orvanes::detail {

// Groups of four floats red, green, blue, opacity as entries blue, green, red, opacity.
// colourCount / 4 entries (truncated); a count below 4 or a null array gives none.
std::vector<LayerEntry> LayerListFromFloats(const float* colours, int colourCount);

// The reporter a proxy holds: the host's, taken over, or a new NULLProgressBar for none.
std::unique_ptr<PhotosProgressBar> TakeReporter(PhotosProgressBar* reporter);

// length bytes as a 1 x length 8-bit matrix over the caller's memory (no copy); null bytes or
// a length below 1 give an empty matrix, which the models reject as undecodable.
cv::Mat WrapBytes(const char* bytes, int length);

// A zero-terminated path as a string; null gives the empty path, which no file has.
std::string PathOf(const char* path);

// Packs a BGR preview into slot as RGB bytes and returns it. The previous buffer is released
// first, and slot holds null until the new one exists.
unsigned char* ReplacePreview(unsigned char*& slot, const cv::Mat& bgr, int& width, int& height,
                              int& size);

// Releases the bytes of stream, if any, and leaves it empty.
void ReleaseStream(MeshProxy& stream);

// Serialises mesh as binary STL into an empty stream.
void FillStream(MeshProxy& stream, const PhotosBase& model, OrvaneMesh mesh);

// Replaces owned by a copy of source that reports to reporter. The copy is made first, so a
// copy that throws leaves owned as it was; the copy must not keep the source's reporter,
// which dies with the source's proxy.
template <typename Model>
void ReplaceWithCopy(Model*& owned, const Model& source, PhotosProgressBar* reporter)
{
    auto copy = std::make_unique<Model>(source);
    copy->SetProgressBar(reporter);
    delete owned;
    owned = copy.release();
}

}  // namespace Orvanes::detail
