// Writes every list of every scene object that L3DS loads from the given
// files to standard output, as raw bytes, so that two builds of the importer
// can be compared byte for byte (cmp). With --corpus DIR it first writes the
// generated corpus of the importer benchmark (scene_corpus.h) to DIR. With
// --one-nan every NaN is written as the same bits: which of two NaNs an
// addition passes on is the compiler's choice (it may swap the operands), so
// builds can differ there, on files with NaN or infinite values, and only
// there.
//
//     importer_dump --corpus DIR && importer_dump DIR/*.3ds > before.bin
#include "scene_corpus.h"

#include <l3ds.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

bool oneNan = false;

void put(const void* data, size_t bytes) { std::fwrite(data, 1, bytes, stdout); }

template <class T>
void putValue(const T& v) { put(&v, sizeof v); }

void putValue(float v)
{
    if (oneNan && std::isnan(v))
        v = std::numeric_limits<float>::quiet_NaN();
    put(&v, sizeof v);
}
void putValue(const LVec2& v) { putValue(v.u), putValue(v.v); }
void putValue(const LVec3& v) { putValue(v.x), putValue(v.y), putValue(v.z); }
void putValue(const LVec4& v) { putValue(v.x), putValue(v.y), putValue(v.z), putValue(v.w); }
void putValue(const LColorRGB& v) { putValue(v.r), putValue(v.g), putValue(v.b); }
void putValue(const LMat4& m)
{
    for (float v : m.m)
        putValue(v);
}

void putString(const std::string& s)
{
    putValue(uint64_t(s.size()));
    put(s.data(), s.size());
}

template <class T>
void putList(const std::vector<T>& list)
{
    putValue(uint64_t(list.size()));
    for (const T& v : list)
        putValue(v);
}

// Padding bytes are not values: the face record's fields one by one.
void putFaces(const std::vector<LFaceRecord>& faces)
{
    putValue(uint64_t(faces.size()));
    for (const LFaceRecord& f : faces) {
        putValue(f.a), putValue(f.b), putValue(f.c), putValue(f.smoothingGroup);
        putValue(f.faceNormal), putValue(f.faceTangent), putValue(f.faceBinormal), putValue(f.materialId);
    }
}

void putMap(const LTextureMap& m)
{
    putValue(m.strength);
    put(m.mapName, sizeof m.mapName);
    putValue(m.uScale), putValue(m.vScale), putValue(m.uOffset), putValue(m.vOffset), putValue(m.angle);
}

void dump(L3DS& importer, int level)
{
    putValue(level);
    putValue(importer.GetMeshCount());
    for (uint32_t i = 0; i < importer.GetMeshCount(); ++i) {
        const LMesh& m = importer.GetMesh(i);
        putString(m.GetName());
        putList(m.vertices), putList(m.normals), putList(m.binormals), putList(m.tangents);
        putList(m.texCoords), putList(m.triangles);
        putFaces(m.faceRecords);
        putValue(m.matrix);
        putList(m.materials);
    }
    putValue(importer.GetMaterialCount());
    for (uint32_t i = 0; i < importer.GetMaterialCount(); ++i) {
        const LMaterial& m = importer.GetMaterial(i);
        putString(m.GetName());
        putValue(m.id);
        for (const LTextureMap* map : {&m.textureMap1, &m.textureMap2, &m.opacityMap, &m.reflectionMap, &m.bumpMap,
                                       &m.specularMap})
            putMap(*map);
        putValue(m.ambient), putValue(m.diffuse), putValue(m.specular);
        putValue(m.shininess), putValue(m.transparency), putValue(m.shading);
    }
    putValue(importer.GetLightCount());
    for (uint32_t i = 0; i < importer.GetLightCount(); ++i) {
        const LLight& l = importer.GetLight(i);
        putString(l.GetName());
        putValue(l.position), putValue(l.color), putValue(l.spotlight), putValue(l.target);
        putValue(l.hotspot), putValue(l.falloff), putValue(l.outerRange), putValue(l.innerRange);
    }
    putValue(importer.GetCameraCount());
    for (uint32_t i = 0; i < importer.GetCameraCount(); ++i) {
        const LCamera& c = importer.GetCamera(i);
        putString(c.GetName());
        putValue(c.position), putValue(c.target), putValue(c.bank), putValue(c.fov), putValue(c.nearPlane),
            putValue(c.farPlane);
    }
}

} // namespace

int main(int argc, char** argv)
{
    int first = 1;
    if (argc >= 2 && std::strcmp(argv[1], "--one-nan") == 0) {
        oneNan = true;
        ++argv, --argc;
    }
    if (argc >= 3 && std::strcmp(argv[1], "--corpus") == 0) {
        for (const corpus::File& file : corpus::generate())
            if (!filewriters::writeFile(std::string(argv[2]) + "/" + file.name, file.bytes)) {
                std::fprintf(stderr, "cannot write %s\n", file.name.c_str());
                return 1;
            }
        first = 3;
    }
    // Every file at every post-processing level, with a fresh importer and
    // with one importer reused for all files (its earlier loads must leave
    // no trace).
    L3DS reused;
    for (int level : {2, 1, 0, -1}) {
        reused.SetPostProcessLevel(level);
        for (int i = first; i < argc; ++i) {
            L3DS fresh;
            fresh.SetPostProcessLevel(level);
            putValue(fresh.LoadFile(argv[i]));
            dump(fresh, level);
            putValue(reused.LoadFile(argv[i]));
            dump(reused, level);
        }
    }
    return 0;
}
