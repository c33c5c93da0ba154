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
#include <cstddef>
#include <iterator>
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

// faceValues() for faces whose corners all name a vertex, four faces at a
// time: the same operations lane by lane, so the same bits.
void validFaceValues(LFaceRecord* faces, size_t count, const std::vector<LVec4>& vertices,
                     const std::vector<LVec2>& texCoords, bool textureSpace)
{
    size_t i = 0;
#if defined(__SSE2__)
    const LVec4* P = vertices.data();
    const LVec2* T = texCoords.data();
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 zero = _mm_setzero_ps();
    const __m128 sign = _mm_set1_ps(-0.0f);
    // x, y, z of three vectors given component-wise, into three records.
    const auto store3 = [](float* p, __m128 v) {
        _mm_storel_pi(reinterpret_cast<__m64*>(p), v);
        _mm_store_ss(p + 2, _mm_movehl_ps(v, v));
    };
    const auto storeRows = [&](size_t at, LVec3 LFaceRecord::*field, __m128 X, __m128 Y, __m128 Z) {
        __m128 W = zero;
        _MM_TRANSPOSE4_PS(X, Y, Z, W);
        store3(&(faces[at].*field).x, X);
        store3(&(faces[at + 1].*field).x, Y);
        store3(&(faces[at + 2].*field).x, Z);
        store3(&(faces[at + 3].*field).x, W);
    };
    const auto gather = [&](const uint16_t LFaceRecord::*corner, size_t at, __m128& X, __m128& Y, __m128& Z) {
        __m128 r0 = _mm_loadu_ps(&P[faces[at].*corner].x), r1 = _mm_loadu_ps(&P[faces[at + 1].*corner].x),
               r2 = _mm_loadu_ps(&P[faces[at + 2].*corner].x), r3 = _mm_loadu_ps(&P[faces[at + 3].*corner].x);
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        X = r0, Y = r1, Z = r2;
    };
    const auto gatherUV = [&](const uint16_t LFaceRecord::*corner, size_t at, __m128& U, __m128& V) {
        const __m128 lo = _mm_loadh_pi(_mm_loadl_pi(zero, reinterpret_cast<const __m64*>(&T[faces[at].*corner])),
                                       reinterpret_cast<const __m64*>(&T[faces[at + 1].*corner]));
        const __m128 hi = _mm_loadh_pi(_mm_loadl_pi(zero, reinterpret_cast<const __m64*>(&T[faces[at + 2].*corner])),
                                       reinterpret_cast<const __m64*>(&T[faces[at + 3].*corner]));
        U = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0));
        V = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
    };
    for (; i + 4 <= count; i += 4) {
        __m128 AX, AY, AZ, BX, BY, BZ, CX, CY, CZ;
        gather(&LFaceRecord::a, i, AX, AY, AZ);
        gather(&LFaceRecord::b, i, BX, BY, BZ);
        gather(&LFaceRecord::c, i, CX, CY, CZ);
        {
            const __m128 bcx = _mm_sub_ps(BX, CX), bcy = _mm_sub_ps(BY, CY), bcz = _mm_sub_ps(BZ, CZ);
            const __m128 bax = _mm_sub_ps(BX, AX), bay = _mm_sub_ps(BY, AY), baz = _mm_sub_ps(BZ, AZ);
            __m128 NX = _mm_sub_ps(_mm_mul_ps(bcy, baz), _mm_mul_ps(bcz, bay));
            __m128 NY = _mm_sub_ps(_mm_mul_ps(bcz, bax), _mm_mul_ps(bcx, baz));
            __m128 NZ = _mm_sub_ps(_mm_mul_ps(bcx, bay), _mm_mul_ps(bcy, bax));
            const __m128 l =
                _mm_sqrt_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(NX, NX), _mm_mul_ps(NY, NY)), _mm_mul_ps(NZ, NZ)));
            const __m128 isZero = _mm_cmpeq_ps(l, zero);
            const __m128 inv = _mm_div_ps(one, l);
            NX = _mm_or_ps(_mm_and_ps(isZero, NX), _mm_andnot_ps(isZero, _mm_mul_ps(NX, inv)));
            NY = _mm_or_ps(_mm_and_ps(isZero, NY), _mm_andnot_ps(isZero, _mm_mul_ps(NY, inv)));
            NZ = _mm_or_ps(_mm_and_ps(isZero, NZ), _mm_andnot_ps(isZero, _mm_mul_ps(NZ, inv)));
            storeRows(i, &LFaceRecord::faceNormal, NX, NY, NZ);
        }
        if (!textureSpace)
            continue;
        __m128 UA, VA, UB, VB, UC, VC;
        gatherUV(&LFaceRecord::a, i, UA, VA);
        gatherUV(&LFaceRecord::b, i, UB, VB);
        gatherUV(&LFaceRecord::c, i, UC, VC);
        const __m128 du1 = _mm_sub_ps(UB, UA), dv1 = _mm_sub_ps(VB, VA);
        const __m128 du2 = _mm_sub_ps(UC, UA), dv2 = _mm_sub_ps(VC, VA);
        const __m128 px = _mm_sub_ps(_mm_mul_ps(du1, dv2), _mm_mul_ps(dv1, du2));
        __m128 t[3], b[3];
        const __m128 pa[3] = {AX, AY, AZ}, pb[3] = {BX, BY, BZ}, pc[3] = {CX, CY, CZ};
        for (int k = 0; k < 3; ++k) {
            const __m128 e1x = _mm_sub_ps(pb[k], pa[k]);
            const __m128 e2x = _mm_sub_ps(pc[k], pa[k]);
            const __m128 py = _mm_sub_ps(_mm_mul_ps(dv1, e2x), _mm_mul_ps(e1x, dv2));
            const __m128 pz = _mm_sub_ps(_mm_mul_ps(e1x, du2), _mm_mul_ps(du1, e2x));
            t[k] = _mm_xor_ps(_mm_div_ps(py, px), sign);
            b[k] = _mm_xor_ps(_mm_div_ps(pz, px), sign);
        }
        storeRows(i, &LFaceRecord::faceTangent, t[0], t[1], t[2]);
        storeRows(i, &LFaceRecord::faceBinormal, b[0], b[1], b[2]);
    }
#endif
    faceValues(faces + i, count - i, vertices, texCoords, true, textureSpace);
}

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
    LWorkspace workspace;
    Normals(useSmoothingGroups, unlimited, workspace);
}

bool LMesh::Normals(bool useSmoothingGroups, LBudget& budget, LWorkspace& workspace)
{
    if (!DropInvalidFaces(budget))  // also restores the length invariants
        return false;

    if (useSmoothingGroups) {
        if (!SplitAndSmooth(false, budget, workspace))  // steps 1, 2, 4 and 5
            return false;
    } else {
        // 1. Face normals.
        if (!budget.TakeWork(faceRecords.size()))
            return false;
        faceValues(faceRecords.data(), faceRecords.size(), vertices, texCoords, true, false);
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
    LWorkspace workspace;
    NormalsAndTextureSpace(unlimited, workspace, nullptr);
}

namespace {

// Reads the corners of a run of face records as a range of LIndexTriangle,
// so that the drawn list is filled with one insert.
class CornerReader {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = LIndexTriangle;
    using difference_type = std::ptrdiff_t;
    using pointer = const LIndexTriangle*;
    using reference = LIndexTriangle;

    explicit CornerReader(const LFaceRecord* f) : m_f(f) {}
    LIndexTriangle operator*() const { return {m_f->a, m_f->b, m_f->c}; }
    CornerReader& operator++()
    {
        ++m_f;
        return *this;
    }
    CornerReader operator++(int)
    {
        CornerReader old = *this;
        ++m_f;
        return old;
    }
    bool operator==(const CornerReader& o) const { return m_f == o.m_f; }
    bool operator!=(const CornerReader& o) const { return m_f != o.m_f; }

private:
    const LFaceRecord* m_f;
};

} // namespace

// Every list that this writes whole (normals, tangents, binormals, triangles)
// is left as it is until its final length is known, and then written once;
// the others are brought to their final length with one allocation each.
bool LMesh::NormalsAndTextureSpace(LBudget& budget, LWorkspace& workspace, const LVertexSource* source)
{
    if (!budget.TakeWork(faceRecords.size()))
        return DropAll();
    const size_t vertexCount = source ? source->Count() : vertices.size();
    faceRecords.erase(std::remove_if(faceRecords.begin(), faceRecords.end(),
                                     [vertexCount](const LFaceRecord& f) {
                                         return f.a >= vertexCount || f.b >= vertexCount || f.c >= vertexCount;
                                     }),
                      faceRecords.end());
    // Face normals and the per-face step of CalcTextureSpace (the corners'
    // positions and texture coordinates are the same before and after the
    // split: copies carry them), the split, and the per-vertex values.
    if (!SplitAndSmooth(true, budget, workspace, source))
        return DropAll();
    // 6. The drawn triangles.
    const size_t n = faceRecords.size();
    if (!budget.TakeWork(n))
        return DropAll();
    triangles.clear();
    if (!budget.Reserve(triangles, n))
        return DropAll();
    triangles.insert(triangles.end(), CornerReader(faceRecords.data()), CornerReader(faceRecords.data() + n));
    return true;
}

bool LMesh::DropAll()
{
    vertices.clear();
    normals.clear();
    binormals.clear();
    tangents.clear();
    texCoords.clear();
    triangles.clear();
    faceRecords.clear();
    return false;
}

bool LMesh::PostProcess(int level, LBudget& budget)
{
    LWorkspace workspace;
    return PostProcess(level, budget, workspace);
}

bool LMesh::PostProcess(int level, LBudget& budget, LWorkspace& workspace)
{
    return PostProcess(level, budget, workspace, nullptr);
}

bool LMesh::PostProcess(int level, LBudget& budget, LWorkspace& workspace, const LVertexSource* source)
{
    if (source && level == 2)
        return NormalsAndTextureSpace(budget, workspace, source);  // decodes at the final length
    if (source) {
        const uint32_t n = source->Count();
        vertices.clear();
        texCoords.clear();
        if (!budget.Reserve(vertices, n) || !budget.Reserve(texCoords, n))
            return DropAll();
        source->Fill(vertices, texCoords);
    }
    switch (level) {
    case 0:
        if (!budget.TakeWork(vertices.size()))
            return false;
        TransformVertices();
        return DropInvalidFaces(budget) && CopyCorners(budget);
    case 1:
        return Normals(false, budget, workspace);
    case 2:
        return NormalsAndTextureSpace(budget, workspace, nullptr);  // == CalcNormals(true); CalcTextureSpace();
    default:
        return DropInvalidFaces(budget) && CopyCorners(budget);
    }
}

namespace {

// Carves typed arrays out of one block, one after the other.
class Carver {
public:
    explicit Carver(void* block) : m_at(static_cast<unsigned char*>(block)) {}
    template <class T>
    T* take(size_t n)
    {
        T* p = reinterpret_cast<T*>(m_at);
        m_at += bytes<T>(n);
        return p;
    }
    // What take<T>(n) uses, kept a multiple of 16 so that every array stays aligned.
    template <class T>
    static size_t bytes(size_t n)
    {
        return (n * sizeof(T) + 15) & ~size_t(15);
    }

private:
    unsigned char* m_at;
};

// Per-vertex sums and results: for vertex v, sums[v].v[kNormal] holds the
// normal (x, y, z, and a lane nobody reads), then the tangent and the binormal, so
// that a face is added to a vertex with two vector additions. The lanes are
// independent: each holds exactly the scalar sum of its component.
enum { kNormal = 0, kTangent = 1, kBinormal = 2 };
struct alignas(16) VertexSums {
    float v[3][4];
};

// Adds the face values of f to the sums of one vertex.
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline void addFace(VertexSums& s, const LFaceRecord& f, bool withTangents)
{
#if defined(__SSE2__)
    // faceNormal and faceTangent are each followed by another float of the
    // record, which lands in the unread lane.
    _mm_store_ps(s.v[kNormal], _mm_add_ps(_mm_load_ps(s.v[kNormal]), _mm_loadu_ps(&f.faceNormal.x)));
    if (withTangents)
        _mm_store_ps(s.v[kTangent], _mm_add_ps(_mm_load_ps(s.v[kTangent]), _mm_loadu_ps(&f.faceTangent.x)));
#else
    s.v[kNormal][0] += f.faceNormal.x;
    s.v[kNormal][1] += f.faceNormal.y;
    s.v[kNormal][2] += f.faceNormal.z;
    if (withTangents) {
        s.v[kTangent][0] += f.faceTangent.x;
        s.v[kTangent][1] += f.faceTangent.y;
        s.v[kTangent][2] += f.faceTangent.z;
    }
#endif
}

// Normalises the normals (and with withTangents the tangents) of n vertices
// in place and makes their binormals: normalise(tangent x normal).
void finishSums(VertexSums* s, size_t n, bool withTangents)
{
    size_t v = 0;
#if defined(__SSE2__)
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 zero = _mm_setzero_ps();
    const auto normalise4 = [&](__m128& X, __m128& Y, __m128& Z) {
        const __m128 l = _mm_sqrt_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(X, X), _mm_mul_ps(Y, Y)), _mm_mul_ps(Z, Z)));
        const __m128 isZero = _mm_cmpeq_ps(l, zero);  // false for NaN, as l == 0.0f
        const __m128 inv = _mm_div_ps(one, l);
        X = _mm_or_ps(_mm_and_ps(isZero, X), _mm_andnot_ps(isZero, _mm_mul_ps(X, inv)));
        Y = _mm_or_ps(_mm_and_ps(isZero, Y), _mm_andnot_ps(isZero, _mm_mul_ps(Y, inv)));
        Z = _mm_or_ps(_mm_and_ps(isZero, Z), _mm_andnot_ps(isZero, _mm_mul_ps(Z, inv)));
    };
    for (; v + 4 <= n; v += 4) {
        VertexSums* q = s + v;
        __m128 NX = _mm_load_ps(q[0].v[kNormal]), NY = _mm_load_ps(q[1].v[kNormal]), NZ = _mm_load_ps(q[2].v[kNormal]),
               NW = _mm_load_ps(q[3].v[kNormal]);
        _MM_TRANSPOSE4_PS(NX, NY, NZ, NW);
        normalise4(NX, NY, NZ);
        if (withTangents) {
            __m128 TX = _mm_load_ps(q[0].v[kTangent]), TY = _mm_load_ps(q[1].v[kTangent]), TZ = _mm_load_ps(q[2].v[kTangent]),
                   TW = _mm_load_ps(q[3].v[kTangent]);
            _MM_TRANSPOSE4_PS(TX, TY, TZ, TW);
            normalise4(TX, TY, TZ);
            __m128 BX = _mm_sub_ps(_mm_mul_ps(TY, NZ), _mm_mul_ps(TZ, NY));
            __m128 BY = _mm_sub_ps(_mm_mul_ps(TZ, NX), _mm_mul_ps(TX, NZ));
            __m128 BZ = _mm_sub_ps(_mm_mul_ps(TX, NY), _mm_mul_ps(TY, NX));
            normalise4(BX, BY, BZ);
            __m128 BW = zero;
            _MM_TRANSPOSE4_PS(TX, TY, TZ, TW);
            _MM_TRANSPOSE4_PS(BX, BY, BZ, BW);
            _mm_store_ps(q[0].v[kTangent], TX), _mm_store_ps(q[1].v[kTangent], TY), _mm_store_ps(q[2].v[kTangent], TZ), _mm_store_ps(q[3].v[kTangent], TW);
            _mm_store_ps(q[0].v[kBinormal], BX), _mm_store_ps(q[1].v[kBinormal], BY), _mm_store_ps(q[2].v[kBinormal], BZ), _mm_store_ps(q[3].v[kBinormal], BW);
        }
        _MM_TRANSPOSE4_PS(NX, NY, NZ, NW);
        _mm_store_ps(q[0].v[kNormal], NX), _mm_store_ps(q[1].v[kNormal], NY), _mm_store_ps(q[2].v[kNormal], NZ), _mm_store_ps(q[3].v[kNormal], NW);
    }
#endif
    for (; v < n; ++v) {
        VertexSums& q = s[v];
        const LVec3 normal = normalise({q.v[kNormal][0], q.v[kNormal][1], q.v[kNormal][2]});
        q.v[kNormal][0] = normal.x, q.v[kNormal][1] = normal.y, q.v[kNormal][2] = normal.z;
        if (withTangents) {
            const LVec3 tangent = normalise({q.v[kTangent][0], q.v[kTangent][1], q.v[kTangent][2]});
            const LVec3 binormal = normalise(cross(tangent, normal));
            q.v[kTangent][0] = tangent.x, q.v[kTangent][1] = tangent.y, q.v[kTangent][2] = tangent.z;
            q.v[kBinormal][0] = binormal.x, q.v[kBinormal][1] = binormal.y, q.v[kBinormal][2] = binormal.z;
        }
    }
}

// Reads one of the vectors of a run of VertexSums as a range of LVec3, so
// that a list is filled with one insert: its buffer grows at most once and
// each element is written once.
class Vec3Reader {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = LVec3;
    using difference_type = std::ptrdiff_t;
    using pointer = const LVec3*;
    using reference = LVec3;

    Vec3Reader(const VertexSums* s, int part) : m_s(s), m_part(part) {}
    LVec3 operator*() const
    {
        const float* p = m_s->v[m_part];
        return {p[0], p[1], p[2]};
    }
    Vec3Reader& operator++()
    {
        ++m_s;
        return *this;
    }
    Vec3Reader operator++(int)
    {
        Vec3Reader old = *this;
        ++m_s;
        return old;
    }
    bool operator==(const Vec3Reader& o) const { return m_s == o.m_s; }
    bool operator!=(const Vec3Reader& o) const { return m_s != o.m_s; }

private:
    const VertexSums* m_s;
    int m_part;
};

void append(std::vector<LVec3>& list, const VertexSums* s, size_t n, int part)
{
    list.insert(list.end(), Vec3Reader(s, part), Vec3Reader(s + n, part));
}

} // namespace

// Steps 1, 2, 4 and 5 of CalcNormals (and, with withTextureSpace, the steps
// of CalcTextureSpace).
//
// The sum of a vertex whose faces all share one smoothing-group value (or
// that has no face) adds the face values in adjacency-list order, which is
// face order: scattering the faces in face order gives it, without lists.
// Only the vertices whose faces differ in value (mixed vertices; on real
// meshes the few along the seams between groups) get adjacency lists.
//
// Step 5 rebuilds the lists after the split. They need not be built: the new
// list of a vertex is a subsequence of an old one. Faces only ever gain a
// corner j where they had corner i, so the new list of vertex i holds the
// entries of its old list whose faces stayed with i, and the list of a copy
// j the entries of the group that moved to j, each in the old (face) order,
// a face naming the vertex twice still listed twice. Summing those entries in
// order while walking the old list therefore adds exactly the documented
// terms in the documented order. The sums are kept raw and normalised at the
// end.
//
// The copies are counted (grouped) before anything is written, so that every
// per-vertex list is allocated once at its final length, and the lists that
// are computed whole are written once. The bookkeeping lives in `workspace`:
// block 0 per vertex, block 1 for the mixed vertices.
bool LMesh::SplitAndSmooth(bool withTextureSpace, LBudget& budget, LWorkspace& workspace,
                           const LVertexSource* source)
{
    const uint32_t N = source ? source->Count() : uint32_t(vertices.size());
    const size_t faceCount = faceRecords.size();
    const uint64_t entries = 3 * uint64_t(faceCount);
    if (!budget.TakeWork(3 * uint64_t(N) + 3 * entries + 1))
        return false;

    // Pass 1 over the faces: per vertex, its number of face entries and
    // whether its faces share one value.
    void* perVertex = workspace.Get(0, 2 * Carver::bytes<uint32_t>(N) + Carver::bytes<uint8_t>(N) + Carver::bytes<VertexSums>(N),
                                    budget);
    if (!perVertex)
        return false;
    Carver carve(perVertex);
    uint32_t* count = carve.take<uint32_t>(N);  // then the rank of each mixed vertex
    uint32_t* first = carve.take<uint32_t>(N);
    uint8_t* mixed = carve.take<uint8_t>(N);
    VertexSums* sums = carve.take<VertexSums>(N);
    std::fill(count, count + N, 0u);
    std::fill(mixed, mixed + N, uint8_t(0));
    for (const LFaceRecord& f : faceRecords) {
        const uint32_t value = f.smoothingGroup;
        for (const uint32_t v : {uint32_t(f.a), uint32_t(f.b), uint32_t(f.c)}) {
            if (count[v]++ == 0)
                first[v] = value;
            else if (first[v] != value)
                mixed[v] = 1;
        }
    }
    uint32_t mixedCount = 0;
    uint64_t mixedEntries = 0;
    uint32_t longest = 0;
    for (uint32_t v = 0; v < N; ++v)
        if (mixed[v]) {
            ++mixedCount;
            mixedEntries += count[v];
            longest = std::max(longest, count[v]);
        }

    // The lists of the mixed vertices, in vertex order, each in face order.
    // Every entry of a mixed vertex after its first adds at most one group.
    const uint64_t copyBound = mixedEntries - mixedCount;
    uint32_t* offsets = nullptr;
    uint32_t* lists = nullptr;
    uint32_t* entryGroup = nullptr;
    uint32_t* groupCount = nullptr;
    uint32_t* values = nullptr;
    uint32_t* newIndex = nullptr;
    VertexSums* copySums = nullptr;
    if (mixedCount != 0) {
        void* split = workspace.Get(1,
                                    Carver::bytes<uint32_t>(size_t(mixedCount) + 1) +
                                        2 * Carver::bytes<uint32_t>(mixedEntries) +
                                        Carver::bytes<uint32_t>(mixedCount) + 2 * Carver::bytes<uint32_t>(longest) +
                                        Carver::bytes<VertexSums>(copyBound),
                                    budget);
        if (!split)
            return false;
        Carver carveSplit(split);
        offsets = carveSplit.take<uint32_t>(size_t(mixedCount) + 1);
        lists = carveSplit.take<uint32_t>(mixedEntries);
        entryGroup = carveSplit.take<uint32_t>(mixedEntries);
        groupCount = carveSplit.take<uint32_t>(mixedCount);
        values = carveSplit.take<uint32_t>(longest);
        newIndex = carveSplit.take<uint32_t>(longest);
        copySums = carveSplit.take<VertexSums>(copyBound);
        uint32_t total = 0, rank = 0;
        for (uint32_t v = 0; v < N; ++v)
            if (mixed[v]) {
                total += count[v];
                offsets[rank] = total;  // one past the end of the list
                count[v] = rank++;
            }
        offsets[mixedCount] = total;
        // Filled from the end of each list, faces from the last to the first:
        // each list ends up in face order without a cursor array.
        for (size_t i = faceCount; i-- > 0;) {
            const LFaceRecord& f = faceRecords[i];
            if (mixed[f.c])
                lists[--offsets[count[f.c]]] = uint32_t(i);
            if (mixed[f.b])
                lists[--offsets[count[f.b]]] = uint32_t(i);
            if (mixed[f.a])
                lists[--offsets[count[f.a]]] = uint32_t(i);
        }
    }

    // Group each mixed vertex's faces by smoothing-group value, by first
    // appearance, and count the copies: one for each group after the first,
    // while the vertex count stays addressable by 16-bit corners.
    Grouping grouping;
    size_t finalCount = N;
    for (uint32_t r = 0; r < mixedCount; ++r) {
        const uint32_t begin = offsets[r], n = offsets[r + 1] - begin;
        // Grouping, copies (5 lists), corner replacement and sums.
        if (!budget.TakeWork((Grouping::kWorkPerEntry + 7) * n))
            return false;
        for (uint32_t e = 0; e < n; ++e)
            values[e] = faceRecords[lists[begin + e]].smoothingGroup;
        const uint32_t groups = grouping.assign(values, entryGroup + begin, n, budget);
        if (groups == 0)
            return false;
        groupCount[r] = groups;
        for (uint32_t g = 1; g < groups && finalCount <= 0xFFFF; ++g)
            ++finalCount;
    }
    const uint64_t groupingBytes = grouping.bytesHeld();

    // Every per-vertex list at its final length, with one allocation each.
    if (source) {
        vertices.clear();
        texCoords.clear();
        if (!budget.Reserve(vertices, finalCount) || !budget.Reserve(texCoords, finalCount))
            return false;
        source->Fill(vertices, texCoords);
    } else {
        if (texCoords.size() > N)
            texCoords.resize(N);
        if (!budget.TakeWork(N - texCoords.size()) || !budget.Reserve(vertices, finalCount) ||
            !budget.Reserve(texCoords, finalCount))
            return false;
        texCoords.resize(N);  // missing texture coordinates are (0, 0)
    }
    normals.clear();
    if (withTextureSpace) {
        tangents.clear();
        binormals.clear();
    }
    if (!budget.Reserve(normals, finalCount) || !budget.Reserve(tangents, finalCount) ||
        !budget.Reserve(binormals, finalCount))
        return false;

    // Step 1: the face values.
    if (!budget.TakeWork(faceCount))
        return false;
    validFaceValues(faceRecords.data(), faceCount, vertices, texCoords, withTextureSpace);

    // The sums of every vertex, scattered in face order (those of the mixed
    // vertices are replaced below).
    std::fill(sums, sums + N, VertexSums{});
    if (withTextureSpace) {
        for (const LFaceRecord& f : faceRecords) {
            addFace(sums[f.a], f, true);
            addFace(sums[f.b], f, true);
            addFace(sums[f.c], f, true);
        }
    } else {
        for (const LFaceRecord& f : faceRecords) {
            addFace(sums[f.a], f, false);
            addFace(sums[f.b], f, false);
            addFace(sums[f.c], f, false);
        }
    }

    // Split the mixed vertices, in increasing order (copies are appended in
    // the documented order), replace the corners and sum each resulting
    // vertex's terms in list order (groups refused a copy stay with vertex i).
    uint32_t r = 0;
    for (uint32_t i = 0; i < N && r < mixedCount; ++i) {
        if (!mixed[i])
            continue;
        const uint32_t begin = offsets[r], end = offsets[r + 1];
        const uint32_t groups = groupCount[r++];
        newIndex[0] = i;
        for (uint32_t g = 1; g < groups; ++g) {
            newIndex[g] = i;
            if (vertices.size() > 0xFFFF)
                continue;  // index 65536 and up cannot be stored: the group keeps vertex i
            vertices.push_back(vertices[i]);
            texCoords.push_back(texCoords[i]);
            if (!withTextureSpace) {
                tangents.push_back(tangents[i]);
                binormals.push_back(binormals[i]);
            }
            newIndex[g] = uint32_t(vertices.size() - 1);
            copySums[newIndex[g] - N] = VertexSums{};
        }
        sums[i] = VertexSums{};
        for (uint32_t e = begin; e < end; ++e) {
            const uint32_t target = newIndex[entryGroup[e]];
            LFaceRecord& f = faceRecords[lists[e]];
            if (target == i) {
                addFace(sums[i], f, withTextureSpace);
                continue;
            }
            const uint16_t j = uint16_t(target);
            if (f.a == i)
                f.a = j;
            if (f.b == i)
                f.b = j;
            if (f.c == i)
                f.c = j;
            addFace(copySums[target - N], f, withTextureSpace);
        }
    }

    // Normalise the sums and write the per-vertex values, vertex by vertex.
    const size_t copies = vertices.size() - N;
    if (!budget.TakeWork((withTextureSpace ? 4 : 1) * uint64_t(vertices.size())))
        return false;
    for (const auto& [part, n] : {std::pair<VertexSums*, size_t>{sums, N}, std::pair<VertexSums*, size_t>{copySums, copies}}) {
        finishSums(part, n, withTextureSpace);
        append(normals, part, n, kNormal);
        if (withTextureSpace) {
            append(tangents, part, n, kTangent);
            append(binormals, part, n, kBinormal);
        }
    }
    budget.GiveMemory(groupingBytes);
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
