// Builds a relief from the bytes of a PNG and a JPEG made here, and checks the STL stream.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <orvane_algorithm.h>

int main()
{
    cv::Mat photo(40, 60, CV_8UC3);
    cv::randu(photo, 0, 256);
    for (const char* format : {".png", ".jpg"}) {
        std::vector<uchar> bytes;
        cv::imencode(format, photo, bytes);
        Orvanes::PhotosRelief relief(cv::Mat(bytes, true), 60, 40, 1, nullptr,
                                     {Orvanes::LayerEntry(0, 0, 0, 1), Orvanes::LayerEntry(255, 255, 255, 0.125f)});
        int size = 0;
        std::unique_ptr<const char[]> stl(relief.GetSTLStream(relief.GetMesh(0, 10, 0.1, 0.5), size));
        uint32_t count = 0;
        std::memcpy(&count, stl.get() + 80, 4);
        const uint32_t expected = 4 * 39 * 59 + 4 * 39 + 4 * 59;
        if (count != expected || size != 84 + 50 * static_cast<int>(count)) {
            std::fprintf(stderr, "consumer: %s gave %u triangles in %d bytes, expected %u\n", format, count, size, expected);
            return 1;
        }
    }
    std::puts("consumer: installed package works");
    return 0;
}
