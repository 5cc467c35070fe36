// The archives as Python's zipfile reads them, in the plain and the ZIP64 form.
#include <algorithm>
#include <cstdio>

#include <gtest/gtest.h>
#include <zlib.h>

#include "CliHarness.h"
#include "Zip.h"

using Zip = cli_test::ToolTest;

TEST_F(Zip, EntriesReadBackWhetherOrNotTheyTakeTheZip64Form)
{
    // More pieces than are compressed at once, so pieces go on from earlier batches.
    const size_t bigSize = (orvane_cli::ZipWriter::kPiecesAtOnce + 1) * orvane_cli::ZipWriter::kPieceSize + 12345;
    std::string big;
    for (int k = 0; big.size() < bigSize; ++k) big += "<vertex x=\"" + std::to_string(k % 977) + "\"/>\n";
    const auto line = [](const std::string& name, const std::string& bytes, bool shrunk) {
        char crc[16];
        std::snprintf(crc, sizeof crc, "%08lx", crc32_z(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
        return name + " " + std::to_string(bytes.size()) + " " + crc + " 8 " + (shrunk ? "True" : "False") + "\n";
    };
    // zipfile checks every checksum, then lists each entry with its size, checksum, method and
    // whether DEFLATE made it five times smaller.
    cli_test::WriteText(dir / "list.py", "import sys, zipfile, zlib\nz = zipfile.ZipFile(sys.argv[1])\nprint(z.testzip())\n"
                                         "for i in z.infolist():\n    print(i.filename, i.file_size, '%08x' % "
                                         "zlib.crc32(z.read(i)), i.compress_type, i.compress_size * 5 < i.file_size)\n");
    // Threshold 0 puts every size, offset and count in the ZIP64 form.
    for (const uint64_t threshold : {uint64_t{0xFFFFFFFF}, uint64_t{0}}) {
        SCOPED_TRACE(threshold);
        const auto archive = [&] {
            orvane_cli::ZipWriter zip(threshold);
            zip.Add("empty", "");
            zip.Begin("3D/big.model");
            for (size_t at = 0; at < big.size(); at += 65537) zip.Append(big.data() + at, std::min<size_t>(65537, big.size() - at));
            zip.End();
            zip.Add("small.txt", "small");
            // Ends where a piece ends: the last piece is empty.
            zip.Add("pieces", big.substr(0, 2 * orvane_cli::ZipWriter::kPieceSize));
            return zip.Finish();
        };
        const std::string bytes = archive();
        // The same entries give the same bytes, however their bytes arrive.
        orvane_cli::ZipWriter whole(threshold);
        whole.Add("empty", "");
        whole.Add("3D/big.model", big);
        whole.Add("small.txt", "small");
        whole.Add("pieces", big.substr(0, 2 * orvane_cli::ZipWriter::kPieceSize));
        EXPECT_EQ(bytes, whole.Finish());
        const size_t record = bytes.find("PK\x06\x06");  // ZIP64 end record: disk 0 in it and its locator, 1 in all
        EXPECT_EQ(record == std::string::npos ? "" : bytes.substr(record + 16, 8) + bytes.substr(record + 60, 4) + bytes.substr(record + 72, 4),
                  threshold == 0 ? std::string(12, '\0') + std::string("\1\0\0\0", 4) : "");
        cli_test::WriteText(dir / "a.zip", bytes);
        const cli_test::RunResult run = cli_test::RunProgram(PYTHON3_PROGRAM, "list.py a.zip", dir);
        EXPECT_EQ(run.out, "None\n" + line("empty", "", false) + line("3D/big.model", big, true) + line("small.txt", "small", false) +
                               line("pieces", big.substr(0, 2 * orvane_cli::ZipWriter::kPieceSize), true))
            << run.err;
    }
}
