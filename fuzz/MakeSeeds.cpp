// Writes the seed inputs of every fuzz target into DIR/<target>/: small photographs in each
// format the library decodes, behind the parameter bytes each target reads first, and a few
// colour files. Run by scripts/fuzz.sh before the targets.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <orvane/ColourCard.h>

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

// The bytes FuzzInput reads back as these values.
void Int(Bytes& out, int value, int low) { out.push_back(uint8_t(value - low)), out.push_back(uint8_t((value - low) >> 8)); }
void Number(Bytes& out, double value, double low) { out.push_back(0), Int(out, int((value - low) * 64), 0); }
void Count(Bytes& out, int value, int low) { out.push_back(0), Int(out, value, low); }

void Write(const fs::path& file, const Bytes& head, const Bytes& tail = {})
{
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(head.data()), head.size())
        .write(reinterpret_cast<const char*>(tail.data()), tail.size());
}

cv::Mat Photo(int cols, int rows)
{
    cv::Mat hsv(rows, cols, CV_8UC3);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) hsv.at<cv::Vec3b>(r, c) = cv::Vec3b(uint8_t(c * 180 / cols), 200, uint8_t(40 + r * 200 / rows));
    cv::Mat bgr;
    cv::cvtColor(hsv, bgr, cv::COLOR_HSV2BGR);
    return bgr;
}

std::vector<Bytes> Encodings(const cv::Mat& image)
{
    std::vector<Bytes> out;
    for (const char* extension : {".png", ".jpg", ".bmp", ".webp", ".tif", ".ppm"}) {
        Bytes bytes;
        if (cv::imencode(extension, image, bytes)) out.push_back(bytes);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds DIR\n");
        return 2;
    }
    const fs::path root = argv[1];
    for (const char* target : {"decode_relief", "decode_translucent", "relief_proxy", "translucent_proxy",
                               "mesh_streams", "meshers", "colour_files", "find_card"})
        fs::create_directories(root / target);

    const std::vector<Bytes> photos = Encodings(Photo(32, 24));
    const Bytes card = Encodings(Photo(128, 32)).front();
    for (size_t k = 0; k < photos.size(); ++k) {
        const std::string name = "photo" + std::to_string(k);
        Bytes relief;
        Number(relief, 12, 1), Number(relief, 8, 1), Number(relief, 1, 0.5);
        Int(relief, 3, 0);
        for (uint8_t v : {0, 0, 0, 255, 255, 255, 255, 64, 0, 0, 200, 80}) relief.push_back(v);
        Count(relief, 1, 0), Count(relief, 8, 0), relief.push_back(3);
        Write(root / "decode_relief" / name, relief, photos[k]);

        Bytes proxy;
        Number(proxy, 12, 1), Number(proxy, 8, 1), Number(proxy, 1, 0.5);
        for (int list = 0; list < 2; ++list) {  // the palette, then a stack: black and white, red green blue opacity
            Int(proxy, 8, 0);
            for (float value : {0.0f, 0.0f, 0.0f, 1.0f, 255.0f, 255.0f, 255.0f, 0.125f}) {
                uint8_t raw[4];
                std::memcpy(raw, &value, 4);
                proxy.insert(proxy.end(), raw, raw + 4);
            }
        }
        Count(proxy, 1, 0), Count(proxy, 8, 0), Count(proxy, 0, 0), Count(proxy, 8, 0);
        Number(proxy, 0.2, 0.05), Number(proxy, 1, 0), Number(proxy, 12, 1), Number(proxy, 8, 1), Number(proxy, 1, 0.5);
        Write(root / "relief_proxy" / name, proxy, photos[k]);

        Bytes translucent;
        Int(translucent, int(card.size()), 0);
        Number(translucent, 24, 1), Number(translucent, 16, 1), Number(translucent, 1, 0.5);
        Number(translucent, 1, 0), Number(translucent, 0, 0);
        Count(translucent, 1, 0), Count(translucent, 6, 0);
        Number(translucent, 0.1, 0.05), Number(translucent, 0.1, 0.05);
        translucent.push_back(3);
        translucent.insert(translucent.end(), card.begin(), card.end());
        Write(root / "decode_translucent" / name, translucent, photos[k]);
        Write(root / "translucent_proxy" / name, translucent, photos[k]);
    }

    // A photo of the card, turned, tilted and unevenly lit, in grey at about 3.4 pixels a cell,
    // behind the finder's options (cells of 10 rectified pixels, photo cells of 1 and more).
    Orvanes::CardPhotoSettings shot;
    shot.cellPixels = 4.0, shot.margin = 0.05, shot.frameAspect = 0.0, shot.tiltDegrees = 15.0;
    shot.falloff = 0.2, shot.quarterTurns = 1;
    const Orvanes::CardMaterials materials = {Orvanes::LayerEntry(255, 255, 0, 0.3f), Orvanes::LayerEntry(255, 0, 255, 0.3f),
                                              Orvanes::LayerEntry(0, 255, 255, 0.3f),
                                              Orvanes::LayerEntry(255, 255, 255, 0.1f)};
    cv::Mat cardGrey;
    cv::cvtColor(Orvanes::SimulateCardPhoto(materials, shot).photo, cardGrey, cv::COLOR_BGR2GRAY);
    cv::resize(cardGrey, cardGrey, cv::Size(), 0.85, 0.85, cv::INTER_AREA);
    Bytes finder;
    Int(finder, cardGrey.cols, 1), Int(finder, cardGrey.rows, 1);
    Count(finder, 10, 1), Number(finder, 1, 1);
    for (int k = 0; k < 3; ++k) finder.push_back(0);
    Write(root / "find_card" / "card", finder, Bytes(cardGrey.datastart, cardGrey.dataend));

    // A unit cube, its faces wound outward, then a 2 x 2 picture.
    Bytes cube;
    Int(cube, 8, 0);
    for (int v = 0; v < 8; ++v) cube.push_back(0), Int(cube, v & 1, 0), Int(cube, v >> 1 & 1, 0), Int(cube, v >> 2 & 1, 0);
    const int faces[12][3] = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4}, {1, 5, 4},
                              {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}, {1, 3, 5}, {3, 7, 5}};
    Int(cube, 12, 0);
    for (const auto& face : faces)
        for (int index : face) Count(cube, index, 0);
    Count(cube, 2, 0), Count(cube, 2, 0), Count(cube, 12, 0);
    Write(root / "mesh_streams" / "cube", cube, Bytes(12, 128));

    Bytes grids;
    Int(grids, 5, 1), Int(grids, 7, 1);
    Number(grids, 0.2, 0.05), Number(grids, 0.5, 0.1), Number(grids, 0.6, 0);
    Count(grids, 12, 1), grids.push_back(0);
    for (int k = 0; k < 35; ++k) grids.push_back(uint8_t(k * 37));
    Int(grids, 4, 1), Int(grids, 4, 1), Int(grids, 3, 1), Int(grids, 1, 0);
    Number(grids, 0.5, 0.1), Number(grids, 0.2, 0.05), Number(grids, 0.2, 0.05);
    for (int k = 0; k < 48; ++k) grids.push_back(uint8_t(k * 7 % 5));
    Write(root / "meshers" / "grids", grids);

    const std::string files[] = {
        "\x01; six filaments\n000000:1 black\n1a4d2e:0.4 dark green\nb22222@1.2 red\n#ff8c00 orange\n",
        "\x02\xEF\xBB\xBF" "ffffff white\r\n000000:0.5 black\r1a4d2e@0.8 Grün\n",
    };
    for (size_t k = 0; k < 2; ++k) {
        const Bytes bytes(files[k].begin(), files[k].end());
        Write(root / "colour_files" / ("palette" + std::to_string(k)), bytes);
    }
    return 0;
}
