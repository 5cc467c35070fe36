#include <cmath>
#include <iostream>

#include "PhotosBase.h"

namespace Orvanes {

cv::Mat PhotosBase::Polyfit(const std::vector<cv::Point_<double>>& points, int degree) const
{
    const int n = static_cast<int>(points.size());
    cv::Mat x(n, degree + 1, CV_64F);
    cv::Mat y(n, 1, CV_64F);
    for (int i = 0; i < n; ++i) {
        double* row = x.ptr<double>(i);
        for (int j = 0; j <= degree; ++j) row[j] = std::pow(points[static_cast<size_t>(i)].x, static_cast<double>(j));
        y.at<double>(i) = points[static_cast<size_t>(i)].y;
    }
    // The normal equations, evaluated in this order so results match other solvers built the
    // same way to the last bit.
    cv::Mat coefficients(degree + 1, 1, CV_64F, cv::Scalar(0.0));
    // With no points there is nothing to fit (and no product to form): the zero polynomial.
    // A singular system (fewer distinct x than coefficients) also yields zeros, from the inverse.
    if (n > 0) coefficients = (x.t() * x).inv(cv::DECOMP_LU) * x.t() * y;
    std::cout << coefficients << std::endl;
    return coefficients;
}

}  // namespace Orvanes
