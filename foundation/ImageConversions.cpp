#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#include "PhotosBase.h"  // brings Eigen, which the bridge header needs first

#include <opencv2/core/eigen.hpp>

namespace Orvanes {

cv::Mat PhotosBase::ArrayToMat(const unsigned char* data, unsigned int width, unsigned int height,
                               unsigned int length)
{
    const unsigned long long capacity = 3ull * width * height;
    if (length > capacity)
        throw std::invalid_argument("ArrayToMat: length " + std::to_string(length) + " exceeds " +
                                    std::to_string(width) + " x " + std::to_string(height) +
                                    " x 3 = " + std::to_string(capacity) + " bytes");
    if (width > static_cast<unsigned int>(std::numeric_limits<int>::max()) ||
        height > static_cast<unsigned int>(std::numeric_limits<int>::max()))
        throw std::invalid_argument("ArrayToMat: " + std::to_string(width) + " x " + std::to_string(height) +
                                    " exceeds the largest image dimension " +
                                    std::to_string(std::numeric_limits<int>::max()));
    if (data == nullptr && length != 0)
        throw std::invalid_argument("ArrayToMat: data is null but length is " + std::to_string(length));
    cv::Mat image;
    image.create(static_cast<int>(height), static_cast<int>(width), CV_8UC3);
    if (length != 0) std::memcpy(image.data, data, length);
    return image;
}

unsigned char* PhotosBase::MatToArray(cv::Mat image, int& width, int& height, int& length)
{
    if (!image.empty() && (image.type() != CV_8UC3 || image.dims > 2))
        throw std::invalid_argument("MatToArray: expects an 8-bit 3-channel image, got type " +
                                    std::to_string(image.type()));
    const long long bytes = 3LL * image.cols * image.rows;
    if (bytes > std::numeric_limits<int>::max())
        throw std::length_error("MatToArray: " + std::to_string(image.cols) + " x " + std::to_string(image.rows) +
                                " pixels need " + std::to_string(bytes) + " bytes, more than an int length reports");
    height = image.rows;
    width = image.cols;
    length = static_cast<int>(bytes);
    auto* array = new unsigned char[static_cast<size_t>(length)];
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    // An image without columns has no row pointers to copy from.
    for (int y = 0; y < image.rows && rowBytes > 0; ++y)
        std::memcpy(array + rowBytes * static_cast<size_t>(y), image.ptr<unsigned char>(y), rowBytes);
    return array;
}

Eigen::MatrixXf PhotosBase::CVMatToEigenMtrix(cv::Mat image)
{
    if (image.empty()) return Eigen::MatrixXf(0, 0);
    if (image.dims > 2 || image.channels() != 1)
        throw std::invalid_argument("CVMatToEigenMtrix: expects a single-channel 2-D image, got type " +
                                    std::to_string(image.type()));
    Eigen::MatrixXf matrix(image.rows, image.cols);
    const cv::Mat copy = image.clone();
    cv::cv2eigen(copy, matrix);
    return matrix;
}

Eigen::Tensor<double, 3, Eigen::ColMajor, long long> PhotosBase::CVMatToEigenTensor(const cv::Mat& image)
{
    if (!image.empty() && (image.type() != CV_8UC1 || image.dims > 2))
        throw std::invalid_argument("CVMatToEigenTensor: expects an 8-bit single-channel image, got type " +
                                    std::to_string(image.type()));
    const long long rows = image.rows, cols = image.cols;
    Eigen::Tensor<double, 3, Eigen::ColMajor, long long> tensor(rows, cols, 1);
    double* out = tensor.data();
    for (long long i = 0; i < rows; ++i) {
        const unsigned char* row = image.ptr<unsigned char>(static_cast<int>(i));
        for (long long j = 0; j < cols; ++j) out[i + rows * j] = row[j];
    }
    return tensor;
}

}  // namespace Orvanes
