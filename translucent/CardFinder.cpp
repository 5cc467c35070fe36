#include "CardFinder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <sstream>

#include <opencv2/imgproc.hpp>

#include "ColourCard.h"

namespace Orvanes {

namespace {

using Card = ColourCard;

// The frame is looked for on a copy at most this many pixels on its longer side: contours cost
// by the pixel, and a card that fills half of it still shows cells of several pixels.
constexpr int kWorkSide = 1200;
// Bright is brighter than this share of the local white; the darkest stack of weak materials
// still lets through about half of the light.
constexpr double kBrightShares[] = {0.75, 0.62, 0.87};
constexpr int kMostCandidates = 12;
// Judged frame cells that must look as the layout says, each kind on its own.
constexpr double kAcceptedShare = 0.8;
// A cell is judged over its middle three quarters: an eighth of a cell of slack against edges,
// blur and the corners' error.
constexpr double kInnerStart = 0.125;
constexpr double kInnerSpan = 0.75;
// Its colour is read over a wider middle once cells are large: blur and the corners' error stay
// a pixel or two whatever the cell's size, while JPEG's ringing spreads over its blocks and
// averages out only over a wide middle (measured on JPEG of quality 70 to 89: the worst photo's
// 99th percentile went from CIEDE2000 2.1 to 1.7 at 30 pixels a cell, 2.1 to 1.8 at 24, where a
// middle of 90 % already took in the edges).
constexpr double kEdgePixels = 2.0;
constexpr double kLeastInnerStart = 0.075;

// The white ring's outer edge, which the finder locks onto, in card coordinates.
const cv::Point2f kRingCorners[4] = {{float(Card::kBorderCells), float(Card::kBorderCells)},
                                     {float(Card::kColumns - Card::kBorderCells), float(Card::kBorderCells)},
                                     {float(Card::kColumns - Card::kBorderCells), float(Card::kRows - Card::kBorderCells)},
                                     {float(Card::kBorderCells), float(Card::kRows - Card::kBorderCells)}};

cv::Point2d Apply(const cv::Matx33d& h, double x, double y)
{
    const double w = h(2, 0) * x + h(2, 1) * y + h(2, 2);
    return {(h(0, 0) * x + h(0, 1) * y + h(0, 2)) / w, (h(1, 0) * x + h(1, 1) * y + h(1, 2)) / w};
}

// Grey of the nearest photo pixel; false off the photo.
bool GreyAt(const cv::Mat& photo, cv::Point2d p, double& grey)
{
    const int x = static_cast<int>(std::lround(p.x)), y = static_cast<int>(std::lround(p.y));
    if (x < 0 || y < 0 || x >= photo.cols || y >= photo.rows) return false;
    const cv::Vec3b& v = photo.ptr<cv::Vec3b>(y)[x];
    grey = 0.114 * v[0] + 0.587 * v[1] + 0.299 * v[2];
    return true;
}

// Grey between pixels, for edge profiles; clamped at the photo's edge.
double GreyBetween(const cv::Mat& photo, double x, double y)
{
    x = std::min(std::max(x, 0.0), photo.cols - 1.001);
    y = std::min(std::max(y, 0.0), photo.rows - 1.001);
    const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
    const double fx = x - x0, fy = y - y0;
    const auto grey = [&](int yy, int xx) {
        const cv::Vec3b& v = photo.ptr<cv::Vec3b>(yy)[xx];
        return 0.114 * v[0] + 0.587 * v[1] + 0.299 * v[2];
    };
    return (1 - fy) * ((1 - fx) * grey(y0, x0) + fx * grey(y0, x0 + 1)) +
           fy * ((1 - fx) * grey(y0 + 1, x0) + fx * grey(y0 + 1, x0 + 1));
}

// Mean grey over a 3 x 3 pattern in a cell's middle; negative when it leaves the photo.
double CellGrey(const cv::Mat& photo, const cv::Matx33d& cardToPhoto, int row, int column)
{
    double sum = 0.0, grey = 0.0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const double x = column + kInnerStart + kInnerSpan * (j + 0.5) / 3;
            const double y = row + kInnerStart + kInnerSpan * (i + 0.5) / 3;
            if (!GreyAt(photo, Apply(cardToPhoto, x, y), grey)) return -1.0;
            sum += grey;
        }
    return sum / 9.0;
}

// Moves each side of a rough quadrilateral onto the white ring's edge at full resolution: along
// each side the steepest fall from bright (inside) to dark (outside) is found to a fraction of
// a pixel, a line is fitted through those points, and neighbouring lines meet at the corners.
bool RefineQuad(const cv::Mat& photo, std::array<cv::Point2d, 4>& quad, double reach)
{
    const cv::Point2d centre = (quad[0] + quad[1] + quad[2] + quad[3]) * 0.25;
    cv::Vec4f lines[4];
    for (int side = 0; side < 4; ++side) {
        const cv::Point2d a = quad[static_cast<size_t>(side)], b = quad[static_cast<size_t>((side + 1) % 4)];
        const cv::Point2d along = b - a;
        const double length = std::hypot(along.x, along.y);
        if (length < 8.0) return false;
        cv::Point2d normal(-along.y / length, along.x / length);
        if (normal.dot((a + b) * 0.5 - centre) < 0) normal = -normal;
        const int pointCount = std::max(8, std::min(64, static_cast<int>(length / 4)));
        const int steps = static_cast<int>(std::ceil(reach * 2));
        std::vector<cv::Point2f> points;
        std::vector<double> profile(static_cast<size_t>(2 * steps + 3));
        for (int k = 0; k < pointCount; ++k) {
            // Away from the corners, where the other sides' edges would pull.
            const cv::Point2d base = a + along * (0.1 + 0.8 * (k + 0.5) / pointCount);
            for (int s = -steps - 1; s <= steps + 1; ++s) {
                const cv::Point2d p = base + normal * (s * 0.5);
                profile[static_cast<size_t>(s + steps + 1)] = GreyBetween(photo, p.x, p.y);
            }
            int best = -1;
            double bestFall = 0.0;
            for (int s = 1; s + 1 < static_cast<int>(profile.size()); ++s) {
                const double fall = profile[static_cast<size_t>(s - 1)] - profile[static_cast<size_t>(s + 1)];
                if (fall > bestFall) bestFall = fall, best = s;
            }
            if (best < 2 || best + 2 >= static_cast<int>(profile.size()) || bestFall < 8.0) continue;
            const double before = profile[static_cast<size_t>(best - 2)] - profile[static_cast<size_t>(best)];
            const double after = profile[static_cast<size_t>(best)] - profile[static_cast<size_t>(best + 2)];
            const double curve = before - 2 * bestFall + after;
            const double offset = curve < 0 ? 0.5 * (before - after) / curve : 0.0;
            const double s = (best - steps - 1 + std::max(-0.5, std::min(0.5, offset))) * 0.5;
            points.emplace_back(base + normal * s);
        }
        if (points.size() < 6) return false;
        cv::fitLine(points, lines[side], cv::DIST_HUBER, 0, 0.01, 0.01);
    }
    std::array<cv::Point2d, 4> refined;
    for (int k = 0; k < 4; ++k) {
        const cv::Vec4f& p = lines[(k + 3) % 4];
        const cv::Vec4f& q = lines[k];
        const double det = double(p[0]) * -q[1] + double(q[0]) * p[1];
        if (std::abs(det) < 1e-6) return false;
        const double dx = double(q[2]) - p[2], dy = double(q[3]) - p[3];
        const double t = (dx * -q[1] + q[0] * dy) / det;
        refined[static_cast<size_t>(k)] = {p[2] + t * p[0], p[3] + t * p[1]};
        // A corner far from where the contour put it means a line locked onto something else.
        const cv::Point2d moved = refined[static_cast<size_t>(k)] - quad[static_cast<size_t>(k)];
        if (std::hypot(moved.x, moved.y) > 3 * reach + 2) return false;
    }
    quad = refined;
    return true;
}

struct Judgement {
    cv::Matx33d cardToPhoto;
    double border = 0.0, marks = 0.0, whites = 0.0;  // shares of judged cells that look right
    int judged = 0, right = 0;
    double Worst() const { return std::min({border, marks, whites}); }
};

// Judges one way of laying the card over the ring's edge. Across each side of the frame lie
// a border cell, a white cell, a middle-line cell and another white cell; the two white cells
// give the local white, so falloff does not matter, and the border and the middle line must be
// dark exactly where the layout says.
Judgement Judge(const cv::Mat& photo, const cv::Matx33d& cardToPhoto)
{
    Judgement j;
    j.cardToPhoto = cardToPhoto;
    int borderRight = 0, borderCount = 0, markRight = 0, markCount = 0, whiteRight = 0, whiteCount = 0;
    const auto judgeAcross = [&](int r0, int c0, int dr, int dc) {
        int rows[4], cols[4];
        for (int k = 0; k < 4; ++k) rows[k] = r0 + k * dr, cols[k] = c0 + k * dc;
        if (Card::PartAt(rows[0], cols[0]) != Card::Part::kBorder ||
            Card::PartAt(rows[1], cols[1]) != Card::Part::kWhite ||
            Card::PartAt(rows[3], cols[3]) != Card::Part::kWhite)
            return;
        double grey[4];
        for (int k = 0; k < 4; ++k)
            if ((grey[k] = CellGrey(photo, cardToPhoto, rows[k], cols[k])) < 0) grey[k] = 0.0;
        const double white = std::max(grey[1], grey[3]);
        const bool borderDark = grey[0] < 0.8 * white, middleDark = grey[2] < 0.8 * white;
        const Card::Part middle = Card::PartAt(rows[2], cols[2]);
        const bool shouldBeDark = middle == Card::Part::kMark || middle == Card::Part::kBlack;
        ++borderCount, borderRight += borderDark;
        if (shouldBeDark)
            ++markCount, markRight += middleDark;
        else
            ++whiteCount, whiteRight += !middleDark;
    };
    for (int c = 0; c < Card::kColumns; ++c) {
        judgeAcross(0, c, 1, 0);
        judgeAcross(Card::kRows - 1, c, -1, 0);
    }
    for (int r = 0; r < Card::kRows; ++r) {
        judgeAcross(r, 0, 0, 1);
        judgeAcross(r, Card::kColumns - 1, 0, -1);
    }
    j.border = double(borderRight) / std::max(borderCount, 1);
    j.marks = double(markRight) / std::max(markCount, 1);
    j.whites = double(whiteRight) / std::max(whiteCount, 1);
    j.judged = borderCount + markCount + whiteCount;
    j.right = borderRight + markRight + whiteRight;
    return j;
}

// The eight ways the card's ring can lie on a quadrilateral: four turns, each also mirrored.
Judgement BestLayout(const cv::Mat& photo, const std::array<cv::Point2d, 4>& quad)
{
    Judgement best;
    best.border = -1.0;
    for (int start = 0; start < 4; ++start)
        for (const int step : {1, 3}) {
            cv::Point2f to[4];
            for (int k = 0; k < 4; ++k) to[k] = cv::Point2f(quad[static_cast<size_t>((start + step * k) % 4)]);
            const Judgement j = Judge(photo, cv::Matx33d(cv::getPerspectiveTransform(kRingCorners, to)));
            if (j.Worst() > best.Worst() || (j.Worst() == best.Worst() && j.right > best.right)) best = j;
        }
    return best;
}

// Robust mean of a cell's middle: per channel, the mean of the samples left when the lowest and
// highest 32nd are dropped (a stray edge pixel; dropping more loses JPEG noise that would
// average out), in whole numbers, so a uniform cell gives back exactly its colour. Bytes are
// counted, not sorted. exact receives the mean before rounding, for the light to be divided
// out of without rounding twice.
cv::Vec3b CellMean(const cv::Mat& photo, const cv::Matx33d& cardToPhoto, int row, int column, int samples,
                   double innerStart, cv::Vec3d& exact)
{
    uint16_t counts[3][256] = {};
    int lowest[3] = {255, 255, 255}, highest[3] = {0, 0, 0};
    const cv::Matx33d& h = cardToPhoto;
    const double step = (1.0 - 2.0 * innerStart) / samples;
    const cv::Point2d cell = Card::CellArea(row, column, 1.0).tl();
    for (int i = 0; i < samples; ++i) {
        // Along a row of samples the homography's three sums grow by the same steps.
        const double u = cell.x + innerStart + 0.5 * step, v = cell.y + innerStart + (i + 0.5) * step;
        double x = h(0, 0) * u + h(0, 1) * v + h(0, 2), y = h(1, 0) * u + h(1, 1) * v + h(1, 2);
        double w = h(2, 0) * u + h(2, 1) * v + h(2, 2);
        for (int j = 0; j < samples; ++j, x += h(0, 0) * step, y += h(1, 0) * step, w += h(2, 0) * step) {
            // Off the photo only for a card at its very edge; the edge pixel stands in.
            const int px = std::min(std::max(static_cast<int>(std::floor(x / w + 0.5)), 0), photo.cols - 1);
            const int py = std::min(std::max(static_cast<int>(std::floor(y / w + 0.5)), 0), photo.rows - 1);
            const uint8_t* pixel = photo.ptr<uint8_t>(py) + 3 * px;
            for (int c = 0; c < 3; ++c) {
                ++counts[c][pixel[c]];
                lowest[c] = std::min(lowest[c], int(pixel[c])), highest[c] = std::max(highest[c], int(pixel[c]));
            }
        }
    }
    const int total = samples * samples, drop = total / 32, kept = total - 2 * drop;
    cv::Vec3b mean;
    for (int c = 0; c < 3; ++c) {
        int64_t sum = 0;
        int seen = 0;  // samples below the current value
        for (int value = lowest[c]; value <= highest[c]; ++value) {
            const int count = counts[c][value];
            // The part of this value's samples that falls among the kept ranks [drop, drop + kept).
            const int from = std::max(seen, drop), to = std::min(seen + count, drop + kept);
            if (to > from) sum += int64_t(value) * (to - from);
            seen += count;
        }
        mean[c] = static_cast<uint8_t>((2 * sum + kept) / (2 * int64_t(kept)));
        exact[c] = static_cast<double>(sum) / kept;
    }
    return mean;
}

double Luma(const cv::Vec3d& bgr)
{
    return 0.114 * bgr[0] + 0.587 * bgr[1] + 0.299 * bgr[2];
}

// Terms of the smooth light field: a quadratic in the photo's coordinates, which follows a
// linear falloff exactly and a lens's vignetting closely.
void FieldTerms(cv::Point2d p, double* terms)
{
    terms[0] = 1.0, terms[1] = p.x, terms[2] = p.y, terms[3] = p.x * p.y, terms[4] = p.x * p.x, terms[5] = p.y * p.y;
}
constexpr int kFieldTerms = 6;

std::string Format(double value)
{
    std::ostringstream text;
    text.precision(3);
    text << value;
    return text.str();
}

}  // namespace

FoundCard FindCard(const cv::Mat& photo, const CardFinderOptions& options)
{
    if (options.cellPixels < 1 || options.cellPixels > 100)
        throw std::invalid_argument("FindCard: cellPixels " + std::to_string(options.cellPixels) +
                                    " lies outside 1 to 100");
    if (!(options.minCellPixels >= 1.0))
        throw std::invalid_argument("FindCard: minCellPixels must be at least 1, not " + Format(options.minCellPixels));
    CV_Assert(photo.type() == CV_8UC3 && photo.dims == 2);
    if (photo.empty()) throw CardNotFound("FindCard: the photo is empty");

    const int factor = std::max(1, (std::max(photo.cols, photo.rows) + kWorkSide - 1) / kWorkSide);
    cv::Mat small, grey;
    if (factor > 1)
        cv::resize(photo, small, cv::Size(photo.cols / factor, photo.rows / factor), 0, 0, cv::INTER_AREA);
    else
        small = photo;
    cv::cvtColor(small, grey, cv::COLOR_BGR2GRAY);
    // The local white: the brightest grey within a few cells, smoothed. Dividing by it undoes
    // uneven light, so one share separates the white ring from the dark border everywhere.
    const int coarse = 4;
    cv::Mat envelope;
    cv::resize(grey, envelope, cv::Size(std::max(grey.cols / coarse, 1), std::max(grey.rows / coarse, 1)), 0, 0,
               cv::INTER_AREA);
    const int reach = std::max(3, std::max(envelope.cols, envelope.rows) / 24) | 1;
    cv::dilate(envelope, envelope, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(reach, reach)));
    cv::blur(envelope, envelope, cv::Size(reach, reach));
    cv::resize(envelope, envelope, grey.size(), 0, 0, cv::INTER_LINEAR);

    Judgement found;
    found.border = -1.0;
    // Far too small a card leaves no cell to judge; the size check below names the limit.
    const double smallestArea = 0.5 * (Card::kColumns - 2) * (Card::kRows - 2) * 4.0 / (factor * factor) + 16.0;
    for (const double share : kBrightShares) {
        cv::Mat bright, envelopeShare;
        envelope.convertTo(envelopeShare, CV_8U, share);
        cv::compare(grey, envelopeShare, bright, cv::CMP_GT);
        std::vector<std::vector<cv::Point>> contours;
        cv::findContours(bright, contours, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);
        std::vector<std::pair<double, std::vector<cv::Point>>> quads;
        for (const std::vector<cv::Point>& contour : contours) {
            const double area = cv::contourArea(contour);
            if (area < smallestArea) continue;
            std::vector<cv::Point> corners;
            cv::approxPolyDP(contour, corners, 0.02 * cv::arcLength(contour, true), true);
            if (corners.size() == 4 && cv::isContourConvex(corners)) quads.emplace_back(area, corners);
        }
        std::sort(quads.begin(), quads.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        if (quads.size() > kMostCandidates) quads.resize(kMostCandidates);
        for (const auto& [area, corners] : quads) {
            std::array<cv::Point2d, 4> quad;
            // Work pixels' centres in the photo's pixels; the refinement finds the edge itself.
            for (size_t k = 0; k < 4; ++k)
                quad[k] = (cv::Point2d(corners[k]) + cv::Point2d(0.5, 0.5)) * factor - cv::Point2d(0.5, 0.5);
            const double cell = std::sqrt(area * factor * factor / ((Card::kColumns - 2.0) * (Card::kRows - 2.0)));
            if (!RefineQuad(photo, quad, std::min(1.5 * factor + 2.0, 0.45 * cell))) continue;
            const Judgement j = BestLayout(photo, quad);
            if (j.Worst() > found.Worst()) found = j;
        }
        if (found.Worst() >= kAcceptedShare) break;
    }
    if (found.Worst() < kAcceptedShare)
        throw CardNotFound("no colour card found: no dark-bordered white frame with the card's corner mark "
                           "(photograph the whole printed card, with the light behind it)");

    FoundCard result;
    result.cardToPhoto = found.cardToPhoto;
    result.confidence = double(found.right) / found.judged;
    const cv::Point2d cardCorners[4] = {{0, 0}, {double(Card::kColumns), 0}, {double(Card::kColumns), double(Card::kRows)},
                                        {0, double(Card::kRows)}};
    std::vector<cv::Point2f> outline;
    for (size_t k = 0; k < 4; ++k) {
        result.corners[k] = Apply(found.cardToPhoto, cardCorners[k].x, cardCorners[k].y);
        outline.emplace_back(result.corners[k]);
    }
    result.cellPixels = std::sqrt(cv::contourArea(outline) / (double(Card::kColumns) * Card::kRows));
    if (result.cellPixels < options.minCellPixels)
        throw CardNotFound("the colour card was found, but its cells are " + Format(result.cellPixels) +
                           " pixels wide; at least " + Format(options.minCellPixels) +
                           " are needed (photograph it closer or at a higher resolution)");
    const cv::Point2d centre = Apply(found.cardToPhoto, Card::kColumns / 2.0, Card::kRows / 2.0);
    const cv::Point2d xAxis = Apply(found.cardToPhoto, Card::kColumns / 2.0 + 1, Card::kRows / 2.0) - centre;
    const cv::Point2d yAxis = Apply(found.cardToPhoto, Card::kColumns / 2.0, Card::kRows / 2.0 + 1) - centre;
    result.mirrored = xAxis.cross(yAxis) < 0;
    // With y pointing down, a positive angle turns clockwise; a mirror image's x axis points back.
    const double degrees = std::atan2(xAxis.y, xAxis.x) * 180.0 / 3.14159265358979323846 + (result.mirrored ? 180 : 0);
    result.rotation = ((static_cast<int>(std::lround(degrees / 90.0)) % 4 + 4) % 4) * 90;

    // Every cell's robust mean, read over as many points as its middle has pixels (capped).
    const double innerStart = std::min(kInnerStart, std::max(kLeastInnerStart, kEdgePixels / result.cellPixels));
    const int samples =
        std::max(2, std::min(32, static_cast<int>(std::lround(result.cellPixels * (1.0 - 2.0 * innerStart)))));
    cv::Mat means(Card::kRows, Card::kColumns, CV_8UC3, cv::Scalar::all(0));
    cv::Mat exactMeans(Card::kRows, Card::kColumns, CV_64FC3, cv::Scalar::all(0));
    std::vector<cv::Point2d> whitePlaces;
    std::vector<cv::Vec3b> whites;
    std::vector<cv::Vec3d> exactWhites;
    cv::Vec3d blackSum(0, 0, 0);
    int blackCount = 0;
    bool isNeutral = true;
    for (int row = 0; row < Card::kRows; ++row)
        for (int column = 0; column < Card::kColumns; ++column) {
            const Card::Part part = Card::PartAt(row, column);
            if (part == Card::Part::kBorder || part == Card::Part::kMark) continue;
            cv::Vec3d& exact = exactMeans.at<cv::Vec3d>(row, column);
            const cv::Vec3b mean = CellMean(photo, found.cardToPhoto, row, column, samples, innerStart, exact);
            means.at<cv::Vec3b>(row, column) = mean;
            if (part == Card::Part::kWhite) {
                whitePlaces.push_back(Apply(found.cardToPhoto, column + 0.5, row + 0.5));
                whites.push_back(mean);
                exactWhites.push_back(exact);
                isNeutral &= mean == options.white;
            } else if (part == Card::Part::kBlack) {
                blackSum += cv::Vec3d(mean), ++blackCount;
            }
        }

    // The light each cell received: one smooth shape over the card (falloff, vignetting) times one
    // gain per channel (exposure and colour cast), fitted over the white ring; dividing by it
    // evens the light out. A field of its own per channel would also bend the colour balance
    // across the card, following JPEG's errors on the flat white (its blocks' levels are
    // rounded alike), and grey cells would turn tinted: measured, that took the worst photos of
    // quality 70 to 89 past CIEDE2000 2. A ring that already shows the expected white everywhere
    // is left alone, so an ideal photo stays exact.
    cv::Vec3d whiteMean(0, 0, 0);
    for (const cv::Vec3b& w : whites) whiteMean += cv::Vec3d(w);
    whiteMean /= static_cast<double>(whites.size());
    cv::Mat shape;
    cv::Vec3d gain(1, 1, 1);
    const cv::Point2d origin = centre;
    const double scale = result.cellPixels * Card::kColumns / 2.0;
    const auto normalised = [&](cv::Point2d p) { return (p - origin) / scale; };
    result.whiteBalanced = !isNeutral;
    if (!isNeutral) {
        cv::Mat terms(static_cast<int>(whites.size()), kFieldTerms, CV_64F);
        for (int k = 0; k < terms.rows; ++k)
            FieldTerms(normalised(whitePlaces[static_cast<size_t>(k)]), terms.ptr<double>(k));
        // The shape follows the sum of the channels; the gains are then each channel's least
        // squares share of it.
        const auto fit = [&](const std::vector<int>& kept) {
            cv::Mat keptTerms(static_cast<int>(kept.size()), kFieldTerms, CV_64F), sums(keptTerms.rows, 1, CV_64F);
            for (int k = 0; k < keptTerms.rows; ++k) {
                terms.row(kept[static_cast<size_t>(k)]).copyTo(keptTerms.row(k));
                const cv::Vec3d& w = exactWhites[static_cast<size_t>(kept[static_cast<size_t>(k)])];
                sums.at<double>(k) = w[0] + w[1] + w[2];
            }
            cv::solve(keptTerms, sums, shape, cv::DECOMP_SVD);
            const cv::Mat fitted = keptTerms * shape;
            cv::Vec3d along(0, 0, 0);
            double squares = 0.0;
            for (int k = 0; k < keptTerms.rows; ++k) {
                const double s = fitted.at<double>(k);
                along += exactWhites[static_cast<size_t>(kept[static_cast<size_t>(k)])] * s;
                squares += s * s;
            }
            gain = along / std::max(squares, 1e-9);
        };
        std::vector<int> all(static_cast<size_t>(terms.rows));
        for (int k = 0; k < terms.rows; ++k) all[static_cast<size_t>(k)] = k;
        fit(all);
        // Once more without the cells that sit far off the field in any channel (a smudge, a
        // reflection).
        const cv::Mat fitted = terms * shape;
        std::vector<double> residuals(all.size());
        for (int k = 0; k < terms.rows; ++k) {
            const cv::Vec3d off = exactWhites[static_cast<size_t>(k)] - gain * fitted.at<double>(k);
            residuals[static_cast<size_t>(k)] = std::max({std::abs(off[0]), std::abs(off[1]), std::abs(off[2])});
        }
        std::vector<double> sorted = residuals;
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(sorted.size() / 2), sorted.end());
        const double limit = std::max(3.0, 3.0 * sorted[sorted.size() / 2]);
        std::vector<int> kept;
        for (int k = 0; k < terms.rows; ++k)
            if (residuals[static_cast<size_t>(k)] <= limit) kept.push_back(k);
        if (kept.size() >= 2 * kFieldTerms) fit(kept);
    }
    // mean: before rounding; rounded: the same rounded, which a neutral ring leaves as it is.
    const auto balanced = [&](const cv::Vec3d& mean, const cv::Vec3b& rounded, int row, int column) {
        if (isNeutral) return rounded;
        double terms[kFieldTerms];
        FieldTerms(normalised(Apply(found.cardToPhoto, column + 0.5, row + 0.5)), terms);
        double level = 0.0;
        for (int t = 0; t < kFieldTerms; ++t) level += terms[t] * shape.at<double>(t);
        cv::Vec3b out;
        for (int c = 0; c < 3; ++c)
            out[c] = cv::saturate_cast<uint8_t>(mean[c] * options.white[c] / std::max(level * gain[c], 1.0));
        return out;
    };

    const int k = options.cellPixels;
    result.card.create(Card::kGridRows * k, Card::kGridColumns * k, CV_8UC3);
    for (int row = 0; row < Card::kGridRows; ++row)
        for (int column = 0; column < Card::kGridColumns; ++column) {
            const int cardRow = row + Card::kFrameCells, cardColumn = column + Card::kFrameCells;
            const cv::Vec3b colour = balanced(exactMeans.at<cv::Vec3d>(cardRow, cardColumn),
                                              means.at<cv::Vec3b>(cardRow, cardColumn), cardRow, cardColumn);
            result.card(cv::Rect(column * k, row * k, k, k)).setTo(cv::Scalar(colour[0], colour[1], colour[2]));
        }

    // Plausibility of the references: they are what every colour is measured against.
    const double whiteLuma = Luma(whiteMean);
    if (whiteLuma < 40.0)
        result.warnings.push_back("the white ring is very dark (grey " + Format(whiteLuma) +
                                  "): the photo is underexposed or the light is not behind the card");
    const double brightest = std::max({whiteMean[0], whiteMean[1], whiteMean[2]});
    const double dimmest = std::min({whiteMean[0], whiteMean[1], whiteMean[2]});
    if (brightest > 1.6 * std::max(dimmest, 1.0))
        result.warnings.push_back("the white ring is strongly tinted: the light is far from white");
    if (blackCount > 0) {
        cv::Vec3d black = blackSum / blackCount;
        cv::Vec3b blackMean(cv::saturate_cast<uint8_t>(black[0]), cv::saturate_cast<uint8_t>(black[1]),
                            cv::saturate_cast<uint8_t>(black[2]));
        int blackRow = Card::kBorderCells + Card::kWhiteRingCells / 2, blackColumn = 0;
        while (Card::PartAt(blackRow, blackColumn) != Card::Part::kBlack) ++blackColumn;
        const double shown = Luma(cv::Vec3d(balanced(black, blackMean, blackRow, blackColumn)));
        const bool known = options.black != cv::Vec3b(0, 0, 0);
        const double expected = Luma(cv::Vec3d(options.black)), white = Luma(cv::Vec3d(options.white));
        if (known ? std::abs(shown - expected) > 0.08 * white : shown > 0.7 * white)
            result.warnings.push_back("the black patch shows grey " + Format(shown) +
                                      (known ? " where the materials predict " + Format(expected) : std::string()) +
                                      ": stray light, a wrong exposure or other materials than the card's");
    }
    return result;
}

}  // namespace Orvanes
