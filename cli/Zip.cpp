#include "Zip.h"

#include <algorithm>
#include <stdexcept>

#include <zlib.h>

#include "BothEnds.h"

namespace orvane_cli {

namespace {

void PutLittleEndian(std::string& out, uint64_t value, int bytes)
{
    for (int k = 0; k < bytes; ++k) out.push_back(static_cast<char>((value >> (8 * k)) & 0xFF));
}

void Put16(std::string& out, uint64_t value) { PutLittleEndian(out, value, 2); }
void Put32(std::string& out, uint64_t value) { PutLittleEndian(out, value, 4); }
void Put64(std::string& out, uint64_t value) { PutLittleEndian(out, value, 8); }

constexpr uint32_t kDosTime = 0;                           // 00:00:00
constexpr uint32_t kDosDate = (0u << 9) | (1u << 5) | 1u;  // 1980-01-01, the earliest ZIP date
constexpr uint32_t kPlainVersion = 20, kZip64Version = 45;
constexpr uint32_t kDeflated = 8;
constexpr uint64_t kMark16 = 0xFFFF, kMark32 = 0xFFFFFFFF;  // "see the ZIP64 record"
constexpr std::size_t kLocalHeaderSize = 30, kZip64LocalExtraSize = 20;

}  // namespace

// The open entry: its bytes wait here until a batch of pieces is there to compress.
struct ZipWriter::Deflater {
    Entry entry;
    std::string waiting;
    std::string window;  // the last bytes compressed, up to DEFLATE's reach back
};

namespace {

constexpr std::size_t kWindow = std::size_t(1) << MAX_WBITS;

// One piece as raw DEFLATE (the ZIP headers carry the checksum, not zlib's wrapper) that goes on
// where the one before ended: it may refer back into window, the bytes before it, and it ends
// on a byte boundary (an empty stored block), or as the last of the entry. Concatenated, the
// pieces are one stream. The fastest level: on a print's model text it takes a third of the
// default's time for files about a quarter larger, still a seventh of the text.
std::string DeflatePiece(const char* data, std::size_t size, const char* window, std::size_t windowSize, bool last)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("zlib: cannot start compressing");
    std::string packed(deflateBound(&stream, static_cast<uLong>(size)) + 16, '\0');
    int result = windowSize == 0 ? Z_OK
                                 : deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(window), static_cast<uInt>(windowSize));
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    stream.avail_in = static_cast<uInt>(size);
    stream.next_out = reinterpret_cast<Bytef*>(packed.data());
    stream.avail_out = static_cast<uInt>(packed.size());
    if (result == Z_OK) result = deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
    const bool done = last ? result == Z_STREAM_END : result == Z_OK && stream.avail_in == 0 && stream.avail_out > 0;
    packed.resize(packed.size() - stream.avail_out);
    deflateEnd(&stream);
    if (!done) throw std::runtime_error("zlib: compressing failed");
    return packed;
}

}  // namespace

ZipWriter::ZipWriter(uint64_t zip64Threshold) : zip64From(zip64Threshold) {}

ZipWriter::~ZipWriter() = default;

void ZipWriter::Add(const std::string& name, const std::string& contents)
{
    Begin(name);
    Append(contents.data(), contents.size());
    End();
}

void ZipWriter::Begin(const std::string& name)
{
    if (deflater) throw std::logic_error("ZipWriter: " + name + " begun before the last entry ended");
    deflater = std::make_unique<Deflater>();
    deflater->entry.name = name;
    deflater->entry.offset = out.size();
    // Room for the local header; End fills it in once the sizes are known.
    out.append(kLocalHeaderSize + name.size(), '\0');
}

void ZipWriter::Append(const char* data, std::size_t size)
{
    deflater->waiting.append(data, size);
    deflater->entry.size += size;
    if (deflater->waiting.size() >= kPiecesAtOnce * kPieceSize) Deflate(false);
}

void ZipWriter::Deflate(bool last)
{
    // Pieces of a fixed size whatever the calls brought, compressed on the cores (--threads):
    // the same bytes from any number of cores.
    std::string& waiting = deflater->waiting;
    std::string& window = deflater->window;
    const std::size_t pieces = waiting.size() / kPieceSize + (last ? 1 : 0);
    std::vector<std::string> packed(pieces);
    std::vector<uint32_t> crcs(pieces);
    OnCores(pieces, [&](std::size_t k) {
        const std::size_t begin = k * kPieceSize, size = std::min(kPieceSize, waiting.size() - begin);
        const char* data = waiting.data() + begin;
        const bool first = k == 0;
        packed[k] = DeflatePiece(data, size, first ? window.data() : data - kWindow, first ? window.size() : kWindow,
                                 last && k + 1 == pieces);
        crcs[k] = static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(data), size));
    });
    Entry& entry = deflater->entry;
    for (std::size_t k = 0; k < pieces; ++k) {
        out += packed[k];
        const std::size_t size = std::min(kPieceSize, waiting.size() - k * kPieceSize);
        entry.crc = static_cast<uint32_t>(crc32_combine(entry.crc, crcs[k], static_cast<z_off_t>(size)));
    }
    const std::size_t used = std::min(waiting.size(), pieces * kPieceSize);
    if (used >= kWindow) {
        window.assign(waiting, used - kWindow, kWindow);
    } else {
        window.append(waiting, 0, used);
        if (window.size() > kWindow) window.erase(0, window.size() - kWindow);
    }
    waiting.erase(0, used);
}

void ZipWriter::End()
{
    Deflate(true);
    Entry entry = std::move(deflater->entry);
    deflater.reset();
    const uint64_t dataStart = entry.offset + kLocalHeaderSize + entry.name.size();
    entry.compressedSize = out.size() - dataStart;
    // Only now is it known whether the sizes need the ZIP64 record; it goes between the name and
    // the data, which moves the data once for such an entry.
    if (Zip64Sizes(entry)) out.insert(dataStart, kZip64LocalExtraSize, '\0');
    WriteLocalHeader(entry);
    entries.push_back(std::move(entry));
}

void ZipWriter::PutSharedFields(std::string& out, const Entry& entry, bool zip64Sizes, bool zip64)
{
    Put16(out, zip64 ? kZip64Version : kPlainVersion);  // needed to extract
    Put16(out, 0);                                      // flags
    Put16(out, kDeflated);
    Put16(out, kDosTime);
    Put16(out, kDosDate);
    Put32(out, entry.crc);
    Put32(out, zip64Sizes ? kMark32 : entry.compressedSize);
    Put32(out, zip64Sizes ? kMark32 : entry.size);
    Put16(out, entry.name.size());
}

void ZipWriter::WriteLocalHeader(const Entry& entry)
{
    const bool zip64 = Zip64Sizes(entry);
    std::string header;
    Put32(header, 0x04034b50);
    PutSharedFields(header, entry, zip64, zip64);
    Put16(header, zip64 ? kZip64LocalExtraSize : 0);
    header += entry.name;
    if (zip64) {
        Put16(header, 0x0001);  // ZIP64 extended information; the local one holds both sizes
        Put16(header, 16);
        Put64(header, entry.size);
        Put64(header, entry.compressedSize);
    }
    out.replace(entry.offset, header.size(), header);
}

void ZipWriter::WriteCentralHeader(std::string& central, const Entry& entry) const
{
    const bool zip64Sizes = Zip64Sizes(entry), zip64Offset = Big(entry.offset);
    std::string extra;
    if (zip64Sizes) {
        Put64(extra, entry.size);
        Put64(extra, entry.compressedSize);
    }
    if (zip64Offset) Put64(extra, entry.offset);
    const bool zip64 = !extra.empty();
    Put32(central, 0x02014b50);
    Put16(central, kZip64Version);  // made by: MS-DOS attributes, ZIP 4.5
    PutSharedFields(central, entry, zip64Sizes, zip64);
    Put16(central, zip64 ? 4 + extra.size() : 0);
    Put16(central, 0);  // comment
    Put16(central, 0);  // disk
    Put16(central, 0);  // internal attributes
    Put32(central, 0);  // external attributes
    Put32(central, zip64Offset ? kMark32 : entry.offset);
    central += entry.name;
    if (zip64) {
        Put16(central, 0x0001);
        Put16(central, extra.size());
        central += extra;
    }
}

void ZipWriter::WriteEnd(uint64_t centralOffset, uint64_t centralSize)
{
    const uint64_t count = entries.size();
    const bool bigCount = count >= std::min(zip64From, kMark16);
    const bool bigSize = Big(centralSize), bigOffset = Big(centralOffset);
    if (bigCount || bigSize || bigOffset) {
        const uint64_t recordOffset = out.size();
        Put32(out, 0x06064b50);  // ZIP64 end of central directory record
        Put64(out, 44);          // its size after this field
        Put16(out, kZip64Version);
        Put16(out, kZip64Version);
        Put32(out, 0);
        Put32(out, 0);
        Put64(out, count);
        Put64(out, count);
        Put64(out, centralSize);
        Put64(out, centralOffset);
        Put32(out, 0x07064b50);  // its locator
        Put32(out, 0);
        Put64(out, recordOffset);
        Put32(out, 1);
    }
    Put32(out, 0x06054b50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, bigCount ? kMark16 : count);
    Put16(out, bigCount ? kMark16 : count);
    Put32(out, bigSize ? kMark32 : centralSize);
    Put32(out, bigOffset ? kMark32 : centralOffset);
    Put16(out, 0);
}

std::string ZipWriter::Finish()
{
    if (deflater) throw std::logic_error("ZipWriter: " + deflater->entry.name + " was not ended");
    std::string central;
    for (const Entry& entry : entries) WriteCentralHeader(central, entry);
    const uint64_t centralOffset = out.size();
    out += central;
    WriteEnd(centralOffset, central.size());
    entries.clear();
    std::string archive;
    archive.swap(out);
    return archive;
}

}  // namespace orvane_cli
