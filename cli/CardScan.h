// Reading a photographed colour card, shared by `orvane translucent` and `orvane card-scan`.
#pragma once
#include <string>

#include <opencv2/core.hpp>
#include <orvane/CardFinder.h>

#include "CardModel.h"
#include "CommandSupport.h"

namespace orvane_cli {

struct ScannedCard {
    cv::Mat photo;               // the photo as decoded, BGR
    Orvanes::FoundCard found;
};

// Finds the card in the image file named path. Throws std::runtime_error
// naming the file when no card is read, with a hint at swapped or already cropped inputs.
ScannedCard ScanCard(const ImageFile& file, const std::string& path, const Orvanes::CardFinderOptions& options);

// "orvane: card found: ..." and a warning line for each doubtful reference, on standard error.
void ReportScan(const Orvanes::FoundCard& found);

// The finding as members of the open JSON object: rotation, mirrored, confidence, cell pixels,
// corners, warnings.
void JsonScan(Json& json, const Orvanes::FoundCard& found);

// The photo, at most 2000 pixels on its longer side, with the card's outline and cell grid drawn
// over it and its top-left corner ringed: for a person to check what was read.
cv::Mat DrawScan(const cv::Mat& photo, const Orvanes::FoundCard& found);

}  // namespace orvane_cli
