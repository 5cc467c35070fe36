// Image, matrix and mesh utilities shared by the meshers and both models.
#pragma once
#include <string>
#include <vector>

#include <Eigen/Core>
#include <opencv2/core.hpp>
#include <unsupported/Eigen/CXX11/Tensor>

#include "OrvaneExport.h"
#include "OrvaneMesh.h"

namespace Orvanes {

class ORVANE_EXPORT PhotosBase {
public:
    // data: packed pixels, rows top to bottom, three bytes per pixel, no row gaps; the first
    // length bytes are copied into a new width x height 8-bit 3-channel image.
    // Throws std::invalid_argument when length exceeds width * height * 3, data is null with a
    // non-zero length, or a dimension exceeds the largest int.
    static cv::Mat ArrayToMat(const unsigned char* data, unsigned int width, unsigned int height,
                              unsigned int length);

    // Packs an 8-bit 3-channel image (any strides) into a new[]-allocated array that the
    // caller owns and releases with delete[]. width = columns, height = rows,
    // length = width * height * 3 (an array of no bytes for an image without pixels). Throws
    // std::invalid_argument for any other image type.
    static unsigned char* MatToArray(cv::Mat image, int& width, int& height, int& length);

    // Single-channel image to a float matrix whose entry (i, j) is pixel (row i, column j).
    static Eigen::MatrixXf CVMatToEigenMtrix(cv::Mat image);

    // 8-bit single-channel image to a rows x cols x 1 column-major tensor; element (i, j, 0)
    // is pixel (row i, column j). Throws std::invalid_argument for any other image type.
    static Eigen::Tensor<double, 3, Eigen::ColMajor, long long> CVMatToEigenTensor(const cv::Mat& image);

    // The mesh as a complete binary STL file: an 84-byte header and count, then 50 bytes per
    // face in face order. The block is new[]-allocated; the caller owns it and releases it
    // with delete[]. size receives 84 + 50 * faces. Throws std::length_error, allocating
    // nothing, when that size exceeds the largest 32-bit signed value.
    const char* GetSTLStream(OrvaneMesh mesh, int& size) const;

    // k-means (k clusters) of the pixel values of an 8-bit image with 1 or 3 channels;
    // returns the image repainted with the cluster colours and those colours in centers
    // (k rows x 1, 8-bit, the input's channel count). An empty image comes back as it is.
    // Draws on the image library's random generator of the calling thread. Other depths throw
    // std::invalid_argument; a k outside 1..pixels throws the image library's cv::Exception.
    cv::Mat ColorQuantization(cv::Mat image, int k, cv::Mat& centers) const;

    // Least-squares polynomial through points: a (degree + 1) x 1 CV_64F column, constant
    // term first; zeros when fewer distinct x than coefficients leave the fit undetermined.
    // Also prints that column to standard output. Throws std::invalid_argument for a degree
    // above kMaxPolyfitDegree.
    static constexpr int kMaxPolyfitDegree = 4096;
    cv::Mat Polyfit(const std::vector<cv::Point_<double>>& points, int degree) const;
};

}  // namespace Orvanes
