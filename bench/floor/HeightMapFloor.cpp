// The floor the tool's single-body STL is measured against: a plain single-threaded program that
// reads raw grey (a binary PGM), makes the same closed body the library makes (top and bottom
// grids, four walls, two triangles per cell each) and writes it as binary STL in one go.
// usage: height_map_floor prepare PHOTO SIZE OUT.pgm   (decode, grey, resize: done once)
//        height_map_floor mesh IN.pgm OUT.stl
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

struct Point {
    float x, y, z;
};

void Facet(char*& out, const Point& a, const Point& b, const Point& c)
{
    const float ex = b.x - a.x, ey = b.y - a.y, ez = b.z - a.z;
    const float fx = c.x - b.x, fy = c.y - b.y, fz = c.z - b.z;
    float n[3] = {ey * fz - ez * fy, ez * fx - ex * fz, ex * fy - ey * fx};
    const float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (length > 0.0f)
        for (float& v : n) v /= length;
    std::memcpy(out, n, 12);
    std::memcpy(out + 12, &a, 12);
    std::memcpy(out + 24, &b, 12);
    std::memcpy(out + 36, &c, 12);
    out[48] = out[49] = 0;
    out += 50;
}

int Mesh(const char* in, const char* outPath)
{
    FILE* file = std::fopen(in, "rb");
    if (!file) return 1;
    int cols = 0, rows = 0, maxValue = 0;
    if (std::fscanf(file, "P5 %d %d %d", &cols, &rows, &maxValue) != 3 || std::fgetc(file) == EOF) return 1;
    std::vector<uint8_t> grey(static_cast<size_t>(cols) * static_cast<size_t>(rows));
    if (std::fread(grey.data(), 1, grey.size(), file) != grey.size()) return 1;
    std::fclose(file);

    const float pixel = 0.1f, levelHeight = 0.1f * 19.0f / 255.0f, base = 0.6f;
    std::vector<Point> top(grey.size()), bottom(grey.size());
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const size_t i = static_cast<size_t>(r) * static_cast<size_t>(cols) + static_cast<size_t>(c);
            top[i] = {c * pixel, r * pixel, base + grey[i] * levelHeight};
            bottom[i] = {c * pixel, r * pixel, 0.0f};
        }
    const size_t triangles = 4 * size_t(rows - 1) * size_t(cols - 1) + 4 * size_t(rows - 1) + 4 * size_t(cols - 1);
    std::vector<char> block(84 + 50 * triangles, ' ');
    const uint32_t count = static_cast<uint32_t>(triangles);
    std::memcpy(block.data() + 80, &count, 4);
    char* out = block.data() + 84;
    const auto at = [cols](int r, int c) { return static_cast<size_t>(r) * static_cast<size_t>(cols) + static_cast<size_t>(c); };
    for (int r = 0; r + 1 < rows; ++r)
        for (int c = 0; c + 1 < cols; ++c) {
            Facet(out, top[at(r + 1, c)], top[at(r, c + 1)], top[at(r, c)]);
            Facet(out, top[at(r + 1, c + 1)], top[at(r, c + 1)], top[at(r + 1, c)]);
            Facet(out, bottom[at(r, c)], bottom[at(r, c + 1)], bottom[at(r + 1, c)]);
            Facet(out, bottom[at(r + 1, c)], bottom[at(r, c + 1)], bottom[at(r + 1, c + 1)]);
        }
    for (int r = 0; r + 1 < rows; ++r)
        for (int c : {0, cols - 1}) {
            Facet(out, top[at(r, c)], bottom[at(r, c)], top[at(r + 1, c)]);
            Facet(out, top[at(r + 1, c)], bottom[at(r, c)], bottom[at(r + 1, c)]);
        }
    for (int c = 0; c + 1 < cols; ++c)
        for (int r : {0, rows - 1}) {
            Facet(out, top[at(r, c + 1)], bottom[at(r, c)], top[at(r, c)]);
            Facet(out, bottom[at(r, c + 1)], bottom[at(r, c)], top[at(r, c + 1)]);
        }
    FILE* stl = std::fopen(outPath, "wb");
    if (!stl || std::fwrite(block.data(), 1, block.size(), stl) != block.size() || std::fclose(stl) != 0) return 1;
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::string(argv[1]) == "prepare") {
        cv::Mat grey = cv::imread(argv[2], cv::IMREAD_GRAYSCALE);
        if (grey.empty()) return 1;
        const int size = std::stoi(argv[3]);
        cv::resize(grey, grey, cv::Size(size, size), 0, 0, cv::INTER_AREA);
        return cv::imwrite(argv[4], grey) ? 0 : 1;
    }
    if (argc == 4 && std::string(argv[1]) == "mesh") return Mesh(argv[2], argv[3]);
    std::fprintf(stderr, "usage: height_map_floor prepare PHOTO SIZE OUT.pgm | mesh IN.pgm OUT.stl\n");
    return 2;
}
