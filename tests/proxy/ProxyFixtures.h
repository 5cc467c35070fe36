// Reporters that prove ownership, and encoded test images for the flat facades.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "OrvaneMesh.h"
#include "OrvaneReliefProxy.h"

namespace orvane_test {

// Outlives the reporter, so a test can tell how often the proxy deleted it.
struct ReporterRecord {
    int deletions = 0;
    std::vector<int> values;
};

class CountingReporter final : public Orvanes::PhotosProgressBar {
public:
    explicit CountingReporter(ReporterRecord& target) : record(target) {}
    ~CountingReporter() override { ++record.deletions; }
    void SetProgress(int percent) override { record.values.push_back(percent); }

private:
    ReporterRecord& record;
};

inline std::vector<char> EncodePng(const cv::Mat& image)
{
    std::vector<uint8_t> bytes;
    cv::imencode(".png", image, bytes);
    return std::vector<char>(bytes.begin(), bytes.end());
}

// Grey ramp in three equal channels: column 0 black, the last column white.
inline cv::Mat ColourRamp(int cols, int rows)
{
    cv::Mat row(1, cols, CV_8UC3);
    for (int c = 0; c < cols; ++c) {
        const auto v = static_cast<uint8_t>(255 * c / std::max(cols - 1, 1));
        row.at<cv::Vec3b>(0, c) = cv::Vec3b(v, v, v);
    }
    return cv::repeat(row, rows, 1);
}

// The facet count a binary STL stream declares in bytes 80..83.
inline uint32_t StlFacetCount(const Orvanes::MeshProxy& stream)
{
    uint32_t count = 0;
    std::memcpy(&count, stream.data + 80, 4);
    return count;
}

}  // namespace orvane_test
