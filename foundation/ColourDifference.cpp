#include "ColourDifference.h"

#include <array>
#include <cmath>

#include <opencv2/core/utility.hpp>

namespace Orvanes {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegree = kPi / 180.0;

double HueAngle(double b, double a)
{
    if (a == 0.0 && b == 0.0) return 0.0;
    const double h = std::atan2(b, a);
    return h >= 0.0 ? h : h + 2.0 * kPi;
}

}  // namespace

double Ciede2000(const cv::Vec3d& lab1, const cv::Vec3d& lab2)
{
    const double c1 = std::hypot(lab1[1], lab1[2]), c2 = std::hypot(lab2[1], lab2[2]);
    const double meanC7 = std::pow((c1 + c2) / 2.0, 7.0);
    const double g = 0.5 * (1.0 - std::sqrt(meanC7 / (meanC7 + std::pow(25.0, 7.0))));
    const double a1 = (1.0 + g) * lab1[1], a2 = (1.0 + g) * lab2[1];
    const double cp1 = std::hypot(a1, lab1[2]), cp2 = std::hypot(a2, lab2[2]);
    const double h1 = HueAngle(lab1[2], a1), h2 = HueAngle(lab2[2], a2);

    const double dL = lab2[0] - lab1[0], dC = cp2 - cp1;
    double dh = 0.0;
    if (cp1 * cp2 != 0.0) {
        dh = h2 - h1;
        if (dh > kPi) dh -= 2.0 * kPi;
        if (dh < -kPi) dh += 2.0 * kPi;
    }
    const double dH = 2.0 * std::sqrt(cp1 * cp2) * std::sin(dh / 2.0);

    const double meanL = (lab1[0] + lab2[0]) / 2.0, meanCp = (cp1 + cp2) / 2.0;
    // The mean hue takes the short way round the circle; a grey side leaves the other's hue.
    double meanH = h1 + h2;
    if (cp1 * cp2 != 0.0) {
        if (std::abs(h1 - h2) <= kPi) meanH /= 2.0;
        else meanH = meanH < 2.0 * kPi ? (meanH + 2.0 * kPi) / 2.0 : (meanH - 2.0 * kPi) / 2.0;
    }
    const double t = 1.0 - 0.17 * std::cos(meanH - 30.0 * kDegree) + 0.24 * std::cos(2.0 * meanH) +
                     0.32 * std::cos(3.0 * meanH + 6.0 * kDegree) - 0.20 * std::cos(4.0 * meanH - 63.0 * kDegree);
    const double dTheta = 30.0 * kDegree * std::exp(-std::pow((meanH / kDegree - 275.0) / 25.0, 2.0));
    const double meanCp7 = std::pow(meanCp, 7.0);
    const double rC = 2.0 * std::sqrt(meanCp7 / (meanCp7 + std::pow(25.0, 7.0)));
    const double sL = 1.0 + 0.015 * (meanL - 50.0) * (meanL - 50.0) / std::sqrt(20.0 + (meanL - 50.0) * (meanL - 50.0));
    const double sC = 1.0 + 0.045 * meanCp, sH = 1.0 + 0.015 * meanCp * t;
    const double rT = -std::sin(2.0 * dTheta) * rC;
    const double l = dL / sL, c = dC / sC, h = dH / sH;
    return std::sqrt(l * l + c * c + h * h + rT * c * h);
}

// Our own arithmetic rather than the image library's conversion, whose vector paths differ
// between processors: the planner's choices must not.
cv::Mat BgrToLab(const cv::Mat& bgr)
{
    CV_Assert(bgr.type() == CV_8UC3);
    static const std::array<double, 256> linear = [] {
        std::array<double, 256> table{};
        for (int v = 0; v < 256; ++v) {
            const double s = v / 255.0;
            table[static_cast<size_t>(v)] = s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        }
        return table;
    }();
    const auto f = [](double t) {
        constexpr double d = 6.0 / 29.0;
        return t > d * d * d ? std::cbrt(t) : t / (3.0 * d * d) + 4.0 / 29.0;
    };
    cv::Mat lab(bgr.size(), CV_32FC3);
    for (int row = 0; row < bgr.rows; ++row)
        for (int col = 0; col < bgr.cols; ++col) {
            const cv::Vec3b& p = bgr.at<cv::Vec3b>(row, col);
            const double b = linear[p[0]], g = linear[p[1]], r = linear[p[2]];
            // sRGB primaries, D65 white.
            const double fx = f((0.4124564 * r + 0.3575761 * g + 0.1804375 * b) / 0.95047);
            const double fy = f(0.2126729 * r + 0.7151522 * g + 0.0721750 * b);
            const double fz = f((0.0193339 * r + 0.1191920 * g + 0.9503041 * b) / 1.08883);
            lab.at<cv::Vec3f>(row, col) = cv::Vec3f(static_cast<float>(116.0 * fy - 16.0), static_cast<float>(500.0 * (fx - fy)),
                                                    static_cast<float>(200.0 * (fy - fz)));
        }
    return lab;
}

cv::Mat ColourErrorMap(const cv::Mat& bgr1, const cv::Mat& bgr2)
{
    CV_Assert(bgr1.size() == bgr2.size() && bgr1.type() == CV_8UC3 && bgr2.type() == CV_8UC3);
    const cv::Mat lab1 = BgrToLab(bgr1), lab2 = BgrToLab(bgr2);
    cv::Mat error(bgr1.size(), CV_32F);
    // Rows in stripes on the image library's worker threads, as its own conversions are; every
    // pixel's value is its own, so the split changes nothing.
    cv::parallel_for_(cv::Range(0, error.rows), [&](const cv::Range& rows) {
        for (int r = rows.start; r < rows.end; ++r)
            for (int c = 0; c < error.cols; ++c)
                error.at<float>(r, c) =
                    static_cast<float>(Ciede2000(lab1.at<cv::Vec3f>(r, c), lab2.at<cv::Vec3f>(r, c)));
    });
    return error;
}

}  // namespace Orvanes
