#include "Zip.h"

#include <array>
#include <limits>
#include <stdexcept>

namespace orvane_cli {

namespace {

const std::array<uint32_t, 256>& CrcTable()
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    return table;
}

void Put16(std::string& out, uint32_t value)
{
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void Put32(std::string& out, uint32_t value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

constexpr uint32_t kDosTime = 0;                           // 00:00:00
constexpr uint32_t kDosDate = (0u << 9) | (1u << 5) | 1u;  // 1980-01-01, the earliest ZIP date

}  // namespace

uint32_t Crc32(const void* data, std::size_t size)
{
    const auto& table = CrcTable();
    const auto* bytes = static_cast<const unsigned char*>(data);
    uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ bytes[i]) & 0xFFu] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::string StoredZip(const std::vector<ZipEntry>& entries)
{
    constexpr uint64_t kLimit = std::numeric_limits<uint32_t>::max();
    uint64_t total = 22;
    for (const ZipEntry& entry : entries) total += 30 + 46 + 2 * entry.name.size() + entry.contents.size();
    if (total > kLimit || entries.size() > 0xFFFF)
        throw std::length_error("3MF package of " + std::to_string(total) +
                                " bytes exceeds the 4 GiB a plain ZIP archive holds; use a larger pixel size");

    std::string out;
    out.reserve(static_cast<std::size_t>(total));
    std::string central;
    for (const ZipEntry& entry : entries) {
        const uint32_t offset = static_cast<uint32_t>(out.size());
        const uint32_t crc = Crc32(entry.contents.data(), entry.contents.size());
        const uint32_t size = static_cast<uint32_t>(entry.contents.size());
        const uint32_t nameSize = static_cast<uint32_t>(entry.name.size());

        Put32(out, 0x04034b50);  // local file header
        Put16(out, 20);          // version needed: 2.0
        Put16(out, 0);           // flags
        Put16(out, 0);           // method: stored
        Put16(out, kDosTime);
        Put16(out, kDosDate);
        Put32(out, crc);
        Put32(out, size);
        Put32(out, size);
        Put16(out, nameSize);
        Put16(out, 0);
        out += entry.name;
        out += entry.contents;

        Put32(central, 0x02014b50);  // central directory header
        Put16(central, 20);          // made by: 2.0, MS-DOS attributes
        Put16(central, 20);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, kDosTime);
        Put16(central, kDosDate);
        Put32(central, crc);
        Put32(central, size);
        Put32(central, size);
        Put16(central, nameSize);
        Put16(central, 0);  // extra
        Put16(central, 0);  // comment
        Put16(central, 0);  // disk
        Put16(central, 0);  // internal attributes
        Put32(central, 0);  // external attributes
        Put32(central, offset);
        central += entry.name;
    }
    const uint32_t centralOffset = static_cast<uint32_t>(out.size());
    out += central;
    Put32(out, 0x06054b50);  // end of central directory
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<uint32_t>(entries.size()));
    Put16(out, static_cast<uint32_t>(entries.size()));
    Put32(out, static_cast<uint32_t>(central.size()));
    Put32(out, centralOffset);
    Put16(out, 0);
    return out;
}

}  // namespace orvane_cli
