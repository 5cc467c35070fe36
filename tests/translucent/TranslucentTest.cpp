// The translucent model: card sampling and matching, the contrast curve, sizing, copies, meshes.
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "CardMatching.h"
#include "ContrastCurve.h"
#include "MeshChecks.h"
#include "PhotoMeshCreater.h"
#include "TestImages.h"

namespace {

using namespace Orvanes::detail;
using namespace orvane_test;
using Orvanes::PhotosTranslucent;
using Stack = std::array<uint8_t, 6>;
using Planted = std::vector<std::pair<Orvanes::CardCell, cv::Vec3b>>;

const std::vector<int> kSizingReports{20, 80, 100};

PhotosTranslucent BuildModel(Orvanes::PhotosProgressBar* reporter = nullptr, const cv::Mat& photo = MakePhoto(40, 30),
                             const cv::Mat& card = MakeCard())
{
    cv::theRNG().state = 12345;  // the quantization draws from it
    return PhotosTranslucent(EncodePng(card), EncodePng(photo), 40.0, 30.0, 1.0, reporter);
}

// What the preview must show: the matched image in BGR.
cv::Mat Shown(const PhotosTranslucent& model)
{
    cv::Mat bgr;
    cv::cvtColor(model.MatchedImage(), bgr, cv::COLOR_HSV2BGR_FULL);
    return bgr;
}

TEST(CardMatching, SamplesOnePixelAtEachCellCentreRoundedTowardTheTopLeft)
{
    // Cell (i, j) reads pixel (j w + w / 2, i h + h / 2) for cells w x h. 15-pixel cells leave the
    // right 40 columns and bottom 10 rows unread; a card under 64 pixels wide has 0-pixel cells.
    const std::pair<cv::Size, cv::Size> cases[] = {
        {{640, 160}, {10, 10}}, {{1000, 250}, {15, 15}}, {{64, 16}, {1, 1}}, {{40, 32}, {0, 2}}};
    for (const auto& [size, cell] : cases) {
        cv::Mat card(size, CV_8UC3);
        cv::randu(card, 0, 256);
        const PhotosTranslucent model = BuildModel(nullptr, MakePhoto(40, 30), card);
        cv::Mat expected(16, 64, CV_8UC3), hsv;
        for (int i = 0; i < 16; ++i)
            for (int j = 0; j < 64; ++j)
                expected.at<cv::Vec3b>(i, j) = card.at<cv::Vec3b>(i * cell.height + cell.height / 2, j * cell.width + cell.width / 2);
        cv::cvtColor(expected, hsv, cv::COLOR_BGR2HSV_FULL);
        EXPECT_TRUE(Same(model.CardSamples(), expected) && Same(model.CardSamplesHsv(), hsv)) << size;
    }
}

TEST(CardMatching, MatchColourPicksTheNearestCellNotDarkerThanTheColour)
{
    struct Case {  // cells planted on a card far from every colour below; the colour; its match
        const char* why; Planted planted; cv::Vec3b hsv, colour; Orvanes::CardCell cell; cv::Vec3b fill = {128, 0, 255};
    };
    const Planted nearCell{{{2, 3}, {40, 20, 220}}};
    const cv::Vec3b twin(60, 150, 180);
    // Cell (0, 0) is 13/128 off in hue, cell (1, 0) 32/255 in saturation: hue counted once is nearer (0.102 < 0.125),
    // twice farther (0.144). Twice while paleness^2 + darkness^2 < 0.81: value 51 from saturation 150, 200 from 33.
    const auto hueOrSaturation = [](uint8_t s, uint8_t v) {
        return Planted{{{0, 0}, cv::Vec3b(13, s, v)}, {{1, 0}, cv::Vec3b(0, uint8_t(s + 32), v)}};
    };
    const Case cases[] = {
        {"value 50 is dark", nearCell, {40, 200, 50}, {30, 57, 0}, {10, 16}},
        {"pale and bright", nearCell, {40, 29, 201}, {0, 0, 255}, {15, 63}},
        {"saturation 30 is not pale", nearCell, {40, 30, 201}, {40, 20, 201}, {2, 3}},
        {"value 200 is not bright", nearCell, {40, 29, 200}, {40, 20, 200}, {2, 3}},
        {"brightness weighs", {{{4, 5}, {40, 150, 100}}, {{6, 7}, {40, 100, 140}}}, {40, 100, 100}, {40, 100, 100}, {6, 7}},
        // Hue is circular: from 250, 235 is 15 steps away and 5 only 11; from 0, 129 is 127 away, 128 is 128.
        {"hue wraps", {{{0, 1}, {235, 200, 200}}, {{0, 9}, {5, 200, 200}}}, {250, 200, 200}, {5, 200, 200}, {0, 9}},
        {"half a turn", {{{0, 1}, {128, 200, 200}}, {{0, 9}, {129, 200, 200}}}, {0, 200, 200}, {129, 200, 200}, {0, 9}},
        {"hue twice, value 51", hueOrSaturation(150, 51), {0, 150, 51}, {0, 182, 51}, {1, 0}},
        {"hue once, value 51", hueOrSaturation(149, 51), {0, 149, 51}, {13, 149, 51}, {0, 0}},
        {"hue twice, value 200", hueOrSaturation(33, 200), {0, 33, 200}, {0, 65, 200}, {1, 0}},
        {"hue once, value 200", hueOrSaturation(32, 200), {0, 32, 200}, {13, 32, 200}, {0, 0}},
        // An exact but darker cell loses to the twins; of those the lowest column, then row, wins.
        {"ties and darker cells", {{{0, 20}, twin}, {{5, 10}, twin}, {{3, 10}, twin}, {{0, 0}, {60, 150, 169}}},
         {60, 150, 170}, {60, 150, 170}, {3, 10}},
        {"every cell darker", {{{0, 0}, {17, 33, 60}}}, {200, 250, 121}, {17, 33, 121}, {0, 0}, {90, 100, 120}},
    };
    for (const Case& c : cases) {
        cv::Mat card(16, 64, CV_8UC3, cv::Scalar(c.fill[0], c.fill[1], c.fill[2]));
        for (const auto& [cell, colour] : c.planted) card.at<cv::Vec3b>(cell.row, cell.column) = colour;
        const CardMatch match = MatchColour(card, c.hsv);
        EXPECT_EQ(cv::Vec2i(match.cell.row, match.cell.column), cv::Vec2i(c.cell.row, c.cell.column)) << c.why;
        EXPECT_EQ(match.colour, c.colour) << c.why;
    }
}

TEST(CardMatching, PixelsTakeTheMatchOfTheirPaletteEntryAndTheLastOfEqualEntries)
{
    cv::Mat card(16, 64, CV_8UC3, cv::Scalar(128, 0, 255));
    card.at<cv::Vec3b>(4, 4) = cv::Vec3b(0, 255, 255);
    // Entries 1 and 2 share a colour, which the adjustment leaves dark in 1 and turns pale in 2;
    // entry 2's match paints both. Entry 0 is bright red. Pixel (0, 1) is in no entry.
    const cv::Vec3b grey = cv::Vec3b::all(10), red(0, 0, 250);
    const cv::Mat palette = (cv::Mat_<cv::Vec3b>(3, 1) << red, grey, grey);
    const cv::Mat working = (cv::Mat_<cv::Vec3b>(2, 2) << grey, cv::Vec3b(1, 2, 3), red, grey);
    const PaletteMatch match = MatchPalette(card, working, palette, (cv::Mat_<cv::Vec3b>(3, 1) << red, grey, cv::Vec3b::all(250)));
    ASSERT_EQ(match.cardMatches.size(), 3u);
    EXPECT_EQ(cv::Vec3i(match.cardMatches[0].row, match.cardMatches[1].row, match.cardMatches[2].row), cv::Vec3i(4, 10, 15));
    const cv::Vec3b white(0, 0, 255), black(0, 0, 0), matchedRed(0, 255, 250);
    EXPECT_TRUE(Same(match.matchedImage, (cv::Mat_<cv::Vec3b>(2, 2) << white, black, matchedRed, white)));
    const PaletteLookup row(palette.t());  // a row of colours is read like a column
    EXPECT_EQ(cv::Vec3i(row.Find(red.val), row.Find(grey.val), row.Find(cv::Vec3b(1, 2, 3).val)), cv::Vec3i(0, 2, -1));
}

TEST(CardMatching, CellLayersSpellTheCellInBaseFourUnderAWhiteTop)
{
    const std::pair<Orvanes::CardCell, Stack> cases[] = {{{0, 0}, {0, 0, 0, 0, 0, 3}}, {{10, 16}, {0, 0, 2, 2, 1, 3}},
                                                         {{5, 37}, {1, 1, 1, 1, 2, 3}}, {{15, 63}, {3, 3, 3, 3, 3, 3}}};
    for (const auto& [cell, layers] : cases) EXPECT_EQ(PhotosTranslucent::CellLayers(cell), layers) << cell.row;
    for (const Orvanes::CardCell& cell : {Orvanes::CardCell{16, 0}, Orvanes::CardCell{0, -1}})
        EXPECT_THROW(PhotosTranslucent::CellLayers(cell), std::out_of_range);
}

TEST(ContrastCurve, TableAndScoreMatchTheWholeImagePipeline)
{
    // Each channel about its own mean in whole-image float operations, a clamp and the saturating conversion.
    // Flat images are their own mean and must stay put at any strength.
    for (const cv::Mat& image : {MakeRamp(97, 61), MakePhoto(90, 70), cv::Mat(5, 7, CV_8UC1, cv::Scalar(0)),
                                 cv::Mat(5, 7, CV_8UC1, cv::Scalar(255)), cv::Mat(3, 3, CV_8UC3, cv::Scalar(77, 0, 255))})
        for (const double contrast : {0.0, 0.05, 0.35, 0.5, 0.95, 1.0})
            for (const double bright : {0.0, 0.1, -0.3, 0.8}) {
                std::vector<cv::Mat> channels;
                cv::split(image, channels);
                for (cv::Mat& channel : channels) {
                    const double mean = cv::mean(channel)[0];
                    cv::Mat values;
                    channel.convertTo(values, CV_32F);
                    cv::subtract(values, cv::Scalar((1.0 - bright) * mean), values);
                    cv::multiply(values, cv::Scalar(std::tan((contrast * 44.0 + 45.0) / 180.0 * 3.1416)), values);
                    cv::add(values, cv::Scalar((1.0 + bright) * mean), values);
                    cv::Mat(cv::max(cv::min(values, 255.0), 0.0)).convertTo(channel, CV_8U);
                }
                cv::Mat expected;
                cv::merge(channels, expected);
                EXPECT_TRUE(Same(ApplyContrast(image, contrast, bright), expected)) << contrast << ", " << bright;
            }
    // Settings beyond float's range still give a defined, clamped table.
    EXPECT_EQ(cv::Vec2i(ContrastTable(100.0, 0.5, 1e300)[100], ContrastTable(100.0, 0.5, -1e300)[100]), cv::Vec2i(255, 0));

    // The score by converting both images to HSV whole and counting on the channels.
    cv::Mat ramp;  // every value once, so the bounds of the pale and vivid counts are met exactly
    cv::cvtColor(MakeRamp(256, 3), ramp, cv::COLOR_GRAY2BGR);
    cv::Mat pale(1, 56, CV_8UC3);  // saturation 55 down to 0 at full value: both pale bounds met
    for (int k = 0; k < pale.cols; ++k) pale.at<cv::Vec3b>(0, k) = cv::Vec3b(uchar(200 + k), uchar(200 + k), 255);
    cv::Mat tinted(12, 256, CV_8UC3);  // reds of every value, tinted ever more: the vivid bounds met
    for (int r = 0; r < tinted.rows; ++r)
        for (int v = 0; v < 256; ++v) tinted.at<cv::Vec3b>(r, v) = cv::Vec3b::all(uchar(std::max(0, v - 6 * r))), tinted.at<cv::Vec3b>(r, v)[2] = uchar(v);
    for (const cv::Mat& image : {MakeRings(211, 97), MakePhoto(160, 120), ramp, pale, tinted}) {
        const ContrastScorer scorer(image);
        cv::Mat hsv, gain;
        std::vector<cv::Mat> b, a;
        cv::cvtColor(image, hsv, cv::COLOR_BGR2HSV_FULL);
        cv::split(hsv, b);
        for (int step = 1; step <= 20; step += 3) {
            cv::cvtColor(ApplyContrast(image, step * 0.05, 0.0), hsv, cv::COLOR_BGR2HSV_FULL);
            cv::split(hsv, a);
            cv::subtract(a[1], b[1], gain);  // saturates at 0
            const int expected = cv::countNonZero((b[1] < 40) & (b[2] > 180)) -
                                 cv::countNonZero((a[1] < 25) & (a[2] > 180)) +
                                 cv::countNonZero((gain > 20) & (a[1] > 80) & (a[2] > 80));
            EXPECT_EQ(scorer.Score(step * 0.05), expected) << "step " << step;
        }
    }
}

TEST(TranslucentModel, SizingAndContrastFollowTheRequestOrLeaveTheObjectAsItWas)
{
    RecordingProgress reporter;
    PhotosTranslucent model = BuildModel(&reporter, MakePhoto(160, 120));
    EXPECT_EQ(reporter.values, kSizingReports);
    // Request; working size; palette size. A width of 0 or less keeps the size, the palette follows it.
    const std::tuple<cv::Vec3d, cv::Size, int> cases[] = {
        {{100.0, 50.0, 0.5}, {200, 100}, 256}, {{5.0, 20.0, 0.5}, {10, 40}, 100}, {{10.7, 10.7, 1.0}, {10, 10}, 100},
        {{-3.0, 1.0, 1.0}, {160, 120}, 9}, {{-400.0, 1.0, 1.0}, {160, 120}, 256}, {{1.0, 10.0, 1.0}, {1, 10}, 1}};
    for (const auto& [request, size, paletteSize] : cases) {
        reporter.values.clear();
        const cv::Mat preview = model.UpdatePreviewImage(request[0], request[1], request[2]);
        EXPECT_EQ(std::tuple(reporter.values, preview.size(), model.QuantPalette().rows, model.CardMatches().size()),
                  std::tuple(kSizingReports, size, paletteSize, size_t(paletteSize))) << request;
        EXPECT_TRUE(Same(preview, Shown(model))) << request;
    }
    // No colours, 100 colours for 20 pixels (cv::Exception); pixel counts below 1 or beyond an int.
    const uchar* working = model.QuantizedImage().data;
    const std::pair<cv::Vec3d, bool> refusals[] = {{{0.0, 10.0, 1.0}, false}, {{10.0, 2.0, 1.0}, false},
        {{0.5, 10.0, 1.0}, true}, {{10.0, 10.0, std::nan("")}, true}, {{1e12, 10.0, 1.0}, true}, {{-1e300, 10.0, 1e-300}, true}};
    for (const auto& [request, argument] : refusals) {
        SCOPED_TRACE(testing::Message() << request);
        reporter.values.clear();
        try { model.UpdatePreviewImage(request[0], request[1], request[2]); ADD_FAILURE() << "accepted"; }
        catch (const std::invalid_argument&) { EXPECT_TRUE(argument); } catch (const cv::Exception&) { EXPECT_FALSE(argument); }
        EXPECT_TRUE(reporter.values.empty() && model.QuantizedImage().data == working && model.PixelSize() == 1.0);
    }
    EXPECT_THROW(model.UpdatePreviewImage(std::numeric_limits<double>::infinity(), 0.0), std::invalid_argument);
    EXPECT_EQ(model.Contrast(), 0.0);
    const uchar* samples = model.CardSamples().data;  // a card that is no BGR image changes nothing either
    EXPECT_THROW(model.Init(cv::Mat(), 20, 15, 1, nullptr), cv::Exception);
    EXPECT_THROW(model.Init(cv::Mat(160, 640, CV_8UC1, cv::Scalar(9)), 20, 15, 1, nullptr), cv::Exception);
    EXPECT_TRUE(model.CardSamples().data == samples && model.QuantizedImage().data == working);

    // A contrast re-matches the palette without resampling; a new size keeps the setting.
    const cv::Mat palette = model.QuantPalette().clone();
    const cv::Mat adjusted = model.UpdatePreviewImage(0.3, 0.1);
    EXPECT_TRUE(Same(adjusted, Shown(model)) && Same(model.QuantPalette(), palette) && reporter.values.empty());
    const cv::Mat resized = model.UpdatePreviewImage(40.0, 30.0, 1.0);  // keeps the contrast setting
    EXPECT_TRUE(Same(model.UpdatePreviewImage(0.3, 0.1), resized));

    reporter.values.clear();
    float contrast = -1.0f, brightness = -1.0f;
    const cv::Mat preview = model.AutoContrast(contrast, brightness);
    // Every step is reported although the search stops early.
    EXPECT_EQ(reporter.values, (std::vector<int>{4, 9, 14, 19, 23, 28, 33, 38, 42, 47, 52, 57, 61, 66, 71, 76, 80,
                                                 85, 90, 95, 100}));
    // Scored on the 160 x 120 photograph (on the 40 x 30 working image it would stop at 9), step 1
    // scores 0, above the search's start at -1, and step 18 ties with 17, which ends the search.
    EXPECT_EQ(cv::Vec2f(contrast, brightness), cv::Vec2f(static_cast<float>(17 * 0.05), 0.0f));
    EXPECT_EQ(cv::Vec2d(model.Contrast(), model.Brightness()), cv::Vec2d(17 * 0.05, 0.0));
    EXPECT_TRUE(Same(model.UpdatePreviewImage(model.Contrast(), 0.0), preview));
}

TEST(TranslucentModel, CopiesShareImagesAndMovesEmptyTheSource)
{
    RecordingProgress reporter;
    PhotosTranslucent original = BuildModel(&reporter);
    original.UpdatePreviewImage(0.25, -0.1);
    PhotosTranslucent copy(original);
    EXPECT_TRUE(copy.SourceImage().data == original.SourceImage().data && copy.MatchedImage().data == original.MatchedImage().data);
    reporter.values.clear();
    copy.UpdatePreviewImage(30.0, 20.0, 1.0);  // the reporter is shared
    EXPECT_TRUE(reporter.values == kSizingReports && copy.QuantizedImage().data != original.QuantizedImage().data);

    PhotosTranslucent moved(std::move(original));
    EXPECT_EQ(moved.SourceImage().data, copy.SourceImage().data);
    for (const cv::Mat* image : {&original.QuantizedImage(), &original.QuantPalette(), &original.CardSamples(), &original.CardSamplesHsv(),
                                 &original.SourceImage(), &original.MatchedImage(), &original.MatchedColours()})
        EXPECT_TRUE(image->empty());
    EXPECT_TRUE(original.CardMatches().empty() && original.CardPath().empty());
    EXPECT_THROW(original.UpdatePreviewImage(0.1, 0.0), std::logic_error);
    EXPECT_THROW(original.GetMeshes(7, 9, 0.1, 0.1), std::logic_error);

    // Assignment revives the moved-from object; moving again empties the new source.
    original = copy;
    EXPECT_EQ(original.QuantizedImage().data, copy.QuantizedImage().data);
    PhotosTranslucent target = BuildModel();
    target = std::move(original);
    EXPECT_EQ(target.QuantizedImage().data, copy.QuantizedImage().data);
    EXPECT_TRUE(original.SourceImage().empty() && original.CardMatches().empty());
    PhotosTranslucent& alias = target;  // self-assignment, by copy or by move, changes nothing
    target = alias;
    target = std::move(alias);
    EXPECT_TRUE(target.QuantizedImage().data == copy.QuantizedImage().data && target.CardMatches().size() == copy.CardMatches().size());
}

TEST(TranslucentModel, MaterialsTileTheSixLayerGridAndTheBodyFollowsTheGrey)
{
    constexpr double kLayer = 0.2, kLast = 0.5, kPixels = 40.0 * 30.0;
    // Dark left half: cell (10, 16), all black; pale right half: cell (15, 63), all white.
    cv::Mat halves(30, 40, CV_8UC3, cv::Scalar(20, 20, 20));
    halves(cv::Rect(20, 0, 20, 30)).setTo(cv::Scalar(240, 245, 250));
    const PhotosTranslucent model = BuildModel(nullptr, halves);
    const std::vector<Orvanes::OrvaneMesh> meshes = PhotosTranslucent(model).GetMeshes(8, 12, kLayer, kLast);
    ASSERT_EQ(meshes.size(), 5u);
    // The same parts, made one at a time from the grid and the body.
    const auto same = [&meshes](const Orvanes::OrvaneMesh& mesh, size_t k) {
        return mesh.vertices == meshes[k].vertices && mesh.faces == meshes[k].faces;
    };
    const cv::Mat grid = model.VoxelGrid(cv::Mat());
    for (int k = 0; k < 4; ++k)
        EXPECT_TRUE(same(Orvanes::PhotoMeshCreater(nullptr).CreateMeshFromVox(grid, model.PixelSize(), kLayer, kLast, k, 0, 0),
                         size_t(k))) << k;
    EXPECT_TRUE(same(model.BodyMesh(8, 12, kLayer, cv::Mat()), 4));
    std::array<double, 4> expected{};  // volume per material
    for (const Stack& s : {PhotosTranslucent::CellLayers({10, 16}), PhotosTranslucent::CellLayers({15, 63})})
        for (int k = 0; k < 6; ++k) expected[s[k]] += kPixels / 2 * (k == 5 ? kLast : kLayer);
    for (int material = 0; material < 4; ++material) {
        ExpectClosedAndOutward(meshes[material], false);
        EXPECT_NEAR(SixVolume(meshes[material]) / 6.0, expected[material], 1e-4 * expected[material]) << material;
        for (const auto& v : meshes[material].vertices)  // the colour layers hang below z = 0
            ASSERT_TRUE(v[2] >= -(5 * kLayer + kLast) - 1e-5 && v[2] <= 1e-5) << material << ": " << v[2];
    }
    // The body stands on z = 0: black pixels (12 - 6) layers high, white ones (8 - 6). Vertices pair top, bottom.
    ExpectClosedAndOutward(meshes[4], true);
    const auto& body = meshes[4].vertices;
    ASSERT_GE(body.size(), 2u);
    const Eigen::Map<const Eigen::Matrix<float, 6, Eigen::Dynamic>> pairs(body[0].data(), 6, long(body.size() / 2));
    const cv::Vec3d z(pairs.row(5).cwiseAbs().maxCoeff(), pairs(2, 0), pairs(2, pairs.cols() - 1));
    EXPECT_LT(cv::norm(z, cv::Vec3d(0.0, 6 * kLayer, 2 * kLayer)), 1e-5) << "bottom, dark top, pale top: " << z;
}

}  // namespace
