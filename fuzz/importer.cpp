// Fuzz target: L3DS::LoadMemory on arbitrary bytes, at every post-process
// level, then checks that every mesh is drawable.
#include <l3ds.h>

#include <cstdint>
#include <cstdlib>

namespace {

// A 2-byte count in a vertex, texture-coordinate or face list sizes a mesh
// at up to 65,535 elements whatever the input's length (values past the end
// read as 0). Keep the number of such lists small so that the fuzzer
// explores parsing, not allocation.
bool tooManySizedLists(const uint8_t* data, size_t size)
{
    int lists = 0;
    for (size_t i = 0; i + 1 < size; ++i)
        if (data[i + 1] == 0x41 && (data[i] == 0x10 || data[i] == 0x20 || data[i] == 0x40))
            ++lists;
    return lists > 24;
}

void check(const L3DS& importer)
{
    for (uint32_t i = 0; i < importer.GetMeshCount(); ++i) {
        const LMesh& mesh = importer.GetMesh(i);
        const uint32_t vertices = mesh.GetVertexCount();
        if (mesh.normals.size() != vertices || mesh.texCoords.size() != vertices ||
            mesh.tangents.size() != vertices || mesh.binormals.size() != vertices ||
            mesh.faceRecords.size() != mesh.GetTriangleCount())
            std::abort();
        const uint16_t* index = reinterpret_cast<const uint16_t*>(mesh.GetTriangleData());
        for (uint32_t k = 0; k < 3 * mesh.GetTriangleCount(); ++k)
            if (index[k] >= vertices)
                std::abort();
    }
    for (uint32_t i = 0; i < importer.GetMaterialCount(); ++i)
        if (importer.GetMaterial(i).id != i)
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20) || tooManySizedLists(data, size))
        return 0;
    L3DS importer;
    importer.LoadMemory(data, uint32_t(size));
    check(importer);
    // Levels 0 and 1 take other paths through post-processing.
    const int level = size > 0 ? data[size - 1] % 3 : 0;
    if (level != 2) {
        importer.SetPostProcessLevel(level);
        importer.LoadMemory(data, uint32_t(size));
        check(importer);
    }
    return 0;
}
