// A small raw picture (grey levels, as wide and high as the first bytes say) through the card
// finder: it reads a card or refuses the picture, and what it reads keeps its promises.
#include <cstdlib>

#include <opencv2/imgproc.hpp>
#include <orvane/CardFinder.h>

#include "FuzzInput.h"

using namespace Orvanes;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    orvane_fuzz::FuzzInput in(data, size);
    const int cols = in.Int(1, 300), rows = in.Int(1, 300);
    CardFinderOptions options;
    options.cellPixels = in.Count(1, 100);
    options.minCellPixels = in.Number(1, 16);
    options.black = cv::Vec3b(in.Byte(), in.Byte(), in.Byte());
    // Short inputs repeat, so a few bytes still make stripes and edges across the whole picture.
    const std::vector<uint8_t> pixels = in.Rest();
    cv::Mat grey(rows, cols, CV_8UC1, cv::Scalar(0));
    if (!pixels.empty())
        for (int k = 0; k < rows * cols; ++k) grey.data[k] = pixels[static_cast<size_t>(k) % pixels.size()];
    cv::Mat photo;
    cv::cvtColor(grey, photo, cv::COLOR_GRAY2BGR);
    FoundCard found;
    try {
        found = FindCard(photo, options);
    } catch (const CardNotFound&) {
        return 0;
    } catch (const std::invalid_argument&) {  // options out of range, as documented
        return 0;
    } catch (const cv::Exception&) {
        return 0;
    }
    const bool kept = found.card.size() == cv::Size(64 * options.cellPixels, 16 * options.cellPixels) &&
                      found.card.type() == CV_8UC3 && found.rotation % 90 == 0 && found.rotation >= 0 &&
                      found.rotation < 360 && found.confidence >= 0.8 && found.confidence <= 1.0 &&
                      found.cellPixels >= options.minCellPixels;
    if (!kept) std::abort();
    return 0;
}
