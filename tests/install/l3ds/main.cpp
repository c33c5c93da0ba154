// Reads a 3DS file and lists its meshes; fails when it holds no triangle.
#include <l3ds.h>

#include <cstdio>

int main(int argc, char** argv)
{
    L3DS scene;
    if (argc < 2 || !scene.LoadFile(argv[1]))
        return 1;
    uint32_t triangles = 0;
    for (uint32_t i = 0; i < scene.GetMeshCount(); ++i) {
        const LMesh& mesh = scene.GetMesh(i);
        std::printf("%s: %u vertices, %u triangles\n", mesh.GetName().c_str(), mesh.GetVertexCount(),
                    mesh.GetTriangleCount());
        triangles += mesh.GetTriangleCount();
    }
    return triangles > 0 ? 0 : 1;
}
