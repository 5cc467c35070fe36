// A ZIP archive of stored (uncompressed) entries: what a 3MF package needs and nothing more.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace orvane_cli {

struct ZipEntry {
    std::string name;      // path inside the archive, '/' separated
    std::string contents;
};

// IEEE 802.3 CRC-32 (the ZIP checksum) of size bytes.
uint32_t Crc32(const void* data, std::size_t size);

// The archive bytes. Entries carry a fixed timestamp so the same entries give the same bytes.
// Throws std::length_error when the archive would need ZIP64 (an entry or the whole beyond 4 GiB).
std::string StoredZip(const std::vector<ZipEntry>& entries);

}  // namespace orvane_cli
