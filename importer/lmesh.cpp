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
#include <unordered_map>

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

// Groups the smoothing-group values of one vertex's faces by first
// appearance. A short linear list serves the usual handful of groups; a hash
// map takes over when a vertex has many, so no vertex costs quadratic time.
class GroupIndex {
public:
    void reset(uint32_t first)
    {
        m_values.clear();
        m_values.push_back(first);
        m_useMap = false;
    }
    uint32_t indexOf(uint32_t value)
    {
        if (!m_useMap) {
            const uint32_t n = uint32_t(m_values.size());
            for (uint32_t k = 0; k < n; ++k)
                if (m_values[k] == value)
                    return k;
            m_values.push_back(value);
            if (m_values.size() > kLinearLimit) {
                m_useMap = true;
                m_map.clear();
                for (uint32_t k = 0; k < m_values.size(); ++k)
                    m_map.emplace(m_values[k], k);
            }
            return n;
        }
        const auto found = m_map.emplace(value, uint32_t(m_values.size()));
        if (found.second)
            m_values.push_back(value);
        return found.first->second;
    }
    uint32_t count() const { return uint32_t(m_values.size()); }

private:
    static constexpr size_t kLinearLimit = 16;
    std::vector<uint32_t> m_values;
    std::unordered_map<uint32_t, uint32_t> m_map;
    bool m_useMap = false;
};

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

void LMesh::SyncArraySizes()
{
    const size_t n = vertices.size();
    if (normals.size() != n)
        normals.resize(n);
    if (texCoords.size() != n)
        texCoords.resize(n);
    if (tangents.size() != n)
        tangents.resize(n);
    if (binormals.size() != n)
        binormals.resize(n);
    if (triangles.size() != faceRecords.size())
        triangles.resize(faceRecords.size());
}

uint32_t LMesh::RemoveInvalidFaces()
{
    SyncArraySizes();
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
    return uint32_t(n - kept);
}

void LMesh::CopyFaceCorners()
{
    SyncArraySizes();
    const size_t n = faceRecords.size();
    for (size_t i = 0; i < n; ++i)
        triangles[i] = {faceRecords[i].a, faceRecords[i].b, faceRecords[i].c};
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
    RemoveInvalidFaces();  // also restores the length invariants

    // 1. Face normals.
    faceValues(faceRecords.data(), faceRecords.size(), vertices, texCoords, true, false);

    if (useSmoothingGroups) {
        SplitAndSmooth(false);  // steps 2, 4 and 5
    } else {
        // Steps 2 and 3: sums in face order, then normalised.
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
    CopyFaceCorners();
}

void LMesh::CalcNormalsAndTextureSpace()
{
    RemoveInvalidFaces();
    // Face normals, and the per-face step of CalcTextureSpace: the corners'
    // positions and texture coordinates are the same before and after the
    // split (copies carry them), so the face values are too.
    faceValues(faceRecords.data(), faceRecords.size(), vertices, texCoords, true, true);
    SplitAndSmooth(true);
    CopyFaceCorners();
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
void LMesh::SplitAndSmooth(bool withTextureSpace)
{
    const uint32_t N = uint32_t(vertices.size());
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
            split.push_back(i);
            copyBound += end - e;  // each later entry adds at most one group
        }
    }

    if (!split.empty()) {
        const size_t limit = size_t(0xFFFF) + 1;
        const size_t capacity = std::max(vertices.size(), std::min(vertices.size() + copyBound, limit));
        vertices.reserve(capacity);
        normals.reserve(capacity);
        texCoords.reserve(capacity);
        tangents.reserve(capacity);
        binormals.reserve(capacity);
    }

    // Pass 2: split the other vertices, in increasing order (copies are
    // appended in the documented order; the vertices of pass 1 append nothing).
    GroupIndex groups;
    std::vector<uint32_t> entryGroup, newIndex;
    std::vector<LVec3> normalSums, tangentSums;
    for (uint32_t i : split) {
        const uint32_t begin = offsets[i], end = offsets[i + 1];

        // 4.2 Group the faces by smoothing-group value, by first appearance.
        groups.reset(faceRecords[list[begin]].smoothingGroup);
        entryGroup.resize(end - begin);
        for (uint32_t e = begin; e < end; ++e)
            entryGroup[e - begin] = groups.indexOf(faceRecords[list[e]].smoothingGroup);
        const uint32_t groupCount = groups.count();

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
    normaliseAll(normals.data(), normals.size());
    if (withTextureSpace) {
        normaliseAll(tangents.data(), tangents.size());
        binormalsFrom(tangents, normals, binormals);
    }
}

void LMesh::CalcTextureSpace()
{
    SyncArraySizes();
    const size_t vertexCount = vertices.size();

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
}
