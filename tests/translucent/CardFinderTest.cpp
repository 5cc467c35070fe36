// The marked colour card: its layout, its simulated photographs and the finder that reads them.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "CardFinder.h"
#include "ColourCard.h"
#include "ColourDifference.h"
#include "TestImages.h"

namespace {

using Orvanes::ColourCard;
using Part = ColourCard::Part;

// Cyan, magenta, yellow and white as blue, green, red, opacity: the tool's default materials.
const Orvanes::CardMaterials kMaterials = {Orvanes::LayerEntry(255, 255, 0, 0.3f), Orvanes::LayerEntry(255, 0, 255, 0.3f),
                                           Orvanes::LayerEntry(0, 255, 255, 0.3f), Orvanes::LayerEntry(255, 255, 255, 0.1f)};

Orvanes::CardFinderOptions OptionsFor(const Orvanes::CardMaterials& materials)
{
    Orvanes::CardFinderOptions options;
    options.white = ColourCard::WhiteReference(materials);
    options.black = ColourCard::BlackReference(materials);
    return options;
}

bool IsDark(int row, int column)
{
    const Part part = ColourCard::PartAt(row, column);
    return part == Part::kBorder || part == Part::kMark || part == Part::kBlack;
}

TEST(ColourCard, FramesTheGridInPrintableStacksWithAMarkNoTurnOrMirrorRepeats)
{
    const cv::Mat voxels = ColourCard::Voxels(kMaterials);
    ASSERT_EQ(voxels.size(), cv::Size(72, 24));
    const auto darkest = ColourCard::DarkestStack(kMaterials);
    int darkCount = 0;
    for (int row = 0; row < ColourCard::kRows; ++row)
        for (int column = 0; column < ColourCard::kColumns; ++column) {
            const uint8_t* layers = voxels.ptr<uint8_t>(row) + 6 * column;
            std::array<uint8_t, 6> stack;
            std::copy_n(layers, 6, stack.begin());
            EXPECT_TRUE(std::all_of(stack.begin(), stack.end(), [](uint8_t m) { return m < 4; })) << "every voxel printed";
            const Part part = ColourCard::PartAt(row, column);
            if (part == Part::kGrid)
                EXPECT_EQ(stack, Orvanes::PhotosTranslucent::CellLayers({row - 4, column - 4}));
            else if (part == Part::kWhite)
                EXPECT_EQ(stack, (std::array<uint8_t, 6>{3, 3, 3, 3, 3, 3}));
            else
                EXPECT_EQ(stack, darkest);
            darkCount += IsDark(row, column);
            // Cells tile the card: each one starts where its left and upper neighbours end.
            const cv::Rect2d area = ColourCard::CellArea(row, column, 2.5);
            EXPECT_TRUE(area.x == 2.5 * column && area.y == 2.5 * row && area.width == 2.5);
        }
    EXPECT_EQ(darkCount, 2 * (72 + 22) + 5 + ColourCard::kBlackPatchCells);
    // The dark cells of the frame differ from those of every image of the card that keeps its
    // outline: turned half round, mirrored either way.
    for (int symmetry = 1; symmetry < 4; ++symmetry) {
        int differing = 0;
        for (int row = 0; row < 24; ++row)
            for (int column = 0; column < 72; ++column)
                differing += IsDark(row, column) != IsDark(symmetry & 1 ? 23 - row : row, symmetry & 2 ? 71 - column : column);
        EXPECT_GE(differing, 20) << "symmetry " << symmetry;
    }
    // No ordered stack is darker than the darkest, and the references are what their stacks show.
    const auto luma = [](cv::Vec3b c) { return 0.114 * c[0] + 0.587 * c[1] + 0.299 * c[2]; };
    const double black = luma(ColourCard::BlackReference(kMaterials));
    for (int code = 0; code < 4096; ++code) {
        std::array<uint8_t, 6> stack;
        for (int k = 0; k < 6; ++k) stack[k] = static_cast<uint8_t>(code >> (2 * k) & 3);
        ASSERT_GE(luma(ColourCard::TransmittedColour(stack, kMaterials)), black) << code;
    }
    EXPECT_EQ(ColourCard::WhiteReference(kMaterials), cv::Vec3b(255, 255, 255));
    EXPECT_THROW(ColourCard::PartAt(24, 0), std::out_of_range);
}

// CIEDE2000 of every rectified cell against the colour the simulator gives that cell.
std::vector<double> CellErrors(const cv::Mat& rectified, int cellPixels)
{
    cv::Mat cells;
    cv::resize(rectified, cells, cv::Size(64, 16), 0, 0, cv::INTER_NEAREST);
    const cv::Mat found = Orvanes::BgrToLab(cells), truth = Orvanes::BgrToLab(ColourCard::Render(kMaterials, 1, false));
    std::vector<double> errors;
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 64; ++c)
            errors.push_back(Orvanes::Ciede2000(cv::Vec3d(found.at<cv::Vec3f>(r, c)), cv::Vec3d(truth.at<cv::Vec3f>(r, c))));
    EXPECT_EQ(rectified.size(), cv::Size(64 * cellPixels, 16 * cellPixels));
    return errors;
}

TEST(CardFinder, ReadsEveryTurnAndMirrorOfSimulatedPhotosToWithinDeltaE2)
{
    const int photoCount = 216;
    std::set<std::pair<int, bool>> orientations;
    double worstPercentile = 0.0, worstCoarse = 0.0, largestTilt = 0.0, largestFalloff = 0.0, lowestQuality = 100.0;
    int cellsOver = 0;
    for (uint64_t seed = 1; seed <= photoCount; ++seed) {
        Orvanes::CardPhotoSettings settings = Orvanes::RandomCardPhotoSettings(seed);
        settings.frameAspect = 0.0;  // no more background than the margins: the test stays quick
        // Coarse JPEG blurs the colours across cells and rounds the flat white: the colours read
        // within 2.0 only from cells of about 32 pixels, as the photographing advice says.
        const bool isCoarseJpeg = settings.jpegQuality > 0 && settings.jpegQuality < 90;
        if (isCoarseJpeg) settings.cellPixels = 32.0;
        SCOPED_TRACE(testing::Message() << "seed " << seed << ", turns " << settings.quarterTurns << ", mirrored "
                                        << settings.mirrored << ", tilt " << settings.tiltDegrees);
        const Orvanes::SimulatedCardPhoto shot = Orvanes::SimulateCardPhoto(kMaterials, settings);
        const Orvanes::FoundCard found = Orvanes::FindCard(shot.photo, OptionsFor(kMaterials));
        ASSERT_EQ(found.rotation, 90 * settings.quarterTurns);
        ASSERT_EQ(found.mirrored, settings.mirrored);
        for (int k = 0; k < 4; ++k) {
            const cv::Point2d corner(k == 1 || k == 2 ? 72 : 0, k >= 2 ? 24 : 0);
            const cv::Vec3d truth = shot.cardToPhoto * cv::Vec3d(corner.x, corner.y, 1.0);
            // The corners are extrapolated a cell out from the ring's edge: the error grows with the cell.
            EXPECT_LT(cv::norm(found.corners[k] - cv::Point2d(truth[0] / truth[2], truth[1] / truth[2])),
                      1.5 * std::max(1.0, settings.cellPixels / 20.0)) << k;
        }
        std::vector<double> errors = CellErrors(found.card, 10);
        std::sort(errors.begin(), errors.end());
        const double percentile99 = errors[errors.size() * 99 / 100];
        EXPECT_LE(percentile99, 2.0) << "JPEG quality " << settings.jpegQuality;
        (isCoarseJpeg ? worstCoarse : worstPercentile) = std::max(isCoarseJpeg ? worstCoarse : worstPercentile, percentile99);
        cellsOver += static_cast<int>(std::count_if(errors.begin(), errors.end(), [](double e) { return e > 2.0; }));
        orientations.insert({settings.quarterTurns, settings.mirrored});
        largestTilt = std::max(largestTilt, settings.tiltDegrees);
        largestFalloff = std::max(largestFalloff, settings.falloff);
        if (settings.jpegQuality > 0) lowestQuality = std::min(lowestQuality, double(settings.jpegQuality));
    }
    EXPECT_EQ(orientations.size(), 8u) << "every turn, mirrored and not";
    EXPECT_TRUE(largestTilt > 28 && largestFalloff > 0.38 && lowestQuality < 72) << "the photos reach the hard cases";
    std::printf("%d photos: worst 99th-percentile CIEDE2000 %.2f (JPEG below quality 90, 32 pixels a cell: %.2f), %d of %d cells "
                "above 2.0\n", photoCount, worstPercentile, worstCoarse, cellsOver, photoCount * 1024);
}

TEST(CardFinder, IdealPhotosRectifyToExactlyThePredictedCells)
{
    // Other materials than the defaults: a white that is not 255 must still leave the light alone.
    Orvanes::CardMaterials materials = kMaterials;
    materials[3] = Orvanes::LayerEntry(235, 240, 250, 0.12f);
    const cv::Mat expected = ColourCard::Render(materials, 10, false);
    for (int turns = 0; turns < 4; ++turns)
        for (const bool mirrored : {false, true}) {
            Orvanes::CardPhotoSettings settings;
            settings.cellPixels = 8 + turns;
            settings.quarterTurns = turns;
            settings.mirrored = mirrored;
            settings.margin = 0.1 + 0.1 * turns;
            settings.placement = {0.3 * turns, 1.0 - 0.3 * turns};
            settings.background = mirrored ? 250 : 0;
            const Orvanes::FoundCard found =
                Orvanes::FindCard(Orvanes::SimulateCardPhoto(materials, settings).photo, OptionsFor(materials));
            EXPECT_TRUE(orvane_test::Same(found.card, expected) && !found.whiteBalanced && found.warnings.empty())
                << turns << " turns, mirrored " << mirrored;
            EXPECT_EQ(found.confidence, 1.0);
        }
}

TEST(CardFinder, RefusesPhotosWithoutACardTooSmallCardsAndReportsWrongReferences)
{
    std::vector<cv::Mat> photos = {orvane_test::MakePhoto(800, 600), orvane_test::MakeRings(900, 700),
                                   cv::Mat(480, 640, CV_8UC3, cv::Scalar::all(255)), ColourCard::Render(kMaterials, 12, false)};
    for (const char* name : {"astronaut.png", "chelsea.png", "coffee.png"}) {
        const auto path = std::filesystem::path("/usr/lib/python3/dist-packages/skimage/data") / name;
        photos.push_back(cv::imread(path.string(), cv::IMREAD_COLOR));
        ASSERT_FALSE(photos.back().empty()) << path << " is missing: scripts/setup.sh installs python3-skimage";
    }
    for (size_t k = 0; k < photos.size(); ++k) {
        try {
            Orvanes::FindCard(photos[k]);
            ADD_FAILURE() << "photo " << k << " taken for a card";
        } catch (const Orvanes::CardNotFound& e) {
            EXPECT_NE(std::string(e.what()).find("no colour card found"), std::string::npos) << e.what();
        }
    }
    Orvanes::CardPhotoSettings small;
    small.cellPixels = 6;
    small.margin = 0.6;
    try {
        Orvanes::FindCard(Orvanes::SimulateCardPhoto(kMaterials, small).photo);
        ADD_FAILURE() << "a card of 6-pixel cells was read";
    } catch (const Orvanes::CardNotFound& e) {
        EXPECT_NE(std::string(e.what()).find("cells are 6 pixels wide; at least 8"), std::string::npos) << e.what();
    }
    // A card printed in other materials than the finder was told, under a strongly coloured light.
    Orvanes::CardPhotoSettings tinted;
    tinted.light = {1.0, 0.9, 0.45};
    Orvanes::CardFinderOptions options = OptionsFor(kMaterials);
    options.black = cv::Vec3b(20, 20, 20);
    const Orvanes::FoundCard found = Orvanes::FindCard(Orvanes::SimulateCardPhoto(kMaterials, tinted).photo, options);
    ASSERT_EQ(found.warnings.size(), 2u);
    EXPECT_NE(found.warnings[0].find("strongly tinted"), std::string::npos);
    EXPECT_NE(found.warnings[1].find("black patch shows grey"), std::string::npos);
    EXPECT_THROW(Orvanes::FindCard(photos[0], Orvanes::CardFinderOptions{0}), std::invalid_argument);
}

}  // namespace
