// How large an image the library agrees to decode: a few bytes of header can declare billions
// of pixels, so the size is read from the header first and checked against a limit.
#pragma once
#include <cstdint>
#include <stdexcept>

#include <opencv2/core.hpp>

#include "OrvaneExport.h"

namespace Orvanes {

// Thrown, before any decoding, for an image that declares more pixels than MaxImagePixels().
class ORVANE_EXPORT ImageTooLarge : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The most pixels (width x height) an image may declare and still be decoded by the models and
// facades: 100 million unless a host sets another (any value from 1; the setting is global).
ORVANE_EXPORT void SetMaxImagePixels(std::uint64_t pixels);
ORVANE_EXPORT std::uint64_t MaxImagePixels();

// Width and height an encoded image declares in its header, read without decoding: PNG, JPEG,
// BMP, WebP, TIFF and PNM. An empty size when the bytes are none of these, the header is cut
// short, or the bytes carry a DICOM mark at offset 128 (the image library's DICOM reader, which
// it would pick for them, can abort the process); such bytes are not decoded at all.
ORVANE_EXPORT cv::Size DeclaredImageSize(const cv::Mat& bytes);

}  // namespace Orvanes
