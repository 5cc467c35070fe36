// A ZIP archive written into memory, entry by entry, each entry DEFLATE-compressed as its bytes
// arrive, a few pieces at a time on the cores: a large entry never has to be held whole before
// compression.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvane_cli {

class ZipWriter {
public:
    // Sizes, offsets and counts from zip64Threshold on take the ZIP64 form, so no size limit applies;
    // the default is where the plain form ends. Tests lower it to reach ZIP64 with small archives.
    explicit ZipWriter(uint64_t zip64Threshold = 0xFFFFFFFFu);
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // An entry in one call.
    void Add(const std::string& name, const std::string& contents);
    // An entry in pieces: Begin, Append any number of times, End. One entry is open at a time.
    void Begin(const std::string& name);
    void Append(const char* data, std::size_t size);
    void End();

    // The archive bytes; the writer is empty afterwards. Entries carry a fixed timestamp, so the
    // same entries give the same bytes.
    std::string Finish();

    // Entries are compressed in pieces of this many bytes, up to kPiecesAtOnce at a time.
    static constexpr std::size_t kPieceSize = std::size_t(1) << 20;
    static constexpr std::size_t kPiecesAtOnce = 8;

private:
    struct Entry {
        std::string name;
        uint64_t offset = 0, size = 0, compressedSize = 0;
        uint32_t crc = 0;
    };
    struct Deflater;

    // Compresses the whole pieces waiting, and with last the rest too, ending the stream.
    void Deflate(bool last);
    bool Big(uint64_t value) const { return value >= zip64From; }
    bool Zip64Sizes(const Entry& entry) const { return Big(entry.size) || Big(entry.compressedSize); }
    // The fields both headers of an entry hold, from the version needed to the name's length.
    static void PutSharedFields(std::string& out, const Entry& entry, bool zip64Sizes, bool zip64);
    void WriteLocalHeader(const Entry& entry);
    void WriteCentralHeader(std::string& central, const Entry& entry) const;
    void WriteEnd(uint64_t centralOffset, uint64_t centralSize);

    uint64_t zip64From;
    std::string out;
    std::vector<Entry> entries;
    std::unique_ptr<Deflater> deflater;  // set while an entry is open
};

}  // namespace orvane_cli
