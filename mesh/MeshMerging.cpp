#include "MeshMerging.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace Orvanes {

namespace {

using Face = Eigen::Matrix<int32_t, 3, 1>;

// Three lattice indices a key each: 19 bits apiece keep a point, a cell or a line in 64 bits.
constexpr int kMaxAxisBits = 19;

// Least-significant-digit radix sort of 64-bit keys, carrying an optional payload along. Digits
// that every key shares are skipped, so narrow keys cost few passes.
void RadixSort(std::vector<uint64_t>& keys, std::vector<uint32_t>* payload = nullptr)
{
    const size_t n = keys.size();
    if (n < 2) return;
    uint64_t any = 0, all = ~uint64_t(0);
    for (const uint64_t k : keys) {
        any |= k;
        all &= k;
    }
    const uint64_t varying = any ^ all;
    constexpr int kDigitBits = 11;
    constexpr uint64_t kDigitMask = (uint64_t(1) << kDigitBits) - 1;
    std::vector<uint64_t> keyBuffer(n);
    std::vector<uint32_t> payloadBuffer(payload ? n : 0);
    std::array<size_t, kDigitMask + 2> count;
    for (int shift = 0; shift < 64; shift += kDigitBits) {
        if (((varying >> shift) & kDigitMask) == 0) continue;
        count.fill(0);
        for (const uint64_t k : keys) ++count[((k >> shift) & kDigitMask) + 1];
        std::partial_sum(count.begin(), count.end(), count.begin());
        for (size_t i = 0; i < n; ++i) {
            const size_t at = count[(keys[i] >> shift) & kDigitMask]++;
            keyBuffer[at] = keys[i];
            if (payload) payloadBuffer[at] = (*payload)[i];
        }
        keys.swap(keyBuffer);
        if (payload) payload->swap(payloadBuffer);
    }
}

// The distinct values of one coordinate axis. Values get ids in order of appearance through an
// open-addressing table (a mesh holds few distinct values, so the table stays in cache); the
// lattice index of a value is its rank among them.
class AxisValues {
public:
    AxisValues() : slots(1024, kEmpty) {}

    uint32_t IdOf(float value)
    {
        value += 0.0f;  // -0 and +0 are one position
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        if (bits == lastBits && !values.empty()) return lastId;
        return Lookup(bits, value);
    }

private:
    uint32_t Lookup(uint32_t bits, float value)
    {
        const size_t mask = slots.size() - 1;
        for (size_t h = Hash(bits) & mask;; h = (h + 1) & mask) {
            const uint32_t id = slots[h];
            if (id == kEmpty) {
                slots[h] = static_cast<uint32_t>(values.size());
                values.push_back(value);
                valueBits.push_back(bits);
                if (2 * values.size() > slots.size()) Grow();
                break;
            }
            if (valueBits[id] == bits) {
                lastBits = bits;
                lastId = id;
                return id;
            }
        }
        lastBits = bits;
        lastId = static_cast<uint32_t>(values.size() - 1);
        return lastId;
    }

public:
    // Sorts the values; returns each id's rank among the positions, where values closer than
    // tolerance to the one before are one position.
    std::vector<uint32_t> Ranks(double tolerance)
    {
        std::vector<uint32_t> order(values.size());
        std::iota(order.begin(), order.end(), 0u);
        std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return values[a] < values[b]; });
        std::vector<uint32_t> rank(values.size());
        for (size_t r = 0; r < order.size(); ++r) {
            if (r > 0 && double(values[order[r]]) - double(values[order[r - 1]]) > tolerance) ++positions;
            rank[order[r]] = positions;
        }
        if (!values.empty()) ++positions;
        return rank;
    }

    float LargestMagnitude() const
    {
        float largest = 0.0f;
        for (const float v : values) largest = std::max(largest, std::abs(v));
        return largest;
    }
    uint32_t PositionCount() const { return positions; }

private:
    static constexpr uint32_t kEmpty = std::numeric_limits<uint32_t>::max();
    static size_t Hash(uint32_t bits) { return static_cast<size_t>((uint64_t(bits) * 0x9E3779B97F4A7C15ull) >> 32); }
    void Grow()
    {
        slots.assign(slots.size() * 2, kEmpty);
        const size_t mask = slots.size() - 1;
        for (uint32_t id = 0; id < valueBits.size(); ++id) {
            size_t h = Hash(valueBits[id]) & mask;
            while (slots[h] != kEmpty) h = (h + 1) & mask;
            slots[h] = id;
        }
    }

    std::vector<uint32_t> slots;
    std::vector<float> values;
    std::vector<uint32_t> valueBits;
    uint32_t lastBits = 0, lastId = 0;
    uint32_t positions = 0;
};

using Point = std::array<uint32_t, 3>;  // lattice indices x, y, z

// The two in-plane axes of a plane across axis a: p the lower, q the higher.
constexpr int AxisP(int a) { return a == 0 ? 1 : 0; }
constexpr int AxisQ(int a) { return a == 2 ? 1 : 2; }

// Packing of lattice indices into keys, b bits each.
struct Packing {
    int b = 1;
    uint64_t mask = 1;
    uint64_t PointKey(const Point& p) const { return (uint64_t(p[0]) << (2 * b)) | (uint64_t(p[1]) << b) | p[2]; }
    Point PointOf(uint64_t key) const
    {
        return {uint32_t(key >> (2 * b)), uint32_t((key >> b) & mask), uint32_t(key & mask)};
    }
    // A line along axis: the other two indices in axis order, then the position along it.
    uint64_t LineKey(int axis, const Point& p, uint32_t along) const
    {
        const int o1 = axis == 0 ? 1 : 0, o2 = axis == 2 ? 1 : 2;
        return (((((uint64_t(axis) << b) | p[o1]) << b) | p[o2]) << b) | along;
    }
};

// Half of an axis-aligned rectangle in the plane across axis a: three of its four corners.
// The corner left out is (p == p1) + 2 (q == q1); the two halves of one rectangle leave out
// opposite corners.
struct Half {
    int a = -1;
    bool counterClockwise = false;  // seen with p to the right and q up
    uint32_t plane = 0, p0 = 0, p1 = 0, q0 = 0, q1 = 0;
    int missing = 0;
    bool SameRectangle(const Half& o) const
    {
        return a == o.a && counterClockwise == o.counterClockwise && plane == o.plane && p0 == o.p0 &&
               p1 == o.p1 && q0 == o.q0 && q1 == o.q1 && (missing ^ o.missing) == 3;
    }
};

inline int CornerCode(uint32_t vp, uint32_t vq, uint32_t p1, uint32_t q1) { return int(vp == p1) + 2 * int(vq == q1); }

// The axis is a template argument so the in-plane axes are constants in the tests below.
template <int a>
Half HalfAcross(const Point& v0, const Point& v1, const Point& v2)
{
    Half h;
    constexpr int p = AxisP(a), q = AxisQ(a);
    // Three distinct corners of a rectangle: one pair of them shares p, and another pair q. Three
    // values of p or q (one between the extremes), one value, or a corner twice (the same pair
    // in both) is some other triangle.
    const int sameP = int(v0[p] == v1[p]) | int(v1[p] == v2[p]) << 1 | int(v0[p] == v2[p]) << 2;
    const int sameQ = int(v0[q] == v1[q]) | int(v1[q] == v2[q]) << 1 | int(v0[q] == v2[q]) << 2;
    const auto onePair = [](int same) { return same == 1 || same == 2 || same == 4; };
    if (!onePair(sameP) || !onePair(sameQ) || sameP == sameQ) return h;
    const uint32_t p0 = std::min(v0[p], std::min(v1[p], v2[p])), p1 = std::max(v0[p], std::max(v1[p], v2[p]));
    const uint32_t q0 = std::min(v0[q], std::min(v1[q], v2[q])), q1 = std::max(v0[q], std::max(v1[q], v2[q]));
    const int c0 = CornerCode(v0[p], v0[q], p1, q1), c1 = CornerCode(v1[p], v1[q], p1, q1),
              c2 = CornerCode(v2[p], v2[q], p1, q1);
    h.a = a;
    h.plane = v0[a];
    h.p0 = p0;
    h.p1 = p1;
    h.q0 = q0;
    h.q1 = q1;
    h.missing = 6 - c0 - c1 - c2;
    const int64_t ap = int64_t(v1[p]) - v0[p], aq = int64_t(v1[q]) - v0[q];
    const int64_t bp = int64_t(v2[p]) - v0[p], bq = int64_t(v2[q]) - v0[q];
    h.counterClockwise = ap * bq - aq * bp > 0;
    return h;
}

inline Half HalfOf(const Point& v0, const Point& v1, const Point& v2)
{
    if (v0[2] == v1[2] && v1[2] == v2[2]) return HalfAcross<2>(v0, v1, v2);
    if (v0[0] == v1[0] && v1[0] == v2[0]) return HalfAcross<0>(v0, v1, v2);
    if (v0[1] == v1[1] && v1[1] == v2[1]) return HalfAcross<1>(v0, v1, v2);
    return Half();
}

// A merged rectangle: cells [p0, p1) x [q0, q1) of one oriented plane.
struct Rectangle {
    int a;
    bool counterClockwise;
    uint32_t plane, p0, p1, q0, q1;
};

// The merged rectangles from the cells each oriented plane is covered by: maximal runs along q
// in every row p, stacked across consecutive rows while they span the same columns.
std::vector<Rectangle> Rectangles(const std::vector<uint64_t>& cells, const Packing& pack)
{
    std::vector<Rectangle> rects;
    std::vector<size_t> previous, current;
    uint64_t previousPlane = ~uint64_t(0);
    uint32_t previousRow = 0;
    const size_t n = cells.size();
    for (size_t i = 0; i < n;) {
        const uint64_t plane = cells[i] >> (2 * pack.b);
        const uint32_t row = uint32_t((cells[i] >> pack.b) & pack.mask);
        const bool continues = plane == previousPlane && row == previousRow + 1;
        size_t match = 0;
        current.clear();
        const uint64_t rowKey = cells[i] >> pack.b;
        while (i < n && (cells[i] >> pack.b) == rowKey) {
            const uint32_t q0 = uint32_t(cells[i] & pack.mask);
            uint32_t q1 = q0 + 1;
            for (++i; i < n && cells[i] == cells[i - 1] + 1; ++i) ++q1;
            while (i < n && cells[i] == cells[i - 1]) ++i;  // a cell covered twice counts once
            if (continues) {
                while (match < previous.size() && rects[previous[match]].q0 < q0) ++match;
                if (match < previous.size() && rects[previous[match]].q0 == q0 && rects[previous[match]].q1 == q1) {
                    rects[previous[match]].p1 = row + 1;
                    current.push_back(previous[match]);
                    continue;
                }
            }
            const int orientedAxis = int(plane >> pack.b);
            current.push_back(rects.size());
            rects.push_back({orientedAxis >> 1, (orientedAxis & 1) != 0, uint32_t(plane & pack.mask), row, row + 1, q0, q1});
        }
        previous.swap(current);
        previousPlane = plane;
        previousRow = row;
    }
    return rects;
}

// The corners of the merged rectangles.
void CornerKeys(const std::vector<Rectangle>& rects, const Packing& pack, std::vector<uint64_t>& keys)
{
    for (const Rectangle& r : rects) {
        const int p = AxisP(r.a), q = AxisQ(r.a);
        Point c{};
        c[r.a] = r.plane;
        for (const uint32_t cp : {r.p0, r.p1})
            for (const uint32_t cq : {r.q0, r.q1}) {
                c[p] = cp;
                c[q] = cq;
                keys.push_back(pack.PointKey(c));
            }
    }
}

// An open-addressing table from keys below 2^63 to 32-bit values; nothing is ever removed.
class KeyTable {
public:
    static constexpr uint32_t kMissing = std::numeric_limits<uint32_t>::max();
    explicit KeyTable(size_t expected)
    {
        size_t capacity = 16;
        while (capacity < 2 * expected) capacity *= 2;
        keys.assign(capacity, kNone);
        values.assign(capacity, kMissing);
    }
    uint32_t Find(uint64_t key) const { return values[Probe(key)]; }
    uint32_t& operator[](uint64_t key)  // the caller keeps the count below the expected one
    {
        const size_t at = Probe(key);
        keys[at] = key;
        return values[at];
    }

private:
    static constexpr uint64_t kNone = ~uint64_t(0);
    size_t Probe(uint64_t key) const
    {
        const size_t mask = keys.size() - 1;
        size_t at = size_t((key * 0x9E3779B97F4A7C15ull) >> 20) & mask;
        while (keys[at] != key && keys[at] != kNone) at = (at + 1) & mask;
        return at;
    }
    std::vector<uint64_t> keys;
    std::vector<uint32_t> values;
};

// Unique lattice points and, per axis, which of them lie on each lattice line.
class PointIndex {
public:
    PointIndex(std::vector<uint64_t> pointKeys, const Packing& packing)
        : pack(packing), points(std::move(pointKeys)), ids(0)
    {
        RadixSort(points);
        points.erase(std::unique(points.begin(), points.end()), points.end());
        ids = KeyTable(points.size());
        lines.reserve(points.size() * 3);
        lineIds.reserve(points.size() * 3);
        for (uint32_t id = 0; id < points.size(); ++id) {
            ids[points[id]] = id;
            const Point p = pack.PointOf(points[id]);
            for (int axis = 0; axis < 3; ++axis) {
                lines.push_back(pack.LineKey(axis, p, p[axis]));
                lineIds.push_back(id);
            }
        }
        RadixSort(lines, &lineIds);
        linePlace.resize(lines.size());
        for (uint32_t i = 0; i < lines.size(); ++i) linePlace[3 * size_t(lineIds[i]) + size_t(lines[i] >> (3 * pack.b))] = i;
    }

    uint32_t IdOf(const Point& p) const { return ids.Find(pack.PointKey(p)); }  // KeyTable::kMissing if none
    Point PointAt(uint32_t id) const { return pack.PointOf(points[id]); }
    size_t Size() const { return points.size(); }

    // Positions along axis and ids of the points strictly between two points on a line along axis.
    template <typename Visit>
    void Between(int axis, uint32_t lowId, uint32_t highId, Visit&& visit) const
    {
        for (size_t i = linePlace[3 * size_t(lowId) + size_t(axis)] + 1; i < linePlace[3 * size_t(highId) + size_t(axis)]; ++i)
            visit(uint32_t(lines[i] & pack.mask), lineIds[i]);
    }

private:
    Packing pack;
    std::vector<uint64_t> points;
    KeyTable ids;
    std::vector<uint64_t> lines;
    std::vector<uint32_t> lineIds;
    std::vector<uint32_t> linePlace;  // per point and axis, where the point is in lines
};

// Triangles of merged faces, as point ids, wound as the plane's faces were.
class Emitter {
public:
    Emitter(const PointIndex& pointIndex, std::vector<std::array<uint32_t, 3>>& output, std::vector<uint8_t>& outputPlanes)
        : index(pointIndex), faces(output), planes(outputPlanes), quadrants(pointIndex.Size(), 0)
    {
    }

    // Per point, for each oriented plane (4 bits at 4 (2 axis + counter-clockwise)), which of
    // the four cells around it the rectangles of that plane cover: bit dp + 2 dq, where dp is 1
    // for the cell on the higher side along p.
    const std::vector<uint32_t>& Quadrants() const { return quadrants; }

    // Every point on the rectangle's border is a vertex of it, so no neighbour's corner ends
    // inside one of its edges. The rectangle is cut along the diagonal from (p1, q0) to (p0, q1);
    // each half is a fan of triangles between its two sides, which meet at a right angle, so
    // no triangle is flat however many points the sides hold.
    void Add(const Rectangle& r)
    {
        flip = !r.counterClockwise;
        a = r.a;
        plane = r.plane;
        rect = &r;
        quadrantShift = 4 * (2 * r.a + int(r.counterClockwise));
        // From corner (p0, q0): along p at q0 and along q at p0.
        Chain(AxisP(a), r.q0, r.p0, r.p1, chainP);
        Chain(AxisQ(a), r.p0, r.q0, r.q1, chainQ);
        Zigzag();
        // From corner (p1, q1): back along p at q1 and back along q at p1.
        Chain(AxisP(a), r.q1, r.p1, r.p0, chainP);
        Chain(AxisQ(a), r.p1, r.q1, r.q0, chainQ);
        Zigzag();
    }

private:
    struct Stop {
        uint32_t id;
        uint32_t along;
    };

    // The points from position from to position to (either way) along axis, on the line where
    // the plane's other in-plane axis is at other.
    void Chain(int axis, uint32_t other, uint32_t from, uint32_t to, std::vector<Stop>& chain)
    {
        Point p{};
        p[a] = plane;
        p[axis == AxisP(a) ? AxisQ(a) : AxisP(a)] = other;
        p[axis] = from;
        const uint32_t fromId = index.IdOf(p);
        p[axis] = to;
        const uint32_t toId = index.IdOf(p);
        chain.clear();
        chain.push_back({fromId, 0});
        index.Between(axis, from < to ? fromId : toId, from < to ? toId : fromId, [&](uint32_t t, uint32_t id) {
            chain.push_back({id, from < to ? t - from : from - t});
            Cover(id, axis, t, other);
        });
        if (from > to) std::reverse(chain.begin() + 1, chain.end());
        chain.push_back({toId, from < to ? to - from : from - to});
        Cover(fromId, axis, from, other);
        Cover(toId, axis, to, other);
    }

    // The cells of the rectangle around a point on its border, at position t along axis.
    void Cover(uint32_t id, int axis, uint32_t t, uint32_t other)
    {
        const uint32_t vp = axis == AxisP(a) ? t : other, vq = axis == AxisP(a) ? other : t;
        // Bit 0: the cells below the point along that axis, bit 1: those above.
        const uint32_t dp = (vp > rect->p0 ? 1u : 0u) | (vp < rect->p1 ? 2u : 0u);
        const uint32_t dq = (vq > rect->q0 ? 1u : 0u) | (vq < rect->q1 ? 2u : 0u);
        const uint32_t bits = ((dq & 1u) ? dp : 0u) | ((dq & 2u) ? dp << 2 : 0u);
        quadrants[id] |= bits << quadrantShift;
    }

    void Emit(uint32_t v0, uint32_t v1, uint32_t v2)
    {
        faces.push_back(flip ? std::array<uint32_t, 3>{v0, v2, v1} : std::array<uint32_t, 3>{v0, v1, v2});
        planes.push_back(uint8_t(2 * a + int(!flip)));
    }

    // chainP and chainQ leave one corner at a right angle, counter-clockwise from P to Q.
    void Zigzag()
    {
        const size_t lastP = chainP.size() - 1, lastQ = chainQ.size() - 1;
        const uint64_t lengthP = chainP.back().along, lengthQ = chainQ.back().along;
        Emit(chainP[0].id, chainP[1].id, chainQ[1].id);
        size_t i = 1, j = 1;
        while (i < lastP || j < lastQ) {
            const bool alongP = j == lastQ || (i < lastP && uint64_t(chainP[i + 1].along) * lengthQ <=
                                                                uint64_t(chainQ[j + 1].along) * lengthP);
            if (alongP) {
                Emit(chainP[i].id, chainP[i + 1].id, chainQ[j].id);
                ++i;
            } else {
                Emit(chainP[i].id, chainQ[j + 1].id, chainQ[j].id);
                ++j;
            }
        }
    }

    const PointIndex& index;
    std::vector<std::array<uint32_t, 3>>& faces;
    std::vector<uint8_t>& planes;
    std::vector<uint32_t> quadrants;
    std::vector<Stop> chainP, chainQ;
    const Rectangle* rect = nullptr;
    int quadrantShift = 0;
    bool flip = false;
    int a = 0;
    uint32_t plane = 0;
};

// Ear clipping of a simple polygon (Meisters' two ears: one always exists), given its corners'
// in-plane positions in order and the sign of its winding. A corner is clipped only where it
// turns strictly and no other corner lies in or on the triangle it cuts off, so no triangle is
// flat and no corner ends up inside an edge. Appends triangles of polygon positions; false
// when the polygon turns out not to be simple.
bool ClipEars(const std::vector<std::array<int64_t, 2>>& at, int64_t sign, std::vector<std::array<uint32_t, 3>>& out)
{
    const uint32_t m = uint32_t(at.size());
    std::vector<uint32_t> prev(m), next(m);
    for (uint32_t i = 0; i < m; ++i) {
        prev[i] = (i + m - 1) % m;
        next[i] = (i + 1) % m;
    }
    const auto turn = [&](uint32_t i, uint32_t j, uint32_t k) {
        return sign * ((at[j][0] - at[i][0]) * (at[k][1] - at[i][1]) - (at[j][1] - at[i][1]) * (at[k][0] - at[i][0]));
    };
    uint32_t remaining = m, i = 0, misses = 0;
    while (remaining > 3) {
        const uint32_t a = prev[i], c = next[i];
        bool ear = turn(a, i, c) > 0;
        for (uint32_t j = next[c]; ear && j != a; j = next[j]) ear = !(turn(a, i, j) >= 0 && turn(i, c, j) >= 0 && turn(c, a, j) >= 0);
        if (!ear) {
            if (++misses > remaining) return false;
            i = c;
            continue;
        }
        out.push_back({a, i, c});
        next[a] = c;
        prev[c] = a;
        --remaining;
        misses = 0;
        i = a;
    }
    if (turn(prev[i], i, next[i]) <= 0) return false;
    out.push_back({prev[i], i, next[i]});
    return true;
}

// Lattice points that some rectangle has on its border but that no region of coplanar faces
// turns at, and that no kept triangle uses: inside a region, or where two regions meet along
// a straight crease. Such a point is a vertex only because of where the rectangles were cut,
// and every triangulation of a closed surface has two triangles per vertex (Euler), so each one
// dropped saves two. Its triangles in each plane are replaced by a triangulation of the polygon
// around it; along a crease both planes drop it together, so their shared edge stays one edge.
class PointDropper {
public:
    PointDropper(const PointIndex& pointIndex, std::vector<std::array<uint32_t, 3>>& mergedFaces,
                 std::vector<uint8_t>& facePlanes)
        : index(pointIndex), faces(mergedFaces), planes(facePlanes)
    {
    }

    void Run(const std::vector<uint32_t>& quadrants, const std::vector<bool>& keptPoint)
    {
        std::vector<uint32_t> candidates;
        slotOf.assign(index.Size(), kNone);
        for (uint32_t point = 0; point < index.Size(); ++point)
            if (!keptPoint[point] && Droppable(quadrants[point])) {
                slotOf[point] = uint32_t(candidates.size());
                candidates.push_back(point);
            }
        if (candidates.empty()) return;
        head.assign(candidates.size(), kNone);
        links.clear();
        alive.assign(faces.size(), true);
        for (uint32_t t = 0; t < faces.size(); ++t) Register(t);
        for (current = 0; current < candidates.size(); ++current) Drop(candidates[current]);
        size_t kept = 0;
        for (size_t t = 0; t < faces.size(); ++t)
            if (alive[t]) {
                faces[kept] = faces[t];
                planes[kept++] = planes[t];
            }
        faces.resize(kept);
        planes.resize(kept);
    }

private:
    static constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();
    // Stars with more triangles than this keep their point: clipping takes up to the cube of the count.
    static constexpr size_t kMaxStar = 64;

    // Whether the cells around a point, per oriented plane, make it needless: all four of one
    // plane and nothing else, or a straight border in two planes across different axes whose
    // borders run along the same line. Anything else (a turn, two solids touching, two
    // orientations of one plane) keeps the point.
    static bool Droppable(uint32_t quadrants)
    {
        int planeCount = 0, lineAxis = -1, firstAxis = -1;
        bool full = false;
        for (int oriented = 0; oriented < 6; ++oriented) {
            const uint32_t m = (quadrants >> (4 * oriented)) & 15u;
            if (m == 0) continue;
            ++planeCount;
            const int a = oriented / 2;
            full = m == 15;
            int along = -1;
            if (m == 3 || m == 12) along = AxisP(a);  // the cells on one side in q: the border runs along p
            if (m == 5 || m == 10) along = AxisQ(a);
            if (planeCount == 1) {
                firstAxis = a;
                lineAxis = along;
            } else if (along < 0 || along != lineAxis || a == firstAxis) {
                return false;
            }
        }
        return (planeCount == 1 && full) || (planeCount == 2 && lineAxis >= 0);
    }

    // Remembers triangle t for the candidates among its corners not dropped yet.
    void Register(uint32_t t)
    {
        for (const uint32_t v : faces[t]) {
            const uint32_t slot = slotOf[v];
            if (slot == kNone || slot < current) continue;
            links.push_back({t, head[slot]});
            head[slot] = uint32_t(links.size() - 1);
        }
    }

    void Drop(uint32_t point)
    {
        star.clear();
        for (uint32_t l = head[slotOf[point]]; l != kNone; l = links[l].second) {
            const uint32_t t = links[l].first;
            if (alive[t] && (faces[t][0] == point || faces[t][1] == point || faces[t][2] == point)) star.push_back(t);
        }
        std::sort(star.begin(), star.end());
        star.erase(std::unique(star.begin(), star.end()), star.end());
        if (star.empty() || star.size() > kMaxStar) return;
        // The star's triangles by plane: at most two planes, each one fan around the point.
        std::stable_sort(star.begin(), star.end(), [&](uint32_t x, uint32_t y) { return planes[x] < planes[y]; });
        const bool border = planes[star.front()] != planes[star.back()];
        replacement.clear();
        replacedPlane.clear();
        for (size_t begin = 0; begin < star.size();) {
            size_t end = begin + 1;
            while (end < star.size() && planes[star[end]] == planes[star[begin]]) ++end;
            if (!Refill(point, begin, end, border)) return;
            begin = end;
        }
        // Each plane's new triangles take the first of its old slots; the rest die.
        size_t r = 0;
        for (size_t s = 0; s < star.size(); ++s) {
            const uint32_t t = star[s];
            if (r < replacement.size() && replacedPlane[r] == planes[t]) {
                faces[t] = replacement[r++];
                Register(t);
            } else {
                alive[t] = false;
            }
        }
    }

    // Triangulates the polygon around point left by the star's triangles [begin, end) of one
    // plane, appending to replacement; false when they are not one fan around it, closed or
    // (border) ending on both sides of it.
    bool Refill(uint32_t point, size_t begin, size_t end, bool border)
    {
        const int a = planes[star[begin]] / 2;
        const Point centre = index.PointAt(point);
        auto inPlane = [&](uint32_t id) {
            const Point v = index.PointAt(id);
            return std::array<int64_t, 2>{int64_t(v[AxisP(a)]) - centre[AxisP(a)], int64_t(v[AxisQ(a)]) - centre[AxisQ(a)]};
        };
        // The fan's outer edges, each from the corner after the point to the one before it.
        ring.clear();
        int64_t sign = 0;
        for (size_t s = begin; s < end; ++s) {
            const auto& f = faces[star[s]];
            const int k = f[0] == point ? 0 : f[1] == point ? 1 : 2;
            const uint32_t from = f[(k + 1) % 3], to = f[(k + 2) % 3];
            const auto u = inPlane(from), w = inPlane(to);
            const int64_t cross = u[0] * w[1] - u[1] * w[0];
            if (cross == 0 || (sign != 0 && (cross > 0) != (sign > 0))) return false;
            sign = cross > 0 ? 1 : -1;
            ring.push_back({from, to});
        }
        // Chain the edges from the one whose start no edge ends at (a border fan), else any.
        const size_t n = ring.size();
        size_t first = 0;
        for (size_t i = 0; i < n; ++i)
            if (std::none_of(ring.begin(), ring.end(), [&](const auto& e) { return e.second == ring[i].first; })) first = i;
        polygon.assign(1, ring[first].first);
        uint32_t at = ring[first].second;
        for (size_t step = 1; step < n; ++step) {
            polygon.push_back(at);
            const auto next = std::find_if(ring.begin(), ring.end(), [&](const auto& e) { return e.first == at; });
            if (next == ring.end()) return false;
            at = next->second;
        }
        if (!border) {
            if (at != polygon.front()) return false;
        } else {
            // A border fan: the ends lie on opposite sides of the point on one straight line,
            // which becomes the edge between them.
            polygon.push_back(at);
            const auto u = inPlane(polygon.front()), w = inPlane(at);
            if (u[0] * w[1] - u[1] * w[0] != 0 || u[0] * w[0] + u[1] * w[1] >= 0) return false;
        }
        distinct = polygon;
        std::sort(distinct.begin(), distinct.end());
        if (std::adjacent_find(distinct.begin(), distinct.end()) != distinct.end()) return false;
        coordinates.clear();
        for (const uint32_t id : polygon) coordinates.push_back(inPlane(id));
        clipped.clear();
        if (!ClipEars(coordinates, sign, clipped)) return false;
        for (const auto& c : clipped) {
            replacement.push_back({polygon[c[0]], polygon[c[1]], polygon[c[2]]});
            replacedPlane.push_back(planes[star[begin]]);
        }
        return true;
    }

    const PointIndex& index;
    std::vector<std::array<uint32_t, 3>>& faces;
    std::vector<uint8_t>& planes;
    std::vector<uint32_t> slotOf, head;
    std::vector<std::pair<uint32_t, uint32_t>> links;  // triangle, next link of the same candidate
    std::vector<bool> alive;
    uint32_t current = 0;
    std::vector<uint32_t> star, polygon, distinct;
    std::vector<std::pair<uint32_t, uint32_t>> ring;
    std::vector<std::array<int64_t, 2>> coordinates;
    std::vector<std::array<uint32_t, 3>> clipped, replacement;
    std::vector<uint8_t> replacedPlane;
};

// Union-find over triangle corners.
class Corners {
public:
    explicit Corners(size_t count) : parent(count) { std::iota(parent.begin(), parent.end(), 0u); }
    uint32_t Root(uint32_t c)
    {
        while (parent[c] != c) c = parent[c] = parent[parent[c]];
        return c;
    }
    void Join(uint32_t x, uint32_t y)
    {
        x = Root(x);
        y = Root(y);
        if (x != y) parent[std::max(x, y)] = std::min(x, y);
    }

private:
    std::vector<uint32_t> parent;
};

// The triangles reordered so that where several share an edge, each comes right after, or
// right before, the one it is paired with there. Readers of files without shared vertices (STL)
// pair the triangles at an edge in the order they meet them; this order makes them pair the
// triangles of one solid, as the mesh does.
std::vector<Face> PartnersFirst(std::vector<Face> faces, std::vector<std::pair<uint32_t, uint32_t>> partners)
{
    if (partners.empty()) return faces;
    std::sort(partners.begin(), partners.end());
    std::vector<Face> ordered;
    ordered.reserve(faces.size());
    std::vector<bool> placed(faces.size(), false);
    std::vector<uint32_t> waiting;
    for (uint32_t t = 0; t < faces.size(); ++t) {
        if (placed[t]) continue;
        placed[t] = true;
        ordered.push_back(faces[t]);
        waiting.assign(1, t);
        // Breadth first: all partners of a triangle go out before any partner of theirs.
        for (size_t next = 0; next < waiting.size(); ++next) {
            const uint32_t u = waiting[next];
            for (auto it = std::lower_bound(partners.begin(), partners.end(), std::make_pair(u, uint32_t(0)));
                 it != partners.end() && it->first == u; ++it)
                if (!placed[it->second]) {
                    placed[it->second] = true;
                    ordered.push_back(faces[it->second]);
                    waiting.push_back(it->second);
                }
        }
    }
    return ordered;
}

// Where two solids touch along an edge but meet again around both its ends, the sheets at the
// edge share both end vertices, and the edge would run twice between them. Each pair of
// triangles there gets a vertex of its own in the edge's middle instead (the same point, so the
// solid does not change): the two triangles split in four, and every edge joins two triangles.
// pairs: the half-edges paired at edges four triangles share; partners gains the new pairings.
void PartEdgesSharedTwice(OrvaneMesh& mesh, const std::vector<std::pair<uint32_t, uint32_t>>& pairs,
                          std::vector<std::pair<uint32_t, uint32_t>>& partners)
{
    if (pairs.empty()) return;
    const auto edgeOf = [&](uint32_t h) {
        const Face& f = mesh.faces[h / 3];
        return std::make_pair(f[int(h % 3)], f[int((h % 3 + 1) % 3)]);
    };
    std::vector<std::pair<int32_t, int32_t>> edges;
    for (const auto& pair : pairs) edges.push_back(edgeOf(pair.first));
    std::vector<std::pair<int32_t, int32_t>> sorted = edges;
    std::sort(sorted.begin(), sorted.end());
    // The triangles each original one became, to find an edge again after an earlier split.
    std::vector<std::vector<uint32_t>> pieces(mesh.faces.size());
    const auto find = [&](uint32_t t, int32_t v, int32_t w, uint32_t& piece, int& corner) {
        const auto holds = [&](uint32_t candidate) {
            for (int k = 0; k < 3; ++k)
                if (mesh.faces[candidate][k] == v && mesh.faces[candidate][(k + 1) % 3] == w) {
                    piece = candidate;
                    corner = k;
                    return true;
                }
            return false;
        };
        return holds(t) || std::any_of(pieces[t].begin(), pieces[t].end(), holds);
    };
    for (size_t k = 0; k < pairs.size(); ++k) {
        const auto [v, w] = edges[k];
        const auto range = std::equal_range(sorted.begin(), sorted.end(), edges[k]);
        if (range.second - range.first < 2) continue;
        uint32_t t1 = 0, t2 = 0;
        int c1 = 0, c2 = 0;
        if (!find(pairs[k].first / 3, v, w, t1, c1) || !find(pairs[k].second / 3, w, v, t2, c2)) continue;
        const int32_t m = static_cast<int32_t>(mesh.vertices.size());
        mesh.vertices.push_back((mesh.vertices[size_t(v)] + mesh.vertices[size_t(w)]) * 0.5f);
        const int32_t x = mesh.faces[t1][(c1 + 2) % 3], y = mesh.faces[t2][(c2 + 2) % 3];
        const auto added1 = static_cast<uint32_t>(mesh.faces.size()), added2 = added1 + 1;
        mesh.faces[t1] = Face(v, m, x);
        mesh.faces[t2] = Face(w, m, y);
        mesh.faces.push_back(Face(m, w, x));
        mesh.faces.push_back(Face(m, v, y));
        pieces[pairs[k].first / 3].push_back(added1);
        pieces[pairs[k].second / 3].push_back(added2);
        pieces.resize(mesh.faces.size());
        for (const auto& [a, b] : {std::make_pair(t1, added2), std::make_pair(added1, t2)}) {
            partners.push_back({a, b});
            partners.push_back({b, a});
        }
    }
}

// Signed axis (+-1, +-2, +-3) of a triangle's normal, or 0 when it is not axis-aligned.
int NormalAxis(const Point& v0, const Point& v1, const Point& v2)
{
    int64_t d1[3], d2[3];
    for (int k = 0; k < 3; ++k) {
        d1[k] = int64_t(v1[k]) - v0[k];
        d2[k] = int64_t(v2[k]) - v0[k];
    }
    const int64_t n[3] = {d1[1] * d2[2] - d1[2] * d2[1], d1[2] * d2[0] - d1[0] * d2[2], d1[0] * d2[1] - d1[1] * d2[0]};
    int found = 0;
    for (int k = 0; k < 3; ++k)
        if (n[k] != 0) {
            if (found) return 0;
            found = n[k] > 0 ? k + 1 : -(k + 1);
        }
    return found;
}

// Signed axis toward which a triangle extends away from its edge from v to w (along the axis
// that is neither the edge's nor the normal's), or 0.
int ExtendsToward(const Point& v, const Point& w, const Point& third, int normalAxis)
{
    for (int k = 0; k < 3; ++k) {
        if (k + 1 == std::abs(normalAxis) || v[k] != w[k]) continue;
        if (third[k] != v[k]) return third[k] > v[k] ? k + 1 : -(k + 1);
    }
    return 0;
}

// The layout the height-map mesher writes, recognised so that its body merges along the grid:
// two vertices per pixel (top, then bottom) row by row; per cell of four pixels two top and two
// bottom triangles; then the side walls. rows is 0 for any other mesh.
struct HeightGrid {
    size_t rows = 0, cols = 0;
    size_t Top(size_t r, size_t c) const { return 2 * (r * cols + c); }
};

HeightGrid HeightMapLayout(const OrvaneMesh& mesh, const std::vector<Point>& lattice)
{
    const HeightGrid none;
    const size_t vertexCount = mesh.vertices.size();
    if (mesh.faces.empty() || mesh.faces[0][0] < 4 || mesh.faces[0][0] % 2 != 0) return none;
    HeightGrid grid;
    grid.cols = size_t(mesh.faces[0][0]) / 2;
    grid.rows = vertexCount / (2 * grid.cols);
    const size_t rows = grid.rows, cols = grid.cols;
    if (rows < 2 || 2 * rows * cols != vertexCount ||
        mesh.faces.size() != 4 * (rows - 1) * (cols - 1) + 4 * (rows - 1) + 4 * (cols - 1))
        return none;
    const Face* f = mesh.faces.data();
    const auto next = [&f](size_t x, size_t y, size_t z) {
        const Face& face = *f++;
        return size_t(face[0]) == x && size_t(face[1]) == y && size_t(face[2]) == z;
    };
    for (size_t r = 0; r + 1 < rows; ++r)
        for (size_t c = 0; c + 1 < cols; ++c) {
            const size_t a = grid.Top(r + 1, c), b = grid.Top(r, c), cc = b + 2;
            if (!next(a, cc, b) || !next(a + 2, cc, a) || !next(b + 1, cc + 1, a + 1) || !next(a + 1, cc + 1, a + 3))
                return none;
        }
    for (size_t r = 0; r + 1 < rows; ++r) {
        const size_t t0 = grid.Top(r, 0), t1 = grid.Top(r + 1, 0), u0 = grid.Top(r, cols - 1), u1 = grid.Top(r + 1, cols - 1);
        if (!next(t0, t0 + 1, t1) || !next(t1, t0 + 1, t1 + 1) || !next(u1, u0 + 1, u0) || !next(u1 + 1, u0 + 1, u1))
            return none;
    }
    for (size_t c = 0; c + 1 < cols; ++c) {
        const size_t v0 = grid.Top(0, c), v1 = grid.Top(0, c + 1), w0 = grid.Top(rows - 1, c), w1 = grid.Top(rows - 1, c + 1);
        if (!next(v1, v0 + 1, v0) || !next(v1 + 1, v0 + 1, v1) || !next(w0, w0 + 1, w1) || !next(w1, w0 + 1, w1 + 1))
            return none;
    }
    // Every column on one lattice line and every row on another, next to each other in order,
    // all bottoms in one plane and every top on the same side of it: a grid of unit cells over
    // one solid, where each point is one vertex.
    const uint32_t bottom = lattice[1][2];
    const bool above = lattice[0][2] > bottom;
    const auto step = [](uint32_t from, uint32_t to, int64_t& direction) {
        const int64_t d = int64_t(to) - int64_t(from);
        if (direction == 0 && (d == 1 || d == -1)) direction = d;
        return direction != 0 && d == direction;
    };
    int64_t alongColumns = 0, alongRows = 0;
    for (size_t r = 0; r < rows; ++r)
        for (size_t c = 0; c < cols; ++c) {
            const Point &t = lattice[grid.Top(r, c)], &b = lattice[grid.Top(r, c) + 1];
            const Point &first = lattice[grid.Top(0, c)], &left = lattice[grid.Top(r, 0)];
            if (t[0] != first[0] || b[0] != t[0] || t[1] != left[1] || b[1] != t[1] || b[2] != bottom ||
                t[2] == bottom || (t[2] > bottom) != above)
                return none;
            if ((r == 0 && c > 0 && !step(lattice[grid.Top(0, c - 1)][0], t[0], alongColumns)) ||
                (c == 0 && r > 0 && !step(lattice[grid.Top(r - 1, 0)][1], t[1], alongRows)))
                return none;
        }
    return grid;
}

// The end of the merge for a height-map body: every lattice point is one input vertex and the
// surface is one solid, so triangles take input vertices directly and no point of a kept
// triangle is looked up or joined across edges; only the points on merged rectangles are
// indexed. Gives the bytes the general path gives; false (nothing done) if a rectangle corner
// is not an input vertex.
bool MergeAlongGrid(const OrvaneMesh& mesh, const HeightGrid& grid, const std::vector<Point>& lattice,
                    const Packing& pack, const std::vector<Rectangle>& rects, const std::vector<uint32_t>& kept,
                    const std::vector<uint8_t>& onRectangle, OrvaneMesh& merged)
{
    std::vector<uint8_t> keptVertex(mesh.vertices.size(), 0);
    for (const uint32_t t : kept)
        for (int k = 0; k < 3; ++k) keptVertex[size_t(mesh.faces[t][k])] = 1;
    std::vector<uint64_t> pointKeys;
    CornerKeys(rects, pack, pointKeys);
    for (size_t v = 0; v < mesh.vertices.size(); ++v)
        if (keptVertex[v] && onRectangle[v]) pointKeys.push_back(pack.PointKey(lattice[v]));
    const PointIndex points(std::move(pointKeys), pack);

    // Lattice positions back to columns and rows.
    std::vector<uint32_t> columnAt(size_t(pack.mask) + 1), rowAt(size_t(pack.mask) + 1);
    for (size_t c = 0; c < grid.cols; ++c) columnAt[lattice[grid.Top(0, c)][0]] = uint32_t(c);
    for (size_t r = 0; r < grid.rows; ++r) rowAt[lattice[grid.Top(r, 0)][1]] = uint32_t(r);
    std::vector<uint32_t> vertexOf(points.Size());
    std::vector<bool> keptPoint(points.Size());
    for (uint32_t id = 0; id < points.Size(); ++id) {
        const Point p = points.PointAt(id);
        const size_t top = grid.Top(rowAt[p[1]], columnAt[p[0]]);
        if (lattice[top][0] != p[0] || lattice[top][1] != p[1]) return false;
        if (lattice[top][2] == p[2]) vertexOf[id] = uint32_t(top);
        else if (lattice[top + 1][2] == p[2]) vertexOf[id] = uint32_t(top + 1);
        else return false;
        keptPoint[id] = keptVertex[vertexOf[id]] != 0;
    }
    keptVertex = {};

    std::vector<std::array<uint32_t, 3>> faces;
    {
        std::vector<uint8_t> planes;
        Emitter emitter(points, faces, planes);
        for (const Rectangle& r : rects) emitter.Add(r);
        PointDropper(points, faces, planes).Run(emitter.Quadrants(), keptPoint);
    }
    if (faces.size() + kept.size() > size_t(std::numeric_limits<int32_t>::max()) / 3)
        throw std::length_error("MergeCoplanarFaces: too many triangles for 32-bit indices");
    // Vertices numbered in order of first use, with the coordinates of their input vertex.
    std::vector<int32_t> numberOf(mesh.vertices.size(), -1);
    std::vector<uint32_t> used;
    used.reserve(std::min(mesh.vertices.size(), 3 * (faces.size() + kept.size())));
    const auto number = [&](uint32_t v) {
        int32_t& n = numberOf[v];
        if (n < 0) {
            n = static_cast<int32_t>(used.size());
            used.push_back(v);
        }
        return n;
    };
    merged.faces.resize(faces.size() + kept.size());
    Face* out = merged.faces.data();
    // Corner by corner: the order of first use is the numbering.
    for (const auto& f : faces) {
        for (int k = 0; k < 3; ++k) (*out)[k] = number(vertexOf[f[k]]);
        ++out;
    }
    for (const uint32_t t : kept) {
        for (int k = 0; k < 3; ++k) (*out)[k] = number(uint32_t(mesh.faces[t][k]));
        ++out;
    }
    merged.vertices.resize(used.size());
    for (size_t i = 0; i < used.size(); ++i) merged.vertices[i] = mesh.vertices[used[i]];
    return true;
}

}  // namespace

OrvaneMesh MergeCoplanarFaces(const OrvaneMesh& mesh)
{
    OrvaneMesh merged;
    const size_t vertexCount = mesh.vertices.size(), faceCount = mesh.faces.size();
    if (faceCount == 0) return merged;

    // Lattice indices of every referenced vertex.
    std::vector<uint8_t> referenced(vertexCount, 0);
    for (const Face& f : mesh.faces)
        for (int k = 0; k < 3; ++k) {
            const int32_t v = f[k];
            if (v < 0 || size_t(v) >= vertexCount)
                throw std::invalid_argument("MergeCoplanarFaces: face index " + std::to_string(v) +
                                            " outside the " + std::to_string(vertexCount) + " vertices");
            referenced[size_t(v)] = 1;
        }
    std::vector<Point> lattice(vertexCount);
    AxisValues axes[3];
    for (size_t v = 0; v < vertexCount; ++v) {
        if (!referenced[v]) continue;
        const Eigen::Vector3f& p = mesh.vertices[v];
        if (!p.allFinite()) throw std::invalid_argument("MergeCoplanarFaces: vertex " + std::to_string(v) + " is not finite");
        for (int a = 0; a < 3; ++a) lattice[v][a] = axes[a].IdOf(p[a]);
    }
    // The meshers turn every vertex with a rotation whose rounding leaks a few parts in 10^8 of
    // one coordinate into another, so points of one lattice plane differ in their last bits;
    // real lattice steps are many orders of magnitude apart from that.
    const double largest = std::max({axes[0].LargestMagnitude(), axes[1].LargestMagnitude(), axes[2].LargestMagnitude()});
    const double tolerance = 1e-6 * largest;
    Packing pack;
    std::vector<uint32_t> ranks[3];
    for (int a = 0; a < 3; ++a) {
        ranks[a] = axes[a].Ranks(tolerance);
        while ((uint64_t(1) << pack.b) < axes[a].PositionCount()) ++pack.b;
    }
    if (pack.b > kMaxAxisBits)
        throw std::length_error("MergeCoplanarFaces: more than 2^" + std::to_string(kMaxAxisBits) +
                                " distinct coordinates along one axis");
    pack.mask = (uint64_t(1) << pack.b) - 1;
    // One coordinate per position, for lattice points no input vertex stands on (a rectangle's
    // corner inside another's side, in meshes that are not the meshers' unit faces).
    std::vector<float> coordinateOf[3];
    for (int a = 0; a < 3; ++a) coordinateOf[a].resize(axes[a].PositionCount());
    for (size_t v = 0; v < vertexCount; ++v)
        if (referenced[v])
            for (int a = 0; a < 3; ++a) {
                lattice[v][a] = ranks[a][lattice[v][a]];
                coordinateOf[a][lattice[v][a]] = mesh.vertices[v][a];
            }
    auto pointOf = [&](int32_t v) -> const Point& { return lattice[size_t(v)]; };
    const HeightGrid grid = HeightMapLayout(mesh, lattice);
    // For a height-map body: the vertices of faces merged into rectangles.
    std::vector<uint8_t> onRectangle(grid.rows > 0 ? vertexCount : 0, 0);
    const auto onMerged = [&](size_t t) {
        if (!onRectangle.empty())
            for (int k = 0; k < 3; ++k) onRectangle[size_t(mesh.faces[t][k])] = 1;
    };

    // Rectangles split in two, found as consecutive halves (the meshers write them so) or,
    // failing that, among the rest; their cells, and the triangles kept as they are.
    std::vector<uint64_t> cells;
    cells.reserve(faceCount / 2);
    std::vector<uint32_t> kept;  // faces kept as they are
    std::vector<std::pair<Half, size_t>> loose;
    auto rasterise = [&](const Half& h) {
        const uint64_t oriented = uint64_t(2 * h.a + int(h.counterClockwise));
        const uint64_t plane = (oriented << pack.b) | h.plane;
        for (uint32_t p = h.p0; p < h.p1; ++p)
            for (uint32_t q = h.q0; q < h.q1; ++q) cells.push_back((((plane << pack.b) | p) << pack.b) | q);
    };
    size_t firstFace = 0;
    Rectangle bottom{};
    if (grid.rows > 0) {
        // Cell by cell: the top merges where its four corners stand level; a top triangle level
        // on its own is half a rectangle whose other half is not there. The bottom is one
        // rectangle under the whole grid.
        firstFace = 4 * (grid.rows - 1) * (grid.cols - 1);
        const auto halfOf = [&](size_t t) {
            const Face& f = mesh.faces[t];
            return HalfOf(pointOf(f[0]), pointOf(f[1]), pointOf(f[2]));
        };
        const auto level = [&](size_t t) {
            const Face& f = mesh.faces[t];
            return pointOf(f[0])[2] == pointOf(f[1])[2] && pointOf(f[1])[2] == pointOf(f[2])[2];
        };
        const Half corner = halfOf(2);
        const uint32_t firstX = lattice[0][0], lastX = lattice[grid.Top(0, grid.cols - 1)][0];
        const uint32_t firstY = lattice[0][1], lastY = lattice[grid.Top(grid.rows - 1, 0)][1];
        bottom = {corner.a, corner.counterClockwise, corner.plane, std::min(firstX, lastX), std::max(firstX, lastX),
                  std::min(firstY, lastY), std::max(firstY, lastY)};
        for (size_t r = 0, t = 0; r + 1 < grid.rows; ++r)
            for (size_t c = 0; c + 1 < grid.cols; ++c, t += 4) {
                if (level(t) && level(t + 1)) {
                    rasterise(halfOf(t));
                    onMerged(t);
                    onMerged(t + 1);
                } else {
                    for (const size_t u : {t, t + 1}) {
                        if (level(u)) loose.emplace_back(halfOf(u), u);
                        else kept.push_back(uint32_t(u));
                    }
                }
                onMerged(t + 2);
                onMerged(t + 3);
            }
    }
    Half next;
    bool lookedAhead = false;  // next is face t's
    for (size_t t = firstFace; t < faceCount; ++t) {
        const Face& f = mesh.faces[t];
        const Half h = lookedAhead ? next : HalfOf(pointOf(f[0]), pointOf(f[1]), pointOf(f[2]));
        lookedAhead = false;
        if (h.a < 0) {
            kept.push_back(uint32_t(t));
            continue;
        }
        if (t + 1 < faceCount) {
            const Face& g = mesh.faces[t + 1];
            next = HalfOf(pointOf(g[0]), pointOf(g[1]), pointOf(g[2]));
            if (next.a >= 0 && h.SameRectangle(next)) {
                rasterise(h);
                onMerged(t);
                onMerged(t + 1);
                ++t;
                continue;
            }
            lookedAhead = true;
        }
        loose.emplace_back(h, t);
    }
    // Halves of one rectangle pair up by the corners they leave out: 0 with 3, 1 with 2.
    auto rectangleOf = [](const Half& h) { return std::tie(h.a, h.counterClockwise, h.plane, h.p0, h.p1, h.q0, h.q1); };
    std::sort(loose.begin(), loose.end(), [&](const auto& x, const auto& y) {
        return std::make_tuple(rectangleOf(x.first), x.first.missing, x.second) <
               std::make_tuple(rectangleOf(y.first), y.first.missing, y.second);
    });
    for (size_t i = 0; i < loose.size();) {
        size_t j = i + 1;
        while (j < loose.size() && rectangleOf(loose[j].first) == rectangleOf(loose[i].first)) ++j;
        std::vector<size_t> byMissing[4];
        for (size_t k = i; k < j; ++k) byMissing[loose[k].first.missing].push_back(loose[k].second);
        for (int m = 0; m < 2; ++m) {
            const std::vector<size_t>&one = byMissing[m], &other = byMissing[3 - m];
            const size_t pairs = std::min(one.size(), other.size());
            for (size_t k = 0; k < pairs; ++k) {
                rasterise(loose[i].first);
                onMerged(one[k]);
                onMerged(other[k]);
            }
            for (const std::vector<size_t>* rest : {&one, &other})
                for (size_t k = pairs; k < rest->size(); ++k) {
                    kept.push_back(uint32_t((*rest)[k]));
                }
        }
        i = j;
    }
    loose = {};
    RadixSort(cells);
    std::vector<Rectangle> rects = Rectangles(cells, pack);
    cells = {};
    if (grid.rows > 0) {
        // The bottom is one rectangle, after the planes that sort before its own.
        const auto planeKey = [](const Rectangle& r) { return std::make_tuple(2 * r.a + int(r.counterClockwise), r.plane); };
        rects.insert(std::find_if(rects.begin(), rects.end(), [&](const Rectangle& r) { return planeKey(r) > planeKey(bottom); }),
                     bottom);
    }

    if (grid.rows > 0 && MergeAlongGrid(mesh, grid, lattice, pack, rects, kept, onRectangle, merged)) return merged;

    // Every corner and every kept vertex is a vertex of each merged face whose border it lies on.
    std::vector<uint64_t> pointKeys;
    pointKeys.reserve(4 * rects.size() + kept.size());
    CornerKeys(rects, pack, pointKeys);
    // A vertex of many kept faces (the slopes of a height map) goes in once.
    std::vector<bool> keptVertex(vertexCount, false);
    for (const uint32_t t : kept)
        for (int k = 0; k < 3; ++k) {
            const auto v = size_t(mesh.faces[t][k]);
            if (!keptVertex[v]) pointKeys.push_back(pack.PointKey(lattice[v]));
            keptVertex[v] = true;
        }
    keptVertex = {};
    const PointIndex points(std::move(pointKeys), pack);

    std::vector<std::array<uint32_t, 3>> faces;
    {
        std::vector<uint8_t> planes;
        Emitter emitter(points, faces, planes);
        for (const Rectangle& r : rects) emitter.Add(r);
        std::vector<bool> keptPoint(points.Size(), false);
        for (const uint32_t t : kept)
            for (int k = 0; k < 3; ++k) keptPoint[points.IdOf(pointOf(mesh.faces[t][k]))] = true;
        PointDropper(points, faces, planes).Run(emitter.Quadrants(), keptPoint);
    }
    for (const uint32_t t : kept) {
        const Face& f = mesh.faces[t];
        faces.push_back({points.IdOf(pointOf(f[0])), points.IdOf(pointOf(f[1])), points.IdOf(pointOf(f[2]))});
    }
    if (faces.size() > size_t(std::numeric_limits<int32_t>::max()) / 3)
        throw std::length_error("MergeCoplanarFaces: too many triangles for 32-bit indices");

    // Corners of triangles that meet across an edge are one vertex. An edge four triangles share
    // (two solids touching along it) pairs each triangle with the one of its own solid: the
    // solid lies on the side of a face opposite its normal, so the partner of a face extends
    // against that normal.
    std::vector<uint64_t> edges;
    std::vector<uint32_t> halfEdges;
    edges.reserve(3 * faces.size());
    halfEdges.reserve(3 * faces.size());
    for (uint32_t t = 0; t < faces.size(); ++t)
        for (uint32_t k = 0; k < 3; ++k) {
            const uint32_t v = faces[t][k], w = faces[t][(k + 1) % 3];
            edges.push_back((uint64_t(std::min(v, w)) << 32) | std::max(v, w));
            halfEdges.push_back(3 * t + k);
        }
    RadixSort(edges, &halfEdges);
    Corners corners(3 * faces.size());
    std::vector<std::pair<uint32_t, uint32_t>> partners;  // triangles paired across a shared edge
    std::vector<std::pair<uint32_t, uint32_t>> sharedEdgePairs;  // half-edges paired where four meet
    auto start = [&](uint32_t h) { return faces[h / 3][h % 3]; };
    auto join = [&](uint32_t h1, uint32_t h2) {  // h1 runs v to w, h2 w to v
        corners.Join(h1, 3 * (h2 / 3) + (h2 % 3 + 1) % 3);
        corners.Join(3 * (h1 / 3) + (h1 % 3 + 1) % 3, h2);
    };
    for (size_t i = 0; i < edges.size();) {
        size_t j = i + 1;
        while (j < edges.size() && edges[j] == edges[i]) ++j;
        const uint32_t low = uint32_t(edges[i] >> 32);
        if (j == i + 2 && (start(halfEdges[i]) == low) != (start(halfEdges[i + 1]) == low)) {
            const bool firstForward = start(halfEdges[i]) == low;
            join(halfEdges[firstForward ? i : i + 1], halfEdges[firstForward ? i + 1 : i]);
            i = j;
            continue;
        }
        std::vector<uint32_t> forward, backward;
        for (size_t k = i; k < j; ++k) (start(halfEdges[k]) == low ? forward : backward).push_back(halfEdges[k]);
        if (forward.size() == backward.size()) {
            auto normalOf = [&](uint32_t h) {
                const auto& f = faces[h / 3];
                return NormalAxis(points.PointAt(f[0]), points.PointAt(f[1]), points.PointAt(f[2]));
            };
            auto extentOf = [&](uint32_t h) {
                const auto& f = faces[h / 3];
                const uint32_t k = h % 3;
                return ExtendsToward(points.PointAt(f[k]), points.PointAt(f[(k + 1) % 3]),
                                     points.PointAt(f[(k + 2) % 3]), normalOf(h));
            };
            std::vector<bool> taken(backward.size(), false);
            for (const uint32_t h : forward) {
                size_t pick = backward.size();
                for (size_t b = 0; b < backward.size(); ++b)
                    if (!taken[b] && (pick == backward.size() || extentOf(backward[b]) == -normalOf(h))) pick = b;
                taken[pick] = true;
                join(h, backward[pick]);
                partners.push_back({h / 3, backward[pick] / 3});
                partners.push_back({backward[pick] / 3, h / 3});
                sharedEdgePairs.push_back({h, backward[pick]});
            }
        }
        i = j;
    }

    // One vertex per set of joined corners, numbered in order of first use; each takes the
    // coordinates of an input vertex at its lattice point.
    std::vector<int32_t> vertexOf(3 * faces.size(), -1);
    std::vector<uint32_t> pointOfVertex;
    merged.faces.resize(faces.size());
    for (uint32_t c = 0; c < 3 * faces.size(); ++c) {
        const uint32_t root = corners.Root(c);
        if (vertexOf[root] < 0) {
            vertexOf[root] = static_cast<int32_t>(pointOfVertex.size());
            pointOfVertex.push_back(faces[c / 3][c % 3]);
        }
        merged.faces[c / 3][c % 3] = vertexOf[root];
    }
    // Each point takes the first input vertex standing on it. Most input vertices stand where
    // the merged mesh has none: a bit per hashed point, small enough to stay in cache, turns
    // most of them away before a probe of the point table.
    constexpr uint32_t kUnused = KeyTable::kMissing, kNoInput = KeyTable::kMissing - 1;
    std::vector<uint32_t> inputVertexOf(points.Size(), kUnused);
    size_t filterBits = 64;
    while (filterBits < 8 * pointOfVertex.size()) filterBits *= 2;
    std::vector<uint64_t> filter(filterBits / 64, 0);
    const auto filterBit = [&](uint64_t key) { return size_t((key * 0x9E3779B97F4A7C15ull) >> 24) & (filterBits - 1); };
    for (const uint32_t point : pointOfVertex) {
        inputVertexOf[point] = kNoInput;
        const size_t bit = filterBit(pack.PointKey(points.PointAt(point)));
        filter[bit / 64] |= uint64_t(1) << (bit % 64);
    }
    for (size_t v = 0; v < vertexCount; ++v) {
        if (!referenced[v]) continue;
        const size_t bit = filterBit(pack.PointKey(lattice[v]));
        if (!((filter[bit / 64] >> (bit % 64)) & 1)) continue;
        const uint32_t point = points.IdOf(lattice[v]);
        if (point != KeyTable::kMissing && inputVertexOf[point] == kNoInput) inputVertexOf[point] = uint32_t(v);
    }
    merged.vertices.reserve(pointOfVertex.size());
    for (const uint32_t point : pointOfVertex) {
        const uint32_t v = inputVertexOf[point];
        if (v == kNoInput) {
            const Point& at = points.PointAt(point);
            merged.vertices.emplace_back(coordinateOf[0][at[0]], coordinateOf[1][at[1]], coordinateOf[2][at[2]]);
        } else {
            merged.vertices.push_back(mesh.vertices[v]);
        }
    }
    PartEdgesSharedTwice(merged, sharedEdgePairs, partners);
    merged.faces = PartnersFirst(std::move(merged.faces), std::move(partners));
    return merged;
}

}  // namespace Orvanes
