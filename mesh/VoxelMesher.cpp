#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include <Eigen/Geometry>
#include <opencv2/core.hpp>

#include "MeshRotation.h"
#include "NULLProgressBar.h"
#include "PhotoMeshCreater.h"

// Baseline x86-64 code has no popcount instruction, and ranks are popcounts; the hot passes
// are compiled a second time for processors that have one and picked at run time. Both
// versions compute the same integers, so meshes stay byte-identical across machines.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) && !defined(__POPCNT__)
#define ORVANE_POPCNT_DISPATCH 1
#else
#define ORVANE_POPCNT_DISPATCH 0
#endif

namespace Orvanes {

namespace {

using Face = Eigen::Matrix<int32_t, 3, 1>;

constexpr int64_t kMaxIndexCount = std::numeric_limits<int32_t>::max();

// Bit counting as a policy, so one pass body serves both builds.
struct PortableCount {
    static int Of(uint64_t x)
    {
        x = x - ((x >> 1) & 0x5555555555555555ull);
        x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
        x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
        return static_cast<int>((x * 0x0101010101010101ull) >> 56);
    }
};

#if ORVANE_POPCNT_DISPATCH || defined(__POPCNT__)
struct HardwareCount {
    static int Of(uint64_t x) { return __builtin_popcountll(x); }
};
#endif

#if defined(__POPCNT__)
using DefaultCount = HardwareCount;
#else
using DefaultCount = PortableCount;
#endif

inline int LowestBit(uint64_t x)  // x != 0
{
#if defined(__GNUC__)
    return __builtin_ctzll(x);
#else
    int k = 0;
    while (!(x & 1u)) {
        x >>= 1;
        ++k;
    }
    return k;
#endif
}

inline uint64_t LowBits(int count)  // count < 64
{
    return (uint64_t(1) << count) - 1;
}

// Progress of one call: values rise from begin toward end and a value goes out only when it
// passes the last one sent, so the host never sees a repeat or a step back. A grid without
// columns has no fraction of columns done and sends nothing.
class ProgressSchedule {
public:
    ProgressSchedule(PhotosProgressBar* progressBar, int begin, int end, int colCount)
        : progress(progressBar),
          beginValue(begin),
          span(static_cast<double>(end) - static_cast<double>(begin)),
          cols(colCount),
          last(begin)
    {
    }
    void VertexColumnDone(int i)
    {
        if (cols > 0) Offer(std::floor(static_cast<double>(i) / cols * span * 0.5) + beginValue);
    }
    void FaceColumnDone(int i)
    {
        if (cols > 0) Offer(std::floor(static_cast<double>(i) / cols * span * 0.5 + span * 0.5) + beginValue);
    }

private:
    // v lies between begin and end, both ints, so the conversion is always defined.
    void Offer(double v)
    {
        if (v > last) {
            last = static_cast<int>(v);
            detail::Report(progress, last);
        }
    }
    PhotosProgressBar* progress;
    double beginValue;
    double span;
    int cols;
    int last;
};

// The grid read in place through its two strides: byte k of element (j, i).
struct VoxelGrid {
    const uint8_t* data;
    size_t rowStep;
    size_t elementStep;
    int rows, cols, cn;
    const uint8_t* Element(int j, int i) const { return data + j * rowStep + i * elementStep; }
};

// The used-position bits of the lattice, (i, j, k) lexicographic, and the count of used
// positions before each word: a position's vertex index is its rank.
struct Lattice {
    uint64_t rows;    // lattice rows, grid rows + 1
    uint64_t levels;  // lattice levels, layers + 1
    uint64_t* used;
    const int32_t* before;
    uint64_t Bit(int i, int j) const { return (static_cast<uint64_t>(i) * rows + static_cast<uint64_t>(j)) * levels; }
    template <typename Count>
    int32_t Rank(uint64_t bit) const
    {
        const size_t word = static_cast<size_t>(bit >> 6);
        return before[word] + Count::Of(used[word] & LowBits(static_cast<int>(bit & 63)));
    }
};

// Bit k set when byte k of the element equals label; eight bytes per step by the classic
// exact zero-byte test on label-xored words.
template <typename Mask>
Mask LabelMaskOf(const uint8_t* element, int cn, uint8_t label)
{
    uint64_t mask = 0;
    int k = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const uint64_t pattern = 0x0101010101010101ull * label;
    auto matches = [&](int offset) {
        uint64_t word;
        std::memcpy(&word, element + offset, 8);
        word ^= pattern;
        const uint64_t high = ~(((word & 0x7F7F7F7F7F7F7F7Full) + 0x7F7F7F7F7F7F7F7Full) | word |
                                0x7F7F7F7F7F7F7F7Full);
        return ((high >> 7) * 0x0102040810204080ull) >> 56;
    };
    if (cn >= 8) {
        for (; k + 8 <= cn; k += 8) mask |= matches(k) << k;
        // The last bytes come from one more word ending at the element's end; the bytes it
        // shares with the word before give the same bits again.
        if (k < cn) mask |= matches(cn - 8) << (cn - 8);
        return static_cast<Mask>(mask);
    }
#endif
    for (; k < cn; ++k)
        mask |= uint64_t(element[k] == label) << k;
    return static_cast<Mask>(mask);
}

// One label mask per grid element, stored column by column (element (j, i) at i * rows + j)
// because both passes walk the lattice column-major. Rows are read in tiles of a few
// columns so the grid is streamed in memory order while the masks are written column-wise.
template <typename Mask>
std::vector<Mask> LabelMasks(const VoxelGrid& grid, int label)
{
    std::vector<Mask> masks(static_cast<size_t>(grid.rows) * static_cast<size_t>(grid.cols), Mask(0));
    if (label < 0 || label > 255) return masks;  // no byte can hold it
    constexpr int kTileCols = 32;
    for (int i0 = 0; i0 < grid.cols; i0 += kTileCols) {
        const int i1 = std::min(grid.cols, i0 + kTileCols);
        for (int j = 0; j < grid.rows; ++j) {
            const uint8_t* element = grid.Element(j, i0);
            for (int i = i0; i < i1; ++i, element += grid.elementStep)
                masks[static_cast<size_t>(i) * grid.rows + j] =
                    LabelMaskOf<Mask>(element, grid.cn, static_cast<uint8_t>(label));
        }
    }
    return masks;
}

// Side bits in the order the triangles of one voxel are written.
enum Side : unsigned { kMinusX = 1, kPlusX = 2, kMinusY = 4, kPlusY = 8, kPlusZ = 16, kMinusZ = 32 };

// The two triangles of every open side of one voxel. rAB is the vertex of corner
// (i + A, j + B, k); the corner one level up is the next vertex of the same lattice column,
// since both touch the voxel and so both are used.
inline Face* AppendVoxelSides(Face* out, unsigned sides, int32_t r00, int32_t r01, int32_t r10, int32_t r11)
{
    const int32_t p000 = r00, p001 = r00 + 1, p010 = r01, p011 = r01 + 1;
    const int32_t p100 = r10, p101 = r10 + 1, p110 = r11, p111 = r11 + 1;
    if (sides & kMinusX) {
        *out++ = Face(p011, p010, p000);
        *out++ = Face(p001, p011, p000);
    }
    if (sides & kPlusX) {
        *out++ = Face(p110, p111, p101);
        *out++ = Face(p100, p110, p101);
    }
    if (sides & kMinusY) {
        *out++ = Face(p001, p000, p100);
        *out++ = Face(p101, p001, p100);
    }
    if (sides & kPlusY) {
        *out++ = Face(p111, p110, p010);
        *out++ = Face(p011, p111, p010);
    }
    if (sides & kPlusZ) {
        *out++ = Face(p111, p011, p001);
        *out++ = Face(p101, p111, p001);
    }
    if (sides & kMinusZ) {
        *out++ = Face(p010, p110, p100);
        *out++ = Face(p000, p010, p100);
    }
    return out;
}

template <typename Count>
inline Face* AppendVoxel(Face* out, const Lattice& lattice, uint64_t bit, unsigned sides)
{
    const uint64_t nextRow = lattice.levels, nextCol = lattice.rows * lattice.levels;
    return AppendVoxelSides(out, sides, lattice.Rank<Count>(bit), lattice.Rank<Count>(bit + nextRow),
                            lattice.Rank<Count>(bit + nextCol), lattice.Rank<Count>(bit + nextCol + nextRow));
}

// The sides of voxel (j, i, k) that face the outside or a voxel of another value.
inline unsigned OpenSides(const VoxelGrid& grid, int j, int i, int k, int label)
{
    const uint8_t* v = grid.Element(j, i) + k;
    unsigned sides = 0;
    if (i == 0 || *(v - grid.elementStep) != label) sides |= kMinusX;
    if (i + 1 >= grid.cols || *(v + grid.elementStep) != label) sides |= kPlusX;
    if (j == 0 || *(v - grid.rowStep) != label) sides |= kMinusY;
    if (j + 1 >= grid.rows || *(v + grid.rowStep) != label) sides |= kPlusY;
    if (k + 1 >= grid.cn || v[1] != label) sides |= kPlusZ;
    if (k == 0 || v[-1] != label) sides |= kMinusZ;
    return sides;
}

// The open sides of one element's voxels as six level masks, in side order.
struct OpenMasks {
    uint64_t side[6];
    uint64_t any;
};

template <typename Mask>
inline OpenMasks OpenSidesOf(const Mask* left, const Mask* here, const Mask* right, int j, int rows)
{
    const uint64_t m = here[j];
    OpenMasks open{{m & ~uint64_t(left ? left[j] : 0), m & ~uint64_t(right ? right[j] : 0),
                    m & ~uint64_t(j > 0 ? here[j - 1] : 0), m & ~uint64_t(j + 1 < rows ? here[j + 1] : 0),
                    m & ~(m >> 1), m & ~(m << 1)},
                   0};
    open.any = open.side[0] | open.side[1] | open.side[2] | open.side[3] | open.side[4] | open.side[5];
    return open;
}

// Vertex bits of every lattice column from the label masks, one word per column (levels <= 64),
// and the triangle count; vertex-pass progress after each lattice plane i.
template <typename Count, typename Mask>
inline int64_t MaskBitPassBody(const VoxelGrid& grid, const Mask* masks, const Lattice& lattice,
                               ProgressSchedule& schedule)
{
    const int rows = grid.rows, cols = grid.cols, cn = grid.cn;
    const int levels = static_cast<int>(lattice.levels);
    const uint64_t allLevels = levels == 64 ? ~uint64_t(0) : LowBits(levels);
    const uint64_t shellLevels = (uint64_t(1) | (uint64_t(3) << (cn - 1))) & allLevels;
    const size_t gridRows = static_cast<size_t>(rows);
    int64_t openSides = 0;
    uint64_t bit = 0;
    for (int i = 0; i <= cols; ++i) {
        const Mask* left = i > 0 ? masks + (i - 1) * gridRows : nullptr;
        const Mask* here = i < cols ? masks + i * gridRows : nullptr;
        const Mask* right = i + 1 < cols ? here + gridRows : nullptr;
        const bool shellPlane = i == 0 || i >= cols - 1;
        for (int j = 0; j <= rows; ++j, bit += lattice.levels) {
            uint64_t levelBits = allLevels;
            if (!shellPlane && j != 0 && j < rows - 1) {
                const uint64_t around = uint64_t(left[j - 1]) | left[j] | here[j - 1] | here[j];
                levelBits = (around | (around << 1) | shellLevels) & allLevels;
            }
            const size_t word = static_cast<size_t>(bit >> 6);
            const int shift = static_cast<int>(bit & 63);
            lattice.used[word] |= levelBits << shift;
            if (shift + levels > 64) lattice.used[word + 1] |= levelBits >> (64 - shift);
            if (j < rows && here && here[j]) {
                const OpenMasks open = OpenSidesOf(left, here, right, j, rows);
                for (uint64_t side : open.side) openSides += Count::Of(side);
            }
        }
        schedule.VertexColumnDone(i);
    }
    return 2 * openSides;
}

// Triangles voxel by voxel in grid order (column, row, layer), skipping voxels with no open
// side, which are most of any solid region; face-pass progress after each grid column.
template <typename Count, typename Mask>
inline Face* MaskFacePassBody(const VoxelGrid& grid, const Mask* masks, const Lattice& lattice, Face* out,
                              ProgressSchedule& schedule)
{
    const int rows = grid.rows, cols = grid.cols;
    const size_t gridRows = static_cast<size_t>(rows);
    for (int i = 0; i < cols; ++i) {
        const Mask* left = i > 0 ? masks + (i - 1) * gridRows : nullptr;
        const Mask* here = masks + i * gridRows;
        const Mask* right = i + 1 < cols ? here + gridRows : nullptr;
        for (int j = 0; j < rows; ++j) {
            if (!here[j]) continue;
            const OpenMasks open = OpenSidesOf(left, here, right, j, rows);
            const uint64_t column = lattice.Bit(i, j);
            for (uint64_t rest = open.any; rest; rest &= rest - 1) {
                const int k = LowestBit(rest);
                unsigned sides = 0;
                for (int s = 0; s < 6; ++s) sides |= static_cast<unsigned>((open.side[s] >> k) & 1u) << s;
                out = AppendVoxel<Count>(out, lattice, column + static_cast<uint64_t>(k), sides);
            }
        }
        schedule.FaceColumnDone(i);
    }
    return out;
}

#if ORVANE_POPCNT_DISPATCH
bool HasPopcount()
{
    static const bool has = __builtin_cpu_supports("popcnt");
    return has;
}

template <typename Mask>
__attribute__((target("popcnt"))) int64_t MaskBitPassPopcnt(const VoxelGrid& grid, const Mask* masks,
                                                             const Lattice& lattice, ProgressSchedule& schedule)
{
    return MaskBitPassBody<HardwareCount>(grid, masks, lattice, schedule);
}

template <typename Mask>
__attribute__((target("popcnt"))) Face* MaskFacePassPopcnt(const VoxelGrid& grid, const Mask* masks,
                                                           const Lattice& lattice, Face* out,
                                                           ProgressSchedule& schedule)
{
    return MaskFacePassBody<HardwareCount>(grid, masks, lattice, out, schedule);
}
#endif

template <typename Mask>
int64_t MaskBitPass(const VoxelGrid& grid, const Mask* masks, const Lattice& lattice, ProgressSchedule& schedule)
{
#if ORVANE_POPCNT_DISPATCH
    if (HasPopcount()) return MaskBitPassPopcnt(grid, masks, lattice, schedule);
#endif
    return MaskBitPassBody<DefaultCount>(grid, masks, lattice, schedule);
}

template <typename Mask>
Face* MaskFacePass(const VoxelGrid& grid, const Mask* masks, const Lattice& lattice, Face* out,
                   ProgressSchedule& schedule)
{
#if ORVANE_POPCNT_DISPATCH
    if (HasPopcount()) return MaskFacePassPopcnt(grid, masks, lattice, out, schedule);
#endif
    return MaskFacePassBody<DefaultCount>(grid, masks, lattice, out, schedule);
}

[[noreturn]] void ThrowTooMany(const char* what, int64_t count)
{
    throw std::length_error("CreateMeshFromVox: " + std::to_string(count) + " " + what +
                            " exceed the 32-bit signed index limit of " + std::to_string(kMaxIndexCount));
}

}  // namespace

bool PhotoMeshCreater::IsVertexUsed(const cv::Mat& voxels, int i, int j, int k, int label) const
{
    const int rows = voxels.rows, cols = voxels.cols, cn = voxels.channels();
    if (i == 0 || i >= cols - 1 || j == 0 || j >= rows - 1 || k == 0 || k >= cn - 1) return true;
    const size_t rowStep = voxels.step[0], elementStep = voxels.step[1];
    const uint8_t* here = voxels.data + j * rowStep + i * elementStep + k;
    const uint8_t* above = here - rowStep;
    const uint8_t* corners[4] = {above - elementStep, here - elementStep, above, here};
    for (const uint8_t* p : corners)
        if (p[0] == label || p[-1] == label) return true;
    return false;
}

OrvaneMesh PhotoMeshCreater::CreateMeshFromVox(cv::Mat voxels, double voxelSize, double layerHeight,
                                               double lastLayerHeight, int label, int progressBegin,
                                               int progressEnd)
{
    vertexIndex.Clear();
    OrvaneMesh mesh;
    CV_Assert(voxels.dims <= 2 && voxels.depth() == CV_8U);
    const VoxelGrid grid{voxels.data, voxels.step[0], voxels.dims == 2 ? voxels.step[1] : 0,
                         voxels.rows, voxels.cols, voxels.channels()};
    const int rows = grid.rows, cols = grid.cols, cn = grid.cn;
    ProgressSchedule schedule(progress, progressBegin, progressEnd, cols);

    // The lattice plane k = 0 is all shell, so it alone must fit the index range before the
    // bit table is sized from the lattice.
    const int64_t latticeCols = int64_t(cols) + 1, latticeRows = int64_t(rows) + 1, levels = int64_t(cn) + 1;
    if (latticeCols * latticeRows > kMaxIndexCount) ThrowTooMany("vertices", latticeCols * latticeRows);
    const uint64_t latticeCount = static_cast<uint64_t>(latticeCols * latticeRows * levels);
    vertexIndex.colCount = latticeCols;
    vertexIndex.rowCount = latticeRows;
    vertexIndex.levelCount = levels;
    // One spare word takes the spill of a lattice column that straddles the last word.
    const size_t wordCount = static_cast<size_t>(latticeCount / 64) + 2;
    vertexIndex.used.assign(wordCount, 0);
    vertexIndex.before.assign(wordCount, 0);
    std::vector<uint64_t>& used = vertexIndex.used;
    const Lattice lattice{static_cast<uint64_t>(latticeRows), static_cast<uint64_t>(levels), used.data(),
                          vertexIndex.before.data()};

    // Vertex bits and the triangle count. Vertex-pass progress follows the lattice planes i in
    // the order the vertices are numbered. Narrow masks keep the per-element table at a
    // fraction of the lattice's size; a lattice column longer than a word is tested point by
    // point.
    std::vector<uint32_t> narrowMasks;
    std::vector<uint64_t> wideMasks;
    int64_t faceCount = 0;
    if (cn <= 32) {
        narrowMasks = LabelMasks<uint32_t>(grid, label);
        faceCount = MaskBitPass(grid, narrowMasks.data(), lattice, schedule);
    } else if (levels <= 64) {
        wideMasks = LabelMasks<uint64_t>(grid, label);
        faceCount = MaskBitPass(grid, wideMasks.data(), lattice, schedule);
    } else {
        uint64_t bit = 0;
        for (int i = 0; i <= cols; ++i) {
            for (int j = 0; j <= rows; ++j)
                for (int k = 0; k <= cn; ++k, ++bit)
                    if (IsVertexUsed(voxels, i, j, k, label)) used[bit >> 6] |= uint64_t(1) << (bit & 63);
            schedule.VertexColumnDone(i);
        }
        for (int i = 0; i < cols; ++i)
            for (int j = 0; j < rows; ++j) {
                const uint8_t* element = grid.Element(j, i);
                for (int k = 0; k < cn; ++k)
                    if (element[k] == label) faceCount += 2 * DefaultCount::Of(OpenSides(grid, j, i, k, label));
            }
    }

    int64_t vertexCount = 0;
    for (size_t w = 0; w < wordCount; ++w) {
        vertexIndex.before[w] = static_cast<int32_t>(std::min<int64_t>(vertexCount, kMaxIndexCount));
        vertexCount += DefaultCount::Of(used[w]);
    }
    if (vertexCount > kMaxIndexCount) ThrowTooMany("vertices", vertexCount);
    if (faceCount > kMaxIndexCount) ThrowTooMany("triangles", faceCount);
    mesh.vertices.resize(static_cast<size_t>(vertexCount));
    mesh.faces.resize(static_cast<size_t>(faceCount));

    // Vertices in lattice order: walk the set bits and advance the lattice column they fall in.
    {
        std::vector<float> xs(static_cast<size_t>(latticeCols)), ys(static_cast<size_t>(latticeRows)),
            zs(static_cast<size_t>(levels));
        for (int i = 0; i <= cols; ++i) xs[i] = static_cast<float>(i * voxelSize);
        for (int j = 0; j <= rows; ++j) ys[j] = static_cast<float>(j * voxelSize);
        for (int k = 0; k < cn; ++k) zs[k] = static_cast<float>(k * layerHeight);
        zs[cn] = static_cast<float>((cn - 1) * layerHeight + lastLayerHeight);
        const Eigen::Matrix3f& turn = detail::MeshTurn();
        Eigen::Vector3f* out = mesh.vertices.data();
        int i = 0, j = 0;
        uint64_t columnStart = 0;
        for (size_t w = 0; w < wordCount; ++w) {
            for (uint64_t bits = used[w]; bits; bits &= bits - 1) {
                const uint64_t bit = (uint64_t(w) << 6) + static_cast<uint64_t>(LowestBit(bits));
                while (bit >= columnStart + lattice.levels) {
                    columnStart += lattice.levels;
                    if (++j == latticeRows) {
                        j = 0;
                        ++i;
                    }
                }
                *out++ = turn * Eigen::Vector3f(xs[i], ys[j], zs[static_cast<size_t>(bit - columnStart)]);
            }
        }
    }

    Face* out = mesh.faces.data();
    if (cn <= 32) {
        out = MaskFacePass(grid, narrowMasks.data(), lattice, out, schedule);
    } else if (levels <= 64) {
        out = MaskFacePass(grid, wideMasks.data(), lattice, out, schedule);
    } else {
        for (int i = 0; i < cols; ++i) {
            for (int j = 0; j < rows; ++j) {
                const uint8_t* element = grid.Element(j, i);
                const uint64_t column = lattice.Bit(i, j);
                for (int k = 0; k < cn; ++k)
                    if (element[k] == label)
                        out = AppendVoxel<DefaultCount>(out, lattice, column + static_cast<uint64_t>(k),
                                                        OpenSides(grid, j, i, k, label));
            }
            schedule.FaceColumnDone(i);
        }
    }
    assert(out == mesh.faces.data() + mesh.faces.size());
    static_cast<void>(out);
    return mesh;
}

}  // namespace Orvanes
