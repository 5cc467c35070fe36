// The relief model: working images, palette order, refusals, preview, per-colour voxel meshes, proposed stacks.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "MeshChecks.h"
#include "ColourDifference.h"
#include "PhotosRelief.h"
#include "StackPlanner.h"
#include "TestImages.h"

using namespace orvane_test;
using Orvanes::LayerEntry;
using Orvanes::OrvaneMesh;
using Orvanes::PhotosRelief;

namespace {

const LayerEntry kBlack(0, 0, 0, 1.0f), kRed(0, 0, 255, 0.3f), kWhite(255, 255, 255, 0.125f);
constexpr double kLayerHeight = 0.2, kBottomLayerHeight = 0.6, kVoxelSize = 0.5;
const float kNaN = std::numeric_limits<float>::quiet_NaN();

PhotosRelief Relief(const cv::Mat& image, std::vector<LayerEntry> palette = {}, double width = 0, double height = 0,
                    double pixelSize = 1.0, Orvanes::PhotosProgressBar* progress = nullptr)
{
    return PhotosRelief(EncodePng(image), width ? width : image.cols, height ? height : image.rows, pixelSize,
                        progress, std::move(palette));
}

cv::Mat Pixels(int rows, int cols, const cv::Vec3b& bgr) { return cv::Mat(rows, cols, CV_8UC3, cv::Scalar(bgr)); }

cv::Mat Halves(const cv::Vec3b& left, const cv::Vec3b& right)
{
    cv::Mat image;
    cv::hconcat(Pixels(4, 4, left), Pixels(4, 4, right), image);
    return image;
}

// Entries in the relief's own sort order (blue ascending), so index k stays index k.
std::vector<LayerEntry> Palette(int count)
{
    std::vector<LayerEntry> palette;
    for (int k = 0; k < count; ++k) palette.emplace_back(static_cast<float>(10 * k), 40.0f, 80.0f, 0.5f);
    return palette;
}

// The meshes, once the colours returned are checked to be the palette's, in order.
std::vector<OrvaneMesh> Meshes(PhotosRelief& relief, const std::vector<LayerEntry>& stack, int baseCount)
{
    std::vector<OrvaneMesh> meshes;
    std::vector<LayerEntry> colours;
    relief.GetVoxMeshes(stack, kLayerHeight, kBottomLayerHeight, baseCount, kVoxelSize, meshes, colours);
    EXPECT_EQ(colours, std::vector<LayerEntry>(relief.Palette().begin(), relief.Palette().begin() + meshes.size()));
    return meshes;
}

// Volume per palette index (the last slot: colours the palette lacks): relief level i from the top holds stack
// entry L-1-i where grey >= (L-1-i) * step + min; base levels hold index 0.
std::vector<double> LabelVolumes(const PhotosRelief& relief, const std::vector<LayerEntry>& stack, int baseCount)
{
    const cv::Mat& grey = relief.GreyImage();
    const auto& palette = relief.Palette();
    const int levels = std::max(int(stack.size()) - baseCount, 0), channels = levels + baseCount;
    double lo = 0.0, hi = 0.0;
    cv::minMaxLoc(grey, &lo, &hi);
    const int step = levels > 0 ? static_cast<int>(hi - lo) / levels : 0;
    std::vector<double> volumes(palette.size() + 1, 0.0);
    for (int c = 0; c < channels; ++c) {
        const auto entry = c < levels ? std::find(palette.begin(), palette.end(), stack.rbegin()[c]) : palette.begin();
        const double pixels = c < levels ? cv::countNonZero(grey >= (levels - 1 - c) * step + lo) : grey.total();
        volumes[entry - palette.begin()] +=
            pixels * kVoxelSize * kVoxelSize * (c + 1 < channels ? kLayerHeight : kBottomLayerHeight);
    }
    return volumes;
}


}  // namespace

TEST(ReliefModel, DecodesToThreeChannelsFloorsTheWorkingSizeStretchesGreyAndSortsThePalette)
{
    EXPECT_TRUE(Same(Relief(cv::Mat(2, 3, CV_8UC4, cv::Scalar(10, 20, 30, 128))).SourceImage(), Pixels(2, 3, {10, 20, 30})));
    const PhotosRelief rings = Relief(MakeRings(64, 40), {kWhite, kBlack, kRed}, 100.1, 50, 0.4);
    EXPECT_TRUE(cv::Size(rings.WidthPx(), rings.HeightPx()) == cv::Size(250, 125) && rings.GreyImage().size() == cv::Size(250, 125));
    EXPECT_EQ(cv::Vec2d(rings.GreyMin(), rings.GreyMax()), cv::Vec2d(0, 255));
    EXPECT_EQ(rings.Palette(), (std::vector<LayerEntry>{kBlack, kRed, kWhite})) << "blue, then green, then red";
    EXPECT_TRUE(Same(Relief((cv::Mat_<uchar>(1, 3) << 50, 75, 150)).GreyImage(), (cv::Mat_<uchar>(1, 3) << 0, 64, 255)));

    std::vector<LayerEntry> palette;
    for (int k = 0; k < 40; ++k)  // every third blue is NaN: 26 numbers, then 14 NaN
        palette.emplace_back(k % 3 ? float(k) : kNaN, float(40 - k), kNaN, 0.5f);
    palette = Relief(MakeRings(8, 8), palette).Palette();
    ASSERT_EQ(palette.size(), 40u);
    for (size_t k = 1; k < 40; ++k) EXPECT_TRUE(k < 26 ? palette[k - 1][0] < palette[k][0] : std::isnan(palette[k][0])) << k;
}

TEST(ReliefModel, RefusesUnreadableInputsAndSizesWithoutPixelsAndResamplesWithoutTheStretch)
{
    EXPECT_THROW(PhotosRelief(cv::Mat(1, 5, CV_8U, cv::Scalar(7)), 10, 10, 1, nullptr, {}), cv::Exception) << "junk";
    EXPECT_THROW(PhotosRelief(cv::Mat(), 10, 10, 1, nullptr, {}), cv::Exception);
    EXPECT_THROW(PhotosRelief(std::string("/nonexistent/photo.png"), 10, 10, 1, nullptr, {}), cv::Exception);
    const cv::Mat png = orvane_test::EncodePng(MakeRings(8, 8));
    cv::Mat twoColumns(static_cast<int>(png.total()), 2, CV_8U);  // the bytes down one column: not continuous
    png.reshape(1, static_cast<int>(png.total())).copyTo(twoColumns.col(0));
    EXPECT_EQ(PhotosRelief(twoColumns.col(0), 10, 10, 1, nullptr, {}).GreyMax(), 255);
    EXPECT_EQ(PhotosRelief::LevelGreyStep(0, 255, 0), 0) << "no relief levels, no step";
    const cv::Vec3d sizes[] = {{0.5, 10, 1}, {10, 10, 0}, {10, 10, -1}, {1e300, 10, 1e-300}, {std::nan(""), 10, 1}};
    for (const cv::Vec3d& s : sizes) EXPECT_THROW(Relief(MakeRings(8, 8), {}, s[0], s[1], s[2]), std::invalid_argument) << s;

    PhotosRelief half = Relief(Halves({}, cv::Vec3b::all(255)));
    EXPECT_THROW(half.GetMesh(std::numeric_limits<int>::min(), 1, 0.1, 0.0), std::invalid_argument);
    const OrvaneMesh body = half.GetMesh(2, 4, 0.5, 0.1);  // tops from 2 x 0.5 + 0.1 to one level higher
    cv::Vec2f tops(1e9f, -1e9f);
    for (size_t v = 0; v < body.vertices.size(); v += 2) tops = {std::min(tops[0], body.vertices[v][2]), std::max(tops[1], body.vertices[v][2])};
    EXPECT_LT(cv::norm(tops - cv::Vec2f(1.1f, 1.6f)), 1e-5);
    const cv::Mat grey = half.GreyImage();
    EXPECT_THROW(half.UpdatePreviewImage({}, 0, 40, 1e-9, 0.5), std::invalid_argument);  // and changes nothing
    EXPECT_TRUE(half.PixelSize() == 1 && half.WidthPx() == 8 && half.GreyImage().data == grey.data);

    PhotosRelief rings = Relief(MakeRings(40, 20));
    rings.UpdatePreviewImage({}, 0, 0, 0, 0.5);  // a new pixel size alone keeps the pixel counts
    EXPECT_EQ(cv::Vec4d(rings.PixelSize(), rings.WidthPx(), rings.GreyMin(), rings.GreyMax()), cv::Vec4d(0.5, 40, 60, 230));
    EXPECT_EQ(rings.UpdatePreviewImage({kBlack}, 0, 30, 0, 0).size(), cv::Size(60, 20));
    EXPECT_EQ(cv::Size(rings.WidthPx(), rings.HeightPx()), rings.GreyImage().size());
    rings.UpdatePreviewImage({}, 0, 12, 0, -20);  // sizes summing to zero or less still re-sample
    EXPECT_EQ(rings.GreyImage().size(), cv::Size(24, 20));
}

TEST(ReliefPreview, LevelsPaintTopFirstUntilTheOpacitySumPassesOneAndSaturateEachByte)
{
    const LayerEntry white(255, 255, 255, 1.0f);
    const std::tuple<std::vector<LayerEntry>, int, cv::Vec3b, cv::Vec3b> cases[] = {  // stack, base, left, right
        // No relief levels, or a negative base count: black.
        {{white, white}, 2, {}, {}}, {{white, white}, 3, {}, {}}, {{white, white}, -1, {}, {}}, {{}, 0, {}, {}},
        // An opaque top level sums to exactly 1.0 and still lets the next one paint.
        {{LayerEntry(255, 0, 0, 1), LayerEntry(0, 0, 255, 1)}, 0, {255, 0, 0}, {255, 0, 255}},
        // Eighths of 255 each add 31 until their sum passes 1.0, and saturate.
        {std::vector<LayerEntry>(9, kWhite), 0, {31, 31, 31}, {255, 255, 255}},
        {std::vector<LayerEntry>(4, kWhite), 0, {31, 31, 31}, {124, 124, 124}},
        {{LayerEntry(7, 200, 3, 0.125f)}, 0, {0, 25, 0}, {0, 25, 0}},
        {{LayerEntry(1e30f, -1e30f, kNaN, 1.0f)}, 0, {255, 0, 0}, {255, 0, 0}},
    };
    PhotosRelief relief = Relief(Halves({}, cv::Vec3b::all(255)));  // only the white half reaches every level
    for (const auto& [stack, baseCount, left, right] : cases) {
        const cv::Mat preview = relief.UpdatePreviewImage(stack, baseCount, 0, 0, 0);
        EXPECT_TRUE(Same(preview, Halves(left, right))) << stack.size() << " levels, base " << baseCount;
        EXPECT_EQ(relief.PreviewImage().data, preview.data);
    }
    // A copy keeps its own preview when the original renders again.
    const PhotosRelief copy = relief;
    relief.UpdatePreviewImage({white}, 0, 0, 0, 0);
    EXPECT_TRUE(Same(copy.PreviewImage(), Pixels(4, 8, {255, 0, 0})));
    EXPECT_TRUE(Same(relief.PreviewImage(), Pixels(4, 8, {255, 255, 255})));
}

TEST(ReliefVoxelMeshes, FiveEntriesOverTwoBaseLevelsTakeTheirColoursTopFirst)
{
    // Step 255 / 3 = 85: the top level holds the 18 pixels of grey >= 170, the next the 33 of grey >= 85, the
    // lowest relief level all 48, and both base levels colour 0.
    PhotosRelief relief = Relief(MakeRamp(16, 3), Palette(5));
    const auto& p = relief.Palette();
    const std::vector<OrvaneMesh> meshes = Meshes(relief, {p[3], p[3], p[2], p[1], p[4]}, 2);
    ASSERT_EQ(meshes.size(), 5u);
    const double h = kLayerHeight, cell = kVoxelSize * kVoxelSize;
    const double expects[][4] = {{4, 0.0, -h, 18 * cell * h}, {1, -h, -2 * h, 33 * cell * h}, {2, -2 * h, -3 * h, 48 * cell * h},
                                 {0, -3 * h, -4 * h - kBottomLayerHeight, 48 * cell * (h + kBottomLayerHeight)}};
    for (const auto& e : expects) {  // colour, top, bottom, volume
        const OrvaneMesh& mesh = meshes[size_t(e[0])];
        // z range of the vertices the triangles use: level 0 starts at z = 0, levels run down.
        float low = std::numeric_limits<float>::max(), high = std::numeric_limits<float>::lowest();
        for (const auto& f : mesh.faces)
            for (int c = 0; c < 3; ++c) low = std::min(low, mesh.vertices[f[c]][2]), high = std::max(high, mesh.vertices[f[c]][2]);
        EXPECT_LT(cv::norm(cv::Vec2d(high, low) - cv::Vec2d(e[1], e[2])), 1e-4) << "colour " << e[0] << ": " << high << ", " << low;
        EXPECT_NEAR(SixVolume(mesh) / 6.0, e[3], 1e-5 * e[3]) << "colour " << e[0];
    }
    // Colour 3 stands only in the base part of the stack, which prints in colour 0.
    EXPECT_TRUE(meshes[3].faces.empty() && !meshes[3].vertices.empty());
}

TEST(ReliefVoxelMeshes, ColoursTogetherFillExactlyTheReliefVoxelsLeavingHolesForStrangers)
{
    cv::theRNG().state = 4242;
    cv::Mat noise(23, 31, CV_8UC1);
    cv::randu(noise, 0, 256);
    const auto p = Palette(4);
    // The last stack's colour 1, 2, 3 is not in the palette: a hole. A uniform picture fills every level whole.
    const std::vector<LayerEntry> stacks[] = {{p[1], p[2], p[3], p[0], p[2], p[1], p[3]},
                                              {p[0], p[3], p[3], p[3]},
                                              {p[2]},
                                              {p[0], LayerEntry(1.0f, 2.0f, 3.0f, 0.5f), p[1]}};
    RecordingProgress progress;
    for (const cv::Mat& grey : {noise, MakeRings(40, 30), cv::Mat(5, 6, CV_8UC1, cv::Scalar(90))}) {
        PhotosRelief relief = Relief(grey, p);
        for (const auto& stack : stacks)
            for (int baseCount : {0, 1, 3, 9}) {  // from none to taller than any stack
                SCOPED_TRACE(testing::Message() << grey.cols << "x" << grey.rows << " stack " << stack.size()
                                                << " base " << baseCount);
                // Neither a reporter nor the last preview changes the meshes; reports rise through each colour's quarter.
                progress.values.clear();
                relief.SetProgressBar(baseCount % 2 ? &progress : nullptr);
                const std::vector<OrvaneMesh> meshes = Meshes(relief, stack, baseCount);
                relief.UpdatePreviewImage(stack, baseCount, 0, 0, 0);
                EXPECT_GE(progress.values.size(), 5u * (baseCount % 2)) << "the mesher reports between the ends";
                for (int end : {25, 50, 75, 100})
                    EXPECT_EQ(std::count(progress.values.begin(), progress.values.end(), end), baseCount % 2) << end;
                EXPECT_EQ(std::adjacent_find(progress.values.begin(), progress.values.end(), std::greater_equal<int>()),
                          progress.values.end());
                ASSERT_EQ(meshes.size(), 4u) << "every colour has a mesh, if only of the shell vertices";
                const std::vector<double> volumes = LabelVolumes(relief, stack, baseCount);
                for (size_t k = 0; k < meshes.size(); ++k) {
                    ExpectClosedAndOutward(meshes[k], /*strict=*/false);
                    // Vertices are floats of a few units; the relative error stays far below 1e-5.
                    EXPECT_NEAR(SixVolume(meshes[k]) / 6.0, volumes[k], 1e-5 * (1.0 + volumes[k])) << k;
                }
            }
    }
}

TEST(ReliefVoxelMeshes, EmptyPalettesOrGridsGiveNoMeshes254LabelsStayApartAndMoreAreRefused)
{
    // No palette: nothing meshed or sent, stale outputs cleared. No grid: each colour still counts.
    RecordingProgress progress;
    std::vector<OrvaneMesh> meshes(2);
    std::vector<LayerEntry> colours(3);
    Relief(MakeRamp(16, 5), {}, 0, 0, 1.0, &progress).GetVoxMeshes({kBlack}, 0.1, 0.2, 0, 0.5, meshes, colours);
    EXPECT_TRUE(meshes.empty() && colours.empty() && progress.values.empty());
    Relief(MakeRamp(16, 5), Palette(2), 0, 0, 1.0, &progress).GetVoxMeshes({}, 0.1, 0.2, 0, 0.5, meshes, colours);
    EXPECT_TRUE(meshes.empty() && colours.empty() && progress.values == std::vector<int>({50, 100}));

    // 254 colours: labels 0..253, "not in the palette" 254 and "empty" 255 all stay distinct.
    PhotosRelief relief = Relief(MakeRamp(16, 5), Palette(254));
    meshes = Meshes(relief, {relief.Palette()[0], LayerEntry(300, 0, 0, 1), relief.Palette()[253]}, 1);
    ASSERT_EQ(meshes.size(), 254u);
    for (size_t k = 0; k < 254; ++k) EXPECT_EQ(meshes[k].faces.empty(), k != 0 && k != 253) << k;
    ExpectClosedAndOutward(meshes[253], /*strict=*/false);

    PhotosRelief tooMany = Relief(MakeRamp(16, 5), Palette(255));
    EXPECT_THROW(Meshes(tooMany, Palette(3), 1), std::invalid_argument);
    EXPECT_THROW(Meshes(relief, Palette(3), -4), std::invalid_argument);
    EXPECT_THROW(Meshes(relief, std::vector<LayerEntry>(600, kBlack), 1), cv::Exception);
    EXPECT_THROW(Meshes(relief, {}, 513), cv::Exception);
}

TEST(AutoLayer, SmallPalettesAndFlatPicturesNeedNoAnalysisAndCropsOfAPhotoKeepTheirBands)
{
    const auto propose = [](PhotosRelief relief, int baseCount, int layerCount) {
        std::vector<LayerEntry> stack{LayerEntry(1, 2, 3, 4)};  // replaced, not extended
        relief.GetAutoLayerInfo(stack, baseCount, layerCount);
        return stack;
    };
    EXPECT_TRUE(propose(Relief(MakeRings(32, 32)), 2, 12).empty());
    EXPECT_EQ(propose(Relief(MakeRings(32, 32), {kRed}), 2, 12), std::vector<LayerEntry>(12, kRed));
    // No edges: half black, then white, whatever the palette.
    const PhotosRelief flat = Relief(cv::Mat(20, 20, CV_8UC3, cv::Scalar::all(90)), {kWhite, kRed});
    std::vector<LayerEntry> expected(4, kBlack);
    expected.resize(9, kWhite);
    testing::internal::CaptureStdout();  // the fit's coefficients
    EXPECT_EQ(propose(flat, 0, 9), expected);
    EXPECT_TRUE(propose(flat, 0, 0).empty() && propose(flat, 0, -3).empty());
    for (const auto& [base, levels] : {std::pair{0, std::numeric_limits<int>::max()}, {std::numeric_limits<int>::max(), 9}})
        EXPECT_THROW(propose(flat, base, levels), std::invalid_argument) << "before allocating";
    testing::internal::GetCapturedStdout();

    // Crops of a real photo reach the choices between edge clusters; bands pinned as palette indices.
    const char* sampleDir = std::getenv("ORVANE_SAMPLE_DIR");  // the folder of chelsea.png
    if (sampleDir == nullptr) GTEST_SKIP();
    const cv::Mat sample = cv::imread(std::string(sampleDir) + "/chelsea.png", cv::IMREAD_COLOR);
    const std::vector<LayerEntry> palette = {kBlack, {140, 63, 29, 0.4f}, {38, 165, 224, 0.35f}, kWhite};
    const std::tuple<cv::Rect, size_t, const char*> crops[] = {
        {{72, 24, 211, 58}, 4, "0000000000033333"}, {{80, 7, 77, 192}, 3, "0000000000022222"},
        {{1, 167, 277, 27}, 4, "0000111111333333"}, {{17, 132, 244, 61}, 4, "0000111111333333"},
        {{32, 6, 128, 190}, 3, "0000111111222222"}};
    testing::internal::CaptureStdout();
    for (const auto& [crop, colours, bands] : crops) {
        const PhotosRelief relief = Relief(sample(crop).clone(), {palette.begin(), palette.begin() + colours});
        std::string levels;
        for (const LayerEntry& e : propose(relief, 2, 16))
            levels += char('0' + (std::find(relief.Palette().begin(), relief.Palette().end(), e) - relief.Palette().begin()));
        EXPECT_EQ(levels, bands) << crop;
    }
    testing::internal::GetCapturedStdout();
}

TEST(StackPlanner, FindsTheBestBandedStackOfAllAsTriedOneByOne)
{
    // Colours on multiples of 8 fill each bin with one colour, so the bins cost what the pixels do.
    cv::Mat photo(8, 16, CV_8UC3);
    cv::RNG(7).fill(photo, cv::RNG::UNIFORM, 0, 32);
    photo *= 8;
    PhotosRelief relief = Relief(photo, {kBlack, kRed, {0, 200, 0, 0.6f}, kWhite});
    const std::vector<LayerEntry> palette = relief.Palette(), planned = Orvanes::PlanStack(relief, 1, 7);
    const auto error = [&](const std::vector<LayerEntry>& s) {
        return cv::mean(Orvanes::ColourErrorMap(relief.ColourImage(), relief.UpdatePreviewImage(s, 1, 0, 0, 0)))[0];
    };
    double best = std::numeric_limits<double>::infinity();
    for (int code = 0; code < 4096; ++code) {
        std::vector<LayerEntry> stack = {PhotosRelief::BaseColour(palette)};
        std::vector<bool> used(4, false);
        bool banded = true;
        for (int level = 0; level < 6; ++level) {
            const size_t p = size_t(code >> 2 * level & 3);
            const bool continues = level > 0 && stack.back() == palette[p];
            banded = banded && (continues || (!used[p] && (level == 0 || palette[p] != stack[0])));
            used[p] = true;
            stack.push_back(palette[p]);
        }
        if (banded) best = std::min(best, error(stack));
    }
    EXPECT_NEAR(error(planned), best, 1e-9);
}

TEST(StackPlanner, LevelColoursAreThePreviewAndPlansKeepBandsAndBeatTheEdgesOnAPhoto)
{
    EXPECT_EQ(Orvanes::LayerOpacity(0.8, 0.2), 0.25f);
    EXPECT_EQ(Orvanes::LayerOpacity(0.1, 0.2), 1.0f);
    for (const double td : {0.0, -1.0, 101.0, std::nan("")}) EXPECT_THROW(Orvanes::LayerOpacity(td, 0.1), std::invalid_argument);

    // A ramp over 5 relief levels: every column shows the level colour of its grey.
    PhotosRelief ramp = Relief(MakeRamp(64, 2));
    const std::vector<LayerEntry> stack = {kBlack, kBlack, kRed, kRed, kWhite, {0, 200, 0, 0.6f}, kWhite};
    const cv::Mat preview = ramp.UpdatePreviewImage(stack, 2, 0, 0, 0);
    const std::vector<cv::Vec3b> colours = Orvanes::LevelColours(stack, 2);
    ASSERT_EQ(colours.size(), 5u);
    for (int c = 0; c < 64; ++c) {
        int top = 0;
        while (top < 4 && ramp.GreyImage().at<uint8_t>(0, c) >= PhotosRelief::LevelThreshold(0, 255, 5, top + 1)) ++top;
        EXPECT_EQ(preview.at<cv::Vec3b>(1, c), colours[size_t(top)]) << c;
    }

    const char* sampleDir = std::getenv("ORVANE_SAMPLE_DIR");
    if (sampleDir == nullptr) GTEST_SKIP();
    const cv::Mat sample = cv::imread(std::string(sampleDir) + "/chelsea.png", cv::IMREAD_COLOR);
    const std::vector<LayerEntry> six = {kBlack, {46, 77, 26, 0.4f}, {34, 34, 178, 0.35f}, {0, 140, 255, 0.3f},
                                         {0, 215, 255, 0.25f}, kWhite};
    PhotosRelief relief = Relief(sample(cv::Rect(40, 20, 200, 150)).clone(), six, 100, 75, 1.0);
    const std::vector<LayerEntry> planned = Orvanes::PlanStack(relief, 3, 20);
    EXPECT_EQ(planned, Orvanes::PlanStack(relief, 3, 20)) << "the same input, the same stack";
    ASSERT_EQ(planned.size(), 20u);
    std::vector<LayerEntry> edges;
    testing::internal::CaptureStdout();
    relief.GetAutoLayerInfo(edges, 3, 20);
    testing::internal::GetCapturedStdout();
    const auto meanError = [&](const std::vector<LayerEntry>& s) {
        return cv::mean(Orvanes::ColourErrorMap(relief.ColourImage(), relief.UpdatePreviewImage(s, 3, 0, 0, 0)))[0];
    };
    EXPECT_LT(meanError(planned), 0.65 * meanError(edges));
    EXPECT_THROW(Orvanes::PlanStack(relief, 3, 3), std::invalid_argument);
    EXPECT_THROW(Orvanes::PlanStack(relief, -1, 3), std::invalid_argument);
    EXPECT_THROW(Orvanes::PlanStack(relief, 0, 513), std::invalid_argument);
}
