#include <algorithm>
#include <cmath>
#include <iostream>
#include <stdexcept>
#include <string>

#include "PhotosBase.h"

namespace Orvanes {

cv::Mat PhotosBase::Polyfit(const std::vector<cv::Point_<double>>& points, int degree) const
{
    // degree + 1 columns: beyond this no fit is meaningful and the count would overflow.
    if (degree > kMaxPolyfitDegree)
        throw std::invalid_argument("Polyfit: degree " + std::to_string(degree) + " exceeds " +
                                    std::to_string(kMaxPolyfitDegree));
    const int n = static_cast<int>(points.size());
    cv::Mat x(n, degree + 1, CV_64F);
    cv::Mat y(n, 1, CV_64F);
    for (int i = 0; i < n; ++i) {
        double* row = x.ptr<double>(i);
        for (int j = 0; j <= degree; ++j) row[j] = std::pow(points[static_cast<size_t>(i)].x, static_cast<double>(j));
        y.at<double>(i) = points[static_cast<size_t>(i)].y;
    }
    // The normal equations in this fixed association: the order of the products fixes the last
    // bits of the coefficients, and with them the layer proposals built on them.
    cv::Mat coefficients(degree + 1, 1, CV_64F, cv::Scalar(0.0));
    // Fewer distinct x than coefficients makes the normal matrix singular; its LU inverse then
    // returns rounding noise rather than failing, so such a system gets the zero polynomial.
    std::vector<double> xs;
    xs.reserve(points.size());
    for (const auto& p : points) xs.push_back(p.x);
    // NaN sorts last and counts as one value, so the ordering stays strict for any host input.
    std::sort(xs.begin(), xs.end(), [](double a, double b) { return !std::isnan(a) && (std::isnan(b) || a < b); });
    const auto distinct = std::unique(xs.begin(), xs.end(), [](double a, double b) {
                              return a == b || (std::isnan(a) && std::isnan(b));
                          }) - xs.begin();
    if (n > 0 && distinct > degree) coefficients = (x.t() * x).inv(cv::DECOMP_LU) * x.t() * y;
    std::cout << coefficients << std::endl;
    return coefficients;
}

}  // namespace Orvanes
