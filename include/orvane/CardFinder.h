// Finds the marked colour card (see ColourCard.h) in a photograph and rectifies it into the card
// image PhotosTranslucent reads: 64 x 16 cells, cell (0, 0) top left, each one colour.
#pragma once
#include <array>
#include <stdexcept>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "OrvaneExport.h"

namespace Orvanes {

// No card could be read from the photo: no frame was found, or its cells are too small to read.
// The message says which.
class ORVANE_EXPORT CardNotFound : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct CardFinderOptions {
    int cellPixels = 10;                  // edge of a cell in the rectified card, 1 to 100
    cv::Vec3b white{255, 255, 255};       // what the white ring shows in the rectified card, BGR
    cv::Vec3b black{0, 0, 0};             // what the black patch should show then; all 0: not known
    double minCellPixels = 8.0;           // fewer photo pixels a cell edge (on average) are refused
};

struct FoundCard {
    // 64 * cellPixels x 16 * cellPixels, BGR: every grid cell one colour, the robust mean of its
    // inner part, with the white ring's light (its colour cast and falloff) divided out.
    cv::Mat card;
    int rotation = 0;          // clockwise turn of the card in the photo: 0, 90, 180 or 270 degrees
    bool mirrored = false;     // the photo shows the card's mirror image (turned after mirroring)
    double confidence = 0.0;   // share of the frame's judged cells that look as the layout says, 0..1
    // The card's outer corners in the photo (pixel centres at whole numbers): the card's top
    // left, top right, bottom right, bottom left.
    std::array<cv::Point2d, 4> corners;
    // Card coordinates (x along the columns, y along the rows, in cells, the card spanning
    // ColourCard::kColumns x kRows) to photo pixels.
    cv::Matx33d cardToPhoto;
    double cellPixels = 0.0;   // mean edge of a cell in the photo, pixels
    bool whiteBalanced = false;  // false: the white ring already showed options.white everywhere
    std::vector<std::string> warnings;  // references that look wrong; one sentence each
};

// photo: 8-bit BGR at any size; the card may be turned, mirrored, seen at an angle (about 30
// degrees and more), lit unevenly and surrounded by anything. Throws CardNotFound when no card
// is read, std::invalid_argument for options out of range and cv::Exception for a photo that is
// not 8-bit BGR. A photo that shows the card turned by quarter turns or mirrored, cells in whole
// pixels, rectifies to exactly the cells' colours.
ORVANE_EXPORT FoundCard FindCard(const cv::Mat& photo, const CardFinderOptions& options = {});

}  // namespace Orvanes
