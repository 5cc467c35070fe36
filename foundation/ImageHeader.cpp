#include "ImageLimits.h"

#include <atomic>
#include <cctype>
#include <cstring>

namespace Orvanes {

namespace {

std::atomic<std::uint64_t> maxImagePixels{100'000'000};

struct Reader {
    const uint8_t* data;
    size_t size;
    bool Has(size_t at, size_t count) const { return at <= size && count <= size - at; }
    uint32_t Big(size_t at, int bytes) const
    {
        uint32_t value = 0;
        for (int k = 0; k < bytes; ++k) value = value << 8 | data[at + static_cast<size_t>(k)];
        return value;
    }
    uint32_t Little(size_t at, int bytes) const
    {
        uint32_t value = 0;
        for (int k = bytes; k-- > 0;) value = value << 8 | data[at + static_cast<size_t>(k)];
        return value;
    }
    bool Starts(const char* text, size_t at = 0) const
    {
        const size_t n = std::strlen(text);
        return Has(at, n) && std::memcmp(data + at, text, n) == 0;
    }
};

cv::Size Checked(uint64_t width, uint64_t height)
{
    if (width == 0 || height == 0 || width > 1u << 30 || height > 1u << 30) return {};
    return cv::Size(static_cast<int>(width), static_cast<int>(height));
}

cv::Size Jpeg(const Reader& r)
{
    for (size_t at = 2; r.Has(at, 4);) {
        if (r.data[at] != 0xFF) return {};
        const uint8_t marker = r.data[at + 1];
        if (marker == 0xFF) { ++at; continue; }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) { at += 2; continue; }
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) return r.Has(at + 5, 4) ? Checked(r.Big(at + 7, 2), r.Big(at + 5, 2)) : cv::Size();
        if (marker == 0xD9 || marker == 0xDA) return {};
        at += 2 + r.Big(at + 2, 2);
    }
    return {};
}

cv::Size Tiff(const Reader& r)
{
    const bool little = r.data[0] == 'I';
    const auto read = [&](size_t at, int bytes) { return little ? r.Little(at, bytes) : r.Big(at, bytes); };
    if (!r.Has(4, 4)) return {};
    const size_t ifd = read(4, 4);
    if (!r.Has(ifd, 2)) return {};
    uint64_t width = 0, height = 0;
    for (size_t k = 0, count = read(ifd, 2); k < count && r.Has(ifd + 2 + 12 * k, 12); ++k) {
        const size_t entry = ifd + 2 + 12 * k;
        const uint32_t tag = read(entry, 2), type = read(entry + 2, 2);
        const uint32_t value = type == 3 ? read(entry + 8, 2) : read(entry + 8, 4);
        if (tag == 256) width = value;
        if (tag == 257) height = value;
    }
    return Checked(width, height);
}

cv::Size Pnm(const Reader& r)
{
    uint64_t numbers[2] = {0, 0};
    size_t at = 2;
    for (uint64_t& number : numbers) {
        while (r.Has(at, 1) && (std::isspace(r.data[at]) || r.data[at] == '#')) {
            if (r.data[at] == '#')
                while (r.Has(at, 1) && r.data[at] != '\n') ++at;
            else
                ++at;
        }
        if (!r.Has(at, 1) || !std::isdigit(r.data[at])) return {};
        for (; r.Has(at, 1) && std::isdigit(r.data[at]) && number < (1u << 31); ++at) number = number * 10 + (r.data[at] - '0');
    }
    return Checked(numbers[0], numbers[1]);
}

}  // namespace

void SetMaxImagePixels(std::uint64_t pixels) { maxImagePixels = pixels < 1 ? 1 : pixels; }

std::uint64_t MaxImagePixels() { return maxImagePixels; }

cv::Size DeclaredImageSize(const cv::Mat& bytes)
{
    if (bytes.empty() || !bytes.isContinuous() || bytes.elemSize1() != 1) return {};
    const Reader r{bytes.ptr<uint8_t>(), bytes.total() * bytes.elemSize()};
    // The image library hands bytes its own check of their first bytes turns down to its DICOM
    // reader when they carry that format's mark at 128, and that reader aborts the process on
    // damaged input: such bytes are not decoded, whatever they start with.
    if (r.Starts("DICM", 128)) return {};
    if (r.Starts("\x89PNG\r\n\x1a\n")) return r.Has(16, 8) ? Checked(r.Big(16, 4), r.Big(20, 4)) : cv::Size();
    if (r.Has(0, 3) && r.data[0] == 0xFF && r.data[1] == 0xD8 && r.data[2] == 0xFF) return Jpeg(r);
    if (r.Starts("BM") && r.Has(14, 4)) {
        if (r.Little(14, 4) == 12) return r.Has(18, 4) ? Checked(r.Little(18, 2), r.Little(20, 2)) : cv::Size();
        if (!r.Has(18, 8)) return {};
        const auto height = static_cast<int32_t>(r.Little(22, 4));
        return Checked(static_cast<int32_t>(r.Little(18, 4)) < 0 ? 0 : r.Little(18, 4),
                       height < 0 ? 0 - static_cast<int64_t>(height) : height);
    }
    if (r.Starts("RIFF") && r.Starts("WEBP", 8)) {
        // The frame's own marks too, as the image library checks them: bytes it turns down as WebP
        // it offers to its other readers, whose DICOM reader can take any bytes and abort.
        if (r.Starts("VP8 ", 12) && r.Has(26, 4) && (r.data[20] & 1) == 0 && r.Starts("\x9d\x01\x2a", 23))
            return Checked(r.Little(26, 2) & 0x3FFF, r.Little(28, 2) & 0x3FFF);
        if (r.Starts("VP8L", 12) && r.Has(21, 4) && r.data[20] == 0x2F && (r.data[24] >> 5) == 0) {
            const uint32_t bits = r.Little(21, 4);
            return Checked((bits & 0x3FFF) + 1, (bits >> 14 & 0x3FFF) + 1);
        }
        if (r.Starts("VP8X", 12) && r.Has(24, 6)) return Checked(r.Little(24, 3) + 1, r.Little(27, 3) + 1);
        return {};
    }
    if (r.Has(0, 4) && ((r.Starts("II*") && r.data[3] == 0) || (r.Starts("MM") && r.data[2] == 0 && r.data[3] == '*')))
        return Tiff(r);
    if (r.Has(0, 2) && r.data[0] == 'P' && r.data[1] >= '1' && r.data[1] <= '6') return Pnm(r);
    return {};
}

}  // namespace Orvanes
