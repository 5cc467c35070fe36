// A fuzzer's bytes read as the numbers and blobs a target needs. Past the end every read gives
// zero, so any input, however short, makes a complete call.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include <opencv2/core.hpp>

namespace orvane_fuzz {

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }

    // low..high inclusive, from two bytes.
    int Int(int low, int high)
    {
        const unsigned value = Byte() | unsigned(Byte()) << 8;
        return low + static_cast<int>(value % (static_cast<unsigned>(high - low) + 1u));
    }

    // Mostly a value in low..high in steps of 1/64; now and then one a careless host passes:
    // zero, negative, tiny, not a number or infinite.
    double Number(double low, double high)
    {
        static const double kOdd[] = {0.0, -1.0, 1e-300, std::numeric_limits<double>::quiet_NaN(),
                                      std::numeric_limits<double>::infinity()};
        const uint8_t kind = Byte();
        if (kind >= 251) return kOdd[kind - 251];
        return std::min(high, low + Int(0, 65535) / 64.0);
    }

    // An int from the whole range now and then, mostly one in low..high.
    int Count(int low, int high)
    {
        static const int kOdd[] = {-1, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), 0};
        const uint8_t kind = Byte();
        if (kind >= 252) return kOdd[kind - 252];
        return Int(low, high);
    }

    std::vector<uint8_t> Bytes(size_t count)
    {
        count = std::min(count, size_ - at_);
        std::vector<uint8_t> out(data_ + at_, data_ + at_ + count);
        at_ += count;
        return out;
    }

    std::vector<uint8_t> Rest() { return Bytes(size_ - at_); }

    // Floats as raw bits: every value a host could hand over, NaN and infinities included.
    std::vector<float> Floats(size_t count)
    {
        std::vector<float> out(count);
        for (float& value : out) {
            uint8_t bytes[4] = {Byte(), Byte(), Byte(), Byte()};
            std::memcpy(&value, bytes, 4);
        }
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// Bytes as the one-row 8-bit image the decoding constructors take.
inline cv::Mat Encoded(const std::vector<uint8_t>& bytes)
{
    if (bytes.empty()) return cv::Mat();
    return cv::Mat(1, static_cast<int>(bytes.size()), CV_8UC1, const_cast<uint8_t*>(bytes.data())).clone();
}

}  // namespace orvane_fuzz
