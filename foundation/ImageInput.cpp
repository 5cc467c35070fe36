#include "ImageInput.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "ImageLimits.h"

namespace Orvanes::detail {

void ThrowImageError(const std::string& text)
{
    cv::Exception error(cv::Error::StsBadArg, text, "", __FILE__, __LINE__);
    error.msg = text;  // what() returns msg: keep it to the one line a person should read
    throw error;
}

cv::Mat DecodeColour(const cv::Mat& bytes, const std::string& who, const std::string& what)
{
    cv::Mat image;
    if (!bytes.empty()) {
        // A byte run of any shape is one encoded file; decode needs it as one continuous row.
        const cv::Mat run = bytes.isContinuous() ? bytes.reshape(1, 1) : bytes.clone().reshape(1, 1);
        // A few bytes can declare billions of pixels: the header is read and checked first, and
        // bytes whose header cannot be read are not decoded at all.
        const cv::Size declared = DeclaredImageSize(run);
        if (uint64_t(declared.width) * uint64_t(declared.height) > MaxImagePixels())
            throw ImageTooLarge(who + ": the " + what + " declares " + std::to_string(declared.width) + " x " +
                                std::to_string(declared.height) + " pixels; at most " +
                                std::to_string(MaxImagePixels()) + " are decoded (SetMaxImagePixels sets the limit)");
        if (!declared.empty()) image = cv::imdecode(run, cv::IMREAD_COLOR);
    }
    if (image.empty())
        ThrowImageError(who + ": the " + what + " could not be decoded (" + std::to_string(bytes.total() * bytes.elemSize()) +
                        " bytes, not an image format the image library reads)");
    return image;
}

cv::Mat ReadColour(const std::string& path, const std::string& who, const std::string& what)
{
    // The image library logs a warning for files it cannot open; the library itself prints
    // nothing, so a missing file is caught here first.
    if (!std::ifstream(path, std::ios::binary).good())
        ThrowImageError(who + ": the " + what + " '" + path + "' could not be opened");
    // Read whole, so the header is checked before the decoder sees the file.
    std::ifstream file(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad() || bytes.empty() || bytes.size() > size_t(std::numeric_limits<int>::max()))
        ThrowImageError(who + ": the " + what + " '" + path + "' could not be read or decoded");
    try {
        return DecodeColour(cv::Mat(1, static_cast<int>(bytes.size()), CV_8U, bytes.data()), who, what + " '" + path + "'");
    } catch (const cv::Exception&) {
        ThrowImageError(who + ": the " + what + " '" + path + "' could not be read or decoded");
    }
}

int PixelCount(double length, double pixelSize, int minimum, const char* who, const char* what)
{
    const double count = std::floor(length / pixelSize);
    if (!(count >= minimum) || count > std::numeric_limits<int>::max() / 8) {
        std::ostringstream text;
        text << who << ": " << what << " " << length << " at pixel size " << pixelSize << " gives "
             << count << " pixels; at least " << minimum << " and at most "
             << std::numeric_limits<int>::max() / 8 << " are needed";
        throw std::invalid_argument(text.str());
    }
    return static_cast<int>(count);
}

}  // namespace Orvanes::detail
