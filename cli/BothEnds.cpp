#include "BothEnds.h"

#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include <opencv2/core/utility.hpp>

namespace orvane_cli {

void FromBothEnds(std::size_t count, const std::function<void(std::size_t)>& here,
                  const std::function<void(std::size_t)>& there)
{
    std::mutex claims;
    std::size_t low = 0, high = count;
    const auto claim = [&](bool fromLow, std::size_t& piece) {
        std::lock_guard<std::mutex> lock(claims);
        if (low == high) return false;
        piece = fromLow ? low++ : --high;
        return true;
    };
    const auto stop = [&] {
        std::lock_guard<std::mutex> lock(claims);
        high = low;
    };
    std::exception_ptr helperFailure;
    std::thread helper;
    if (cv::getNumThreads() > 1 && count > 1)
        helper = std::thread([&] {
            try {
                for (std::size_t piece = 0; claim(false, piece);) there(piece);
            } catch (...) {
                helperFailure = std::current_exception();
                stop();
            }
        });
    try {
        for (std::size_t piece = 0; claim(true, piece);) here(piece);
    } catch (...) {
        stop();
        if (helper.joinable()) helper.join();
        throw;
    }
    if (helper.joinable()) helper.join();
    if (helperFailure) std::rethrow_exception(helperFailure);
}

void OnCores(std::size_t count, const std::function<void(std::size_t)>& piece)
{
    std::vector<std::exception_ptr> failures(count);
    cv::parallel_for_(cv::Range(0, static_cast<int>(count)), [&](const cv::Range& range) {
        for (auto k = static_cast<std::size_t>(range.start); k < static_cast<std::size_t>(range.end); ++k) try {
                piece(k);
            } catch (...) {
                failures[k] = std::current_exception();
            }
    }, static_cast<double>(count));
    for (const std::exception_ptr& failure : failures)
        if (failure) std::rethrow_exception(failure);
}

}  // namespace orvane_cli
