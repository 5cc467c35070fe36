// The marked colour card of the translucent road, described once for the printed card, its
// predicted photographs and the finder that reads it back: the 16 x 64 cells of
// PhotosTranslucent::CellLayers inside a frame of cells of the same size.
//
// Card positions are (row, column) from the top left, seen from the side the card is read from,
// 0..kRows-1 and 0..kColumns-1:
//   - a dark border ring, kBorderCells wide, printed in the darkest stack the materials make;
//   - a white ring inside it, kWhiteRingCells wide, six white layers: the white reference;
//   - on the white ring's middle line, clear of its edges so its contours stay straight:
//     the orientation mark, an L of five dark cells in the top-left corner (card positions
//     (2,2), (2,3), (2,4), (3,2), (4,2)), and the black reference patch, kBlackPatchCells
//     dark cells on row 2 from column 8;
//   - the grid: grid cell (r, c) at card position (r + kFrameCells, c + kFrameCells).
// In millimetres a card position covers CellArea(row, column, cellSize).
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "OrvaneExport.h"
#include "PhotosRelief.h"
#include "PhotosTranslucent.h"

namespace Orvanes {

// Materials 0..3 of the card and the translucent print (three colours, then white): blue,
// green, red (0..255) and the share of light one layer stops (0..1).
using CardMaterials = std::array<LayerEntry, 4>;

class ORVANE_EXPORT ColourCard {
public:
    static constexpr int kGridRows = 16;
    static constexpr int kGridColumns = 64;
    static constexpr int kLayerCount = 6;
    static constexpr int kBorderCells = 1;
    static constexpr int kWhiteRingCells = 3;
    static constexpr int kFrameCells = kBorderCells + kWhiteRingCells;
    static constexpr int kRows = kGridRows + 2 * kFrameCells;
    static constexpr int kColumns = kGridColumns + 2 * kFrameCells;
    static constexpr int kBlackPatchCells = 8;

    enum class Part : uint8_t { kGrid, kBorder, kWhite, kMark, kBlack };

    // What the card holds at a card position; std::out_of_range outside the card.
    static Part PartAt(int row, int column);
    // The part of the card a position lies in, from the left and top edges of the card, in the
    // unit of cellSize (x: column * cellSize, y: row * cellSize).
    static cv::Rect2d CellArea(int row, int column, double cellSize);

    // The darkest stack of six layers the materials make under the light model of
    // TransmittedColour (the smallest luma), lowest material label first.
    static std::array<uint8_t, 6> DarkestStack(const CardMaterials& materials);
    // The six material labels printed at a card position, layer 0 first.
    static std::array<uint8_t, 6> Stack(int row, int column, const CardMaterials& materials);
    // Every card position's stack: kRows x kColumns, six 8-bit channels (channel k: layer k),
    // the voxels PhotoMeshCreater::CreateMeshFromVox prints.
    static cv::Mat Voxels(const CardMaterials& materials);

    // What a stack shows in front of a white light: every layer passes (1 - opacity) of the
    // light plus opacity times its colour. BGR.
    static cv::Vec3b TransmittedColour(const std::array<uint8_t, 6>& stack, const CardMaterials& materials);
    // The white and black references as TransmittedColour predicts them.
    static cv::Vec3b WhiteReference(const CardMaterials& materials);
    static cv::Vec3b BlackReference(const CardMaterials& materials);

    // The predicted card, cellPixels square per card position (1 to 1000, else
    // std::invalid_argument). whole: the marked card, kColumns x kRows cells; otherwise only
    // the grid, the 64 x 16 cells PhotosTranslucent::Init reads. BGR.
    static cv::Mat Render(const CardMaterials& materials, int cellPixels, bool whole);
};

// How a simulated photograph of the printed card is taken.
struct CardPhotoSettings {
    double cellPixels = 12.0;   // edge of a cell at the card's centre, photo pixels (4 to 200)
    int quarterTurns = 0;       // clockwise quarter turns of the card in the photo, 0..3
    double spinDegrees = 0.0;   // a further clockwise turn
    bool mirrored = false;      // the card seen from its other side (flipped left-right, then turned)
    double tiltDegrees = 0.0;   // perspective: the card's plane turned about an axis in it (0 to 60)
    double tiltAxisDegrees = 0.0;
    double margin = 0.2;        // share of the photo's width and height left around the card (0 to 0.9)
    double frameAspect = 4.0 / 3.0;  // the photo's longer side over its shorter (1 to 4); 0: the margin alone
    cv::Point2d placement{0.5, 0.5};  // where in the free space the card sits, 0..1 each way
    double falloff = 0.0;       // share of the light lost from one side of the card to the other (0 to 0.9)
    double falloffDegrees = 0.0;  // the direction in which the light falls off
    cv::Vec3d light{1.0, 1.0, 1.0};  // exposure and colour cast: a gain per channel, BGR (0 to 2)
    double background = 40.0;   // grey of what surrounds the card
    double noiseSigma = 0.0;    // Gaussian noise per channel, grey levels
    int jpegQuality = 0;        // 1..100: the photo passes through JPEG; 0: it does not
    uint64_t seed = 1;          // the noise's random numbers
};

// A photo the settings describe at random from seed: any turn, mirrored or not, tilted up to
// 30 degrees, margins of 5 to 40 %, falloff up to 40 %, a mild colour cast, noise up to 4 grey
// levels, JPEG down to quality 70 (or none), cells of 16 to 20 pixels.
ORVANE_EXPORT CardPhotoSettings RandomCardPhotoSettings(uint64_t seed);

struct SimulatedCardPhoto {
    cv::Mat photo;                 // BGR, as decoded when the photo passed through JPEG
    std::vector<uint8_t> encoded;  // the JPEG file when it did; empty otherwise
    // Card coordinates (x along the columns, y along the rows, in cells; the card spans
    // 0..kColumns x 0..kRows) to photo pixels (pixel centres at whole numbers).
    cv::Matx33d cardToPhoto;
};

// What a camera sees of the printed card before a white light. Without tilt and spin, with
// whole cellPixels, no falloff, noise or JPEG and a neutral light, every cell is exactly its
// predicted colour, whole photo pixels wide. std::invalid_argument for settings out of range.
ORVANE_EXPORT SimulatedCardPhoto SimulateCardPhoto(const CardMaterials& materials, const CardPhotoSettings& settings);

}  // namespace Orvanes
