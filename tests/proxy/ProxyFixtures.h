// Reporters that prove ownership, and encoded test images for the flat facades.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "MeshChecks.h"
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

// A file of its own per test: test cases may run side by side in separate processes.
inline std::string WriteTemp(const std::string& name, const cv::Mat& image)
{
    const std::string path = testing::TempDir() + "orvane_proxy_" + name + ".png";
    EXPECT_TRUE(cv::imwrite(path, image)) << path;
    return path;
}

// Grey ramp in three equal channels: column 0 black, the last column white.
inline cv::Mat ColourRamp(int cols, int rows)
{
    cv::Mat bgr;
    cv::cvtColor(MakeRamp(cols, rows), bgr, cv::COLOR_GRAY2BGR);
    return bgr;
}

inline std::vector<char> Bytes(const Orvanes::MeshProxy& stream)
{
    return std::vector<char>(stream.data, stream.data + stream.size);
}

// The facet count a binary STL stream declares in bytes 80..83, after checking the stream
// holds exactly that many facets.
inline uint32_t StlFacetCount(const Orvanes::MeshProxy& stream)
{
    uint32_t count = 0;
    if (stream.data && stream.size >= 84) std::memcpy(&count, stream.data + 80, 4);
    EXPECT_EQ(int64_t(stream.size), 84 + 50 * int64_t(count)) << "not a complete binary STL";
    return count;
}

}  // namespace orvane_test
