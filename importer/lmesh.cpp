// Mesh data and processing.
//
// All arithmetic is single precision and follows the documented order of
// operations exactly: the target is built with -ffp-contract=off (no fused
// multiply-add), and the SSE paths compute, lane by lane, the same IEEE
// operations in the same order as the scalar code (sqrt, division and the
// zero test of normalise included), so they give the same bits.
//
// Per-vertex sums add the face values in adjacency-list order: either by
// scattering the faces in face order (vertex v then receives its faces in
// increasing face order, a face naming v twice adding twice in a row), or by
// walking compressed adjacency lists, which hold the same order.
#include "lobjects.h"

#include <algorithm>
#include <cmath>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

inline LVec3 normalise(LVec3 v)
{
    const float l = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (l == 0.0f)
        return v;
    const float inv = 1.0f / l;
    return {v.x * inv, v.y * inv, v.z * inv};
}

inline LVec3 cross(const LVec3& p, const LVec3& q)
{
    return {p.y * q.z - p.z * q.y, p.z * q.x - p.x * q.z, p.x * q.y - p.y * q.x};
}

inline void addTo(LVec3& sum, const LVec3& v)
{
    sum.x += v.x;
    sum.y += v.y;
    sum.z += v.z;
}

// Work is done in blocks of this many faces or vertices, in small arrays
// laid out one component after the other.
constexpr size_t kBlock = 256;

// normalise() of n vectors given component-wise, in place.
void normaliseSoA(float* x, float* y, float* z, size_t n)
{
    size_t i = 0;
#if defined(__SSE2__)
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 zero = _mm_setzero_ps();
    for (; i + 4 <= n; i += 4) {
        const __m128 X = _mm_loadu_ps(x + i);
        const __m128 Y = _mm_loadu_ps(y + i);
        const __m128 Z = _mm_loadu_ps(z + i);
        const __m128 l = _mm_sqrt_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(X, X), _mm_mul_ps(Y, Y)), _mm_mul_ps(Z, Z)));
        const __m128 isZero = _mm_cmpeq_ps(l, zero);  // false for NaN, as l == 0.0f
        const __m128 inv = _mm_div_ps(one, l);
        _mm_storeu_ps(x + i, _mm_or_ps(_mm_and_ps(isZero, X), _mm_andnot_ps(isZero, _mm_mul_ps(X, inv))));
        _mm_storeu_ps(y + i, _mm_or_ps(_mm_and_ps(isZero, Y), _mm_andnot_ps(isZero, _mm_mul_ps(Y, inv))));
        _mm_storeu_ps(z + i, _mm_or_ps(_mm_and_ps(isZero, Z), _mm_andnot_ps(isZero, _mm_mul_ps(Z, inv))));
    }
#endif
    for (; i < n; ++i) {
        const LVec3 v = normalise({x[i], y[i], z[i]});
        x[i] = v.x;
        y[i] = v.y;
        z[i] = v.z;
    }
}

// normalise() of every vector of an array, in place.
void normaliseAll(LVec3* v, size_t n)
{
    float x[kBlock], y[kBlock], z[kBlock];
    for (size_t start = 0; start < n; start += kBlock) {
        const size_t m = std::min(kBlock, n - start);
        LVec3* block = v + start;
        for (size_t j = 0; j < m; ++j) {
            x[j] = block[j].x;
            y[j] = block[j].y;
            z[j] = block[j].z;
        }
        normaliseSoA(x, y, z, m);
        for (size_t j = 0; j < m; ++j)
            block[j] = {x[j], y[j], z[j]};
    }
}

// binormals[v] = normalise(tangents[v] x normals[v]) for every vertex.
void binormalsFrom(const std::vector<LVec3>& tangents, const std::vector<LVec3>& normals,
                   std::vector<LVec3>& binormals)
{
    const size_t n = binormals.size();
    for (size_t v = 0; v < n; ++v)
        binormals[v] = cross(tangents[v], normals[v]);
    normaliseAll(binormals.data(), n);
}

// The per-face values of one block of faces: the face normal
// normalise((B - C) x (B - A)) and, with textureSpace, the face tangent and
// binormal of CalcTextureSpace step 1. Faces naming a vertex not below the
// vertex count are left as they are.
void faceValues(LFaceRecord* faces, size_t count, const std::vector<LVec4>& vertices,
                const std::vector<LVec2>& texCoords, bool normals, bool textureSpace)
{
    const size_t vertexCount = vertices.size();
    float nx[kBlock], ny[kBlock], nz[kBlock];
    float px[kBlock], py[3][kBlock], pz[3][kBlock], t[3][kBlock], b[3][kBlock];
    bool valid[kBlock];
    for (size_t start = 0; start < count; start += kBlock) {
        const size_t m = std::min(kBlock, count - start);
        LFaceRecord* block = faces + start;
        for (size_t j = 0; j < m; ++j) {
            const LFaceRecord& f = block[j];
            valid[j] = f.a < vertexCount && f.b < vertexCount && f.c < vertexCount;
            if (!valid[j]) {
                nx[j] = ny[j] = nz[j] = px[j] = 1.0f;
                for (int k = 0; k < 3; ++k)
                    py[k][j] = pz[k][j] = 0.0f;
                continue;
            }
            const LVec4& A = vertices[f.a];
            const LVec4& B = vertices[f.b];
            const LVec4& C = vertices[f.c];
            if (normals) {
                const LVec3 bc = {B.x - C.x, B.y - C.y, B.z - C.z};
                const LVec3 ba = {B.x - A.x, B.y - A.y, B.z - A.z};
                const LVec3 n = cross(bc, ba);
                nx[j] = n.x;
                ny[j] = n.y;
                nz[j] = n.z;
            }
            if (textureSpace) {
                // Per axis k: e1 = (B.k - A.k, du1, dv1), e2 = (C.k - A.k, du2, dv2),
                // p = e1 x e2; p.x is the same expression for every axis.
                const LVec2& Ta = texCoords[f.a];
                const LVec2& Tb = texCoords[f.b];
                const LVec2& Tc = texCoords[f.c];
                const float du1 = Tb.u - Ta.u, dv1 = Tb.v - Ta.v;
                const float du2 = Tc.u - Ta.u, dv2 = Tc.v - Ta.v;
                const float pa[3] = {A.x, A.y, A.z};
                const float pb[3] = {B.x, B.y, B.z};
                const float pc[3] = {C.x, C.y, C.z};
                px[j] = du1 * dv2 - dv1 * du2;
                for (int k = 0; k < 3; ++k) {
                    const float e1x = pb[k] - pa[k];
                    const float e2x = pc[k] - pa[k];
                    py[k][j] = dv1 * e2x - e1x * dv2;
                    pz[k][j] = e1x * du2 - du1 * e2x;
                }
            }
        }
        if (normals)
            normaliseSoA(nx, ny, nz, m);
        if (textureSpace) {
            for (int k = 0; k < 3; ++k)
                for (size_t j = 0; j < m; ++j) {  // vectorised by the compiler: exact divisions
                    t[k][j] = -(py[k][j] / px[j]);
                    b[k][j] = -(pz[k][j] / px[j]);
                }
        }
        for (size_t j = 0; j < m; ++j) {
            if (!valid[j])
                continue;
            LFaceRecord& f = block[j];
            if (normals)
                f.faceNormal = {nx[j], ny[j], nz[j]};
            if (textureSpace) {
                f.faceTangent = {t[0][j], t[1][j], t[2][j]};
                f.faceBinormal = {b[0][j], b[1][j], b[2][j]};
            }
        }
    }
}

// Adjacency lists in compressed form: the faces using vertex v are
// faces[offsets[v] .. offsets[v + 1]), in face order (a face naming v twice
// is listed twice). A counting pass sizes the lists; one pass over the faces
// from the last to the first then fills every list from its end, which
// leaves each list in increasing face order without a cursor array.
struct Adjacency {
    std::unique_ptr<uint32_t[]> storage;  // offsets, then the lists: one allocation
    uint32_t* offsets = nullptr;
    uint32_t* faces = nullptr;

    void build(uint32_t vertexCount, const std::vector<LFaceRecord>& records)
    {
        const size_t entries = 3 * records.size();
        storage.reset(new uint32_t[size_t(vertexCount) + 1 + entries]);
        offsets = storage.get();
        faces = offsets + vertexCount + 1;
        std::fill(offsets, offsets + vertexCount + 1, 0u);
        for (const LFaceRecord& f : records) {
            ++offsets[f.a];
            ++offsets[f.b];
            ++offsets[f.c];
        }
        uint32_t total = 0;
        for (uint32_t v = 0; v < vertexCount; ++v) {
            total += offsets[v];
            offsets[v] = total;  // one past the end of list v
        }
        offsets[vertexCount] = total;
        for (uint32_t i = uint32_t(records.size()); i-- > 0;) {
            const LFaceRecord& f = records[i];
            faces[--offsets[f.c]] = i;
            faces[--offsets[f.b]] = i;
            faces[--offsets[f.a]] = i;
        }
    }
};

// What a list's buffer was charged to a budget.
template <class T>
uint64_t bytesOf(const std::vector<T>& list)
{
    return list.capacity() ? LBudget::BlockBytes(uint64_t(list.capacity()) * sizeof(T)) : 0;
}

// Groups the smoothing-group values of one vertex's faces by first
// appearance: group[k] becomes the rank, in order of first appearance, of
// entry k's value among the distinct values. A short linear list serves the
// usual handful of values; past kLinearLimit of them the entries are sorted
// instead (by value, then position), which costs n log n whatever the values
// are, where a hash table could be made to collide.
class Grouping {
public:
    static constexpr uint32_t kLinearLimit = 16;

    // Work counted per entry, the linear search included.
    static constexpr uint64_t kWorkPerEntry = kLinearLimit;

    // values and group hold n entries; returns the number of groups, or 0
    // when the budget refuses the sort.
    uint32_t assign(const uint32_t* values, uint32_t* group, uint32_t n, LBudget& budget)
    {
        uint32_t seen[kLinearLimit];
        uint32_t count = 0;
        uint32_t k = 0;
        for (; k < n; ++k) {
            const uint32_t value = values[k];
            uint32_t j = 0;
            while (j < count && seen[j] != value)
                ++j;
            if (j == count) {
                if (count == kLinearLimit)
                    break;
                seen[count++] = value;
            }
            group[k] = j;
        }
        return k == n ? count : assignSorted(values, group, n, budget);
    }

private:
    uint32_t assignSorted(const uint32_t* values, uint32_t* group, uint32_t n, LBudget& budget)
    {
        uint64_t log2n = 1;
        while ((uint64_t(1) << log2n) < n)
            ++log2n;
        if (!budget.TakeWork(3 * n * log2n) || !budget.Reserve(m_keys, n) || !budget.Reserve(m_firsts, n) ||
            !budget.Reserve(m_rank, n))
            return 0;
        // (value, position), sorted: each run of one value starts with its
        // first appearance.
        m_keys.resize(n);
        for (uint32_t k = 0; k < n; ++k)
            m_keys[k] = (uint64_t(values[k]) << 32) | k;
        std::sort(m_keys.begin(), m_keys.end());
        // (first appearance, run), sorted: the runs in order of appearance.
        m_firsts.clear();
        for (uint32_t k = 0; k < n; ++k)
            if (k == 0 || (m_keys[k] >> 32) != (m_keys[k - 1] >> 32))
                m_firsts.push_back((m_keys[k] << 32) | uint32_t(m_firsts.size()));
        const uint32_t runs = uint32_t(m_firsts.size());
        std::sort(m_firsts.begin(), m_firsts.end());
        m_rank.resize(runs);
        for (uint32_t r = 0; r < runs; ++r)
            m_rank[uint32_t(m_firsts[r])] = r;
        uint32_t run = 0;
        for (uint32_t k = 0; k < n; ++k) {
            if (k != 0 && (m_keys[k] >> 32) != (m_keys[k - 1] >> 32))
                ++run;
            group[uint32_t(m_keys[k])] = m_rank[run];
        }
        return runs;
    }

public:
    uint64_t bytesHeld() const { return bytesOf(m_keys) + bytesOf(m_firsts) + bytesOf(m_rank); }

private:
    std::vector<uint64_t> m_keys, m_firsts;
    std::vector<uint32_t> m_rank;
};


// Resizes `list` to n within the budget: the buffer grows to exactly n, and
// each new element counts as one operation.
template <class T>
bool resizeWithin(std::vector<T>& list, size_t n, LBudget& budget)
{
    if (n > list.size() && !budget.TakeWork(n - list.size()))
        return false;
    if (!budget.Reserve(list, n))
        return false;
    list.resize(n);
    return true;
}

} // namespace

LMesh::LMesh() { Clear(); }

LMesh::~LMesh() = default;  // the lists release their elements

void LMesh::Clear()
{
    vertices.clear();
    normals.clear();
    binormals.clear();
    tangents.clear();
    texCoords.clear();
    triangles.clear();
    faceRecords.clear();
    materials.clear();
    matrix = LMat4::Identity();
}

void LMesh::SetVertexArraySize(uint32_t n)
{
    vertices.resize(n);
    normals.resize(n);
    texCoords.resize(n);
    tangents.resize(n);
    binormals.resize(n);
}

void LMesh::SetTriangleArraySize(uint32_t n)
{
    triangles.resize(n);
    faceRecords.resize(n);
}

int LMesh::AddMaterial(uint32_t id)
{
    materials.push_back(id);
    return int(materials.size() - 1);
}

bool LMesh::SyncArraySizes(LBudget& budget)
{
    const size_t n = vertices.size();
    if (normals.size() == n && texCoords.size() == n && tangents.size() == n && binormals.size() == n &&
        triangles.size() == faceRecords.size())
        return true;
    return resizeWithin(normals, n, budget) && resizeWithin(texCoords, n, budget) &&
           resizeWithin(tangents, n, budget) && resizeWithin(binormals, n, budget) &&
           resizeWithin(triangles, faceRecords.size(), budget);
}

uint32_t LMesh::RemoveInvalidFaces()
{
    LBudget unlimited;
    SyncArraySizes(unlimited);
    const size_t n = faceRecords.size();
    DropInvalidFaces(unlimited);
    return uint32_t(n - faceRecords.size());
}

bool LMesh::DropInvalidFaces(LBudget& budget)
{
    if (!SyncArraySizes(budget) || !budget.TakeWork(faceRecords.size()))
        return false;
    const size_t vertexCount = vertices.size();
    const size_t n = faceRecords.size();
    size_t kept = 0;
    for (size_t i = 0; i < n; ++i) {
        const LFaceRecord& f = faceRecords[i];
        if (f.a >= vertexCount || f.b >= vertexCount || f.c >= vertexCount)
            continue;
        if (kept != i) {
            faceRecords[kept] = faceRecords[i];
            triangles[kept] = triangles[i];
        }
        ++kept;
    }
    faceRecords.resize(kept);
    triangles.resize(kept);
    return true;
}

void LMesh::CopyFaceCorners()
{
    LBudget unlimited;
    CopyCorners(unlimited);
}

bool LMesh::CopyCorners(LBudget& budget)
{
    if (!SyncArraySizes(budget) || !budget.TakeWork(faceRecords.size()))
        return false;
    const size_t n = faceRecords.size();
    for (size_t i = 0; i < n; ++i)
        triangles[i] = {faceRecords[i].a, faceRecords[i].b, faceRecords[i].c};
    return true;
}

void LMesh::TransformVertices()
{
    const float* m = matrix.m;
    for (LVec4& v : vertices) {
        const float x = v.x, y = v.y, z = v.z, w = v.w;
        float rx = m[0] * x + m[1] * y + m[2] * z + m[3] * w;
        float ry = m[4] * x + m[5] * y + m[6] * z + m[7] * w;
        float rz = m[8] * x + m[9] * y + m[10] * z + m[11] * w;
        const float rw = m[12] * x + m[13] * y + m[14] * z + m[15] * w;
        if (rw != 0.0f) {
            const float inv = 1.0f / rw;
            rx *= inv;
            ry *= inv;
            rz *= inv;
        }
        v = {rx, ry, rz, 1.0f};
    }
}

void LMesh::CalcNormals(bool useSmoothingGroups)
{
    LBudget unlimited;
    Normals(useSmoothingGroups, unlimited);
}

bool LMesh::Normals(bool useSmoothingGroups, LBudget& budget)
{
    if (!DropInvalidFaces(budget))  // also restores the length invariants
        return false;

    // 1. Face normals.
    if (!budget.TakeWork(faceRecords.size()))
        return false;
    faceValues(faceRecords.data(), faceRecords.size(), vertices, texCoords, true, false);

    if (useSmoothingGroups) {
        if (!SplitAndSmooth(false, budget))  // steps 2, 4 and 5
            return false;
    } else {
        // Steps 2 and 3: sums in face order, then normalised.
        if (!budget.TakeWork(2 * uint64_t(normals.size()) + 3 * uint64_t(faceRecords.size())))
            return false;
        for (LVec3& n : normals)
            n = {0.0f, 0.0f, 0.0f};
        for (const LFaceRecord& f : faceRecords) {
            addTo(normals[f.a], f.faceNormal);
            addTo(normals[f.b], f.faceNormal);
            addTo(normals[f.c], f.faceNormal);
        }
        normaliseAll(normals.data(), normals.size());
    }

    // 6. The drawn triangles.
    return CopyCorners(budget);
}

void LMesh::CalcNormalsAndTextureSpace()
{
    LBudget unlimited;
    NormalsAndTextureSpace(unlimited);
}

bool LMesh::NormalsAndTextureSpace(LBudget& budget)
{
    if (!DropInvalidFaces(budget) || !budget.TakeWork(faceRecords.size()))
        return false;
    // Face normals, and the per-face step of CalcTextureSpace: the corners'
    // positions and texture coordinates are the same before and after the
    // split (copies carry them), so the face values are too.
    faceValues(faceRecords.data(), faceRecords.size(), vertices, texCoords, true, true);
    return SplitAndSmooth(true, budget) && CopyCorners(budget);
}

bool LMesh::PostProcess(int level, LBudget& budget)
{
    switch (level) {
    case 0:
        if (!budget.TakeWork(vertices.size()))
            return false;
        TransformVertices();
        return DropInvalidFaces(budget) && CopyCorners(budget);
    case 1:
        return Normals(false, budget);
    case 2:
        return NormalsAndTextureSpace(budget);  // == CalcNormals(true); CalcTextureSpace();
    default:
        return DropInvalidFaces(budget) && CopyCorners(budget);
    }
}

// Steps 2, 4 and 5 of CalcNormals (and, with withTextureSpace, steps 2 and 3
// of CalcTextureSpace) over one adjacency build.
//
// Step 5 rebuilds the lists after the split. They need not be built: the new
// list of a vertex is a subsequence of an old one. Faces only ever gain a
// corner j where they had corner i, so the new list of vertex i holds the
// entries of its old list whose faces stayed with i, and the list of a copy
// j the entries of the group that moved to j, each in the old (face) order,
// a face naming the vertex twice still listed twice. Summing those entries in
// order while walking the old list therefore adds exactly the documented terms in
// the documented order. The sums are stored raw and normalised at the end.
bool LMesh::SplitAndSmooth(bool withTextureSpace, LBudget& budget)
{
    const uint32_t N = uint32_t(vertices.size());
    const uint64_t entries = 3 * uint64_t(faceRecords.size());
    // The adjacency build and pass 1.
    const uint64_t adjacencyBytes = LBudget::BlockBytes((uint64_t(N) + 1 + entries) * sizeof(uint32_t));
    if (!budget.TakeWork(3 * uint64_t(N) + 3 * entries + 1) || !budget.TakeMemory(adjacencyBytes))
        return false;
    Adjacency adjacency;
    adjacency.build(N, faceRecords);
    const uint32_t* list = adjacency.faces;
    const uint32_t* offsets = adjacency.offsets;
    const LVec3 zero = {0.0f, 0.0f, 0.0f};

    // Pass 1: every vertex whose faces share one smoothing-group value (or
    // that has no face) keeps its whole list: store its sums. The others are
    // kept for pass 2, with an upper bound of their copies so that the
    // per-vertex arrays grow at most once.
    std::vector<uint32_t> split;
    size_t copyBound = 0;
    uint32_t longest = 0;
    for (uint32_t i = 0; i < N; ++i) {
        const uint32_t begin = offsets[i], end = offsets[i + 1];
        LVec3 n = zero, t = zero;
        uint32_t e = begin;
        if (begin != end) {
            const uint32_t first = faceRecords[list[begin]].smoothingGroup;
            for (; e < end; ++e) {
                const LFaceRecord& f = faceRecords[list[e]];
                if (f.smoothingGroup != first)
                    break;
                addTo(n, f.faceNormal);
                if (withTextureSpace)
                    addTo(t, f.faceTangent);
            }
        }
        if (e == end) {
            normals[i] = n;
            if (withTextureSpace)
                tangents[i] = t;
        } else {
            if (!budget.Grow(split))
                return false;
            split.push_back(i);
            copyBound += end - e;  // each later entry adds at most one group
            longest = std::max(longest, end - begin);
        }
    }

    if (!split.empty()) {
        const size_t limit = size_t(0xFFFF) + 1;
        const size_t capacity = std::max(vertices.size(), std::min(vertices.size() + copyBound, limit));
        if (!budget.Reserve(vertices, capacity) || !budget.Reserve(normals, capacity) ||
            !budget.Reserve(texCoords, capacity) || !budget.Reserve(tangents, capacity) ||
            !budget.Reserve(binormals, capacity))
            return false;
    }

    // Pass 2: split the other vertices, in increasing order (copies are
    // appended in the documented order; the vertices of pass 1 append nothing).
    // The working lists are sized once, for the longest list.
    Grouping grouping;
    std::vector<uint32_t> values, entryGroup, newIndex;
    std::vector<LVec3> normalSums, tangentSums;
    if (!split.empty() &&
        (!budget.Reserve(values, longest) || !budget.Reserve(entryGroup, longest) ||
         !budget.Reserve(newIndex, longest) || !budget.Reserve(normalSums, longest) ||
         !budget.Reserve(tangentSums, longest)))
        return false;
    for (uint32_t i : split) {
        const uint32_t begin = offsets[i], end = offsets[i + 1];
        const uint32_t n = end - begin;
        // Grouping, copies (5 lists), corner replacement and sums.
        if (!budget.TakeWork((Grouping::kWorkPerEntry + 7) * n))
            return false;

        // 4.2 Group the faces by smoothing-group value, by first appearance.
        values.resize(n);
        entryGroup.resize(n);
        for (uint32_t e = 0; e < n; ++e)
            values[e] = faceRecords[list[begin + e]].smoothingGroup;
        const uint32_t groupCount = grouping.assign(values.data(), entryGroup.data(), n, budget);
        if (groupCount == 0)
            return false;

        // 4.3 A copy of vertex i for each group after the first, in group order.
        newIndex.assign(groupCount, i);
        for (uint32_t g = 1; g < groupCount; ++g) {
            if (vertices.size() > 0xFFFF)
                break;  // index 65536 and up cannot be stored: the group keeps vertex i
            vertices.push_back(vertices[i]);
            normals.push_back(normals[i]);
            texCoords.push_back(texCoords[i]);
            tangents.push_back(tangents[i]);
            binormals.push_back(binormals[i]);
            newIndex[g] = uint32_t(vertices.size() - 1);
        }

        // Replace the corners, and sum each resulting vertex's terms in list
        // order (groups that kept vertex i sum into group 0's slot).
        normalSums.assign(groupCount, zero);
        tangentSums.assign(groupCount, zero);
        for (uint32_t e = begin; e < end; ++e) {
            const uint32_t g = entryGroup[e - begin];
            const uint32_t slot = newIndex[g] == i ? 0 : g;
            LFaceRecord& f = faceRecords[list[e]];
            if (slot != 0) {
                const uint16_t j = uint16_t(newIndex[g]);
                if (f.a == i)
                    f.a = j;
                if (f.b == i)
                    f.b = j;
                if (f.c == i)
                    f.c = j;
            }
            addTo(normalSums[slot], f.faceNormal);
            if (withTextureSpace)
                addTo(tangentSums[slot], f.faceTangent);
        }
        for (uint32_t g = 0; g < groupCount; ++g) {
            if (g != 0 && newIndex[g] == i)
                continue;
            normals[newIndex[g]] = normalSums[g];
            if (withTextureSpace)
                tangents[newIndex[g]] = tangentSums[g];
        }
    }

    // Every vertex now holds its sums: normalise them.
    if (!budget.TakeWork((withTextureSpace ? 4 : 1) * uint64_t(normals.size())))
        return false;
    normaliseAll(normals.data(), normals.size());
    if (withTextureSpace) {
        normaliseAll(tangents.data(), tangents.size());
        binormalsFrom(tangents, normals, binormals);
    }
    budget.GiveMemory(adjacencyBytes + bytesOf(split) + bytesOf(values) + bytesOf(entryGroup) +
                      bytesOf(newIndex) + bytesOf(normalSums) + bytesOf(tangentSums) + grouping.bytesHeld());
    return true;
}

void LMesh::CalcTextureSpace()
{
    LBudget unlimited;
    TextureSpace(unlimited);
}

bool LMesh::TextureSpace(LBudget& budget)
{
    if (!SyncArraySizes(budget))
        return false;
    const size_t vertexCount = vertices.size();
    if (!budget.TakeWork(4 * uint64_t(faceRecords.size()) + 3 * uint64_t(vertexCount)))
        return false;

    // 1. Per face (faces naming a missing vertex are skipped).
    faceValues(faceRecords.data(), faceRecords.size(), vertices, texCoords, false, true);

    // 2. / 3. Per vertex: sums in face order, normalised, then the binormals.
    for (LVec3& t : tangents)
        t = {0.0f, 0.0f, 0.0f};
    for (const LFaceRecord& f : faceRecords) {
        if (f.a >= vertexCount || f.b >= vertexCount || f.c >= vertexCount)
            continue;
        addTo(tangents[f.a], f.faceTangent);
        addTo(tangents[f.b], f.faceTangent);
        addTo(tangents[f.c], f.faceTangent);
    }
    normaliseAll(tangents.data(), tangents.size());
    binormalsFrom(tangents, normals, binormals);
    return true;
}
