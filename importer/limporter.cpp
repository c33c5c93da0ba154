// Scene objects and the abstract importer.
#include "lobjects.h"

#include <new>
#include <utility>

LMat4 LMat4::Identity()
{
    LMat4 r = {};
    r.m[0] = r.m[5] = r.m[10] = r.m[15] = 1.0f;
    return r;
}

void* LWorkspace::Get(int block, size_t bytes)
{
    if (bytes > m_capacity[block] || !m_block[block]) {
        // Grown to what is asked, in whole pages, the old contents dropped.
        const size_t cells = ((bytes | 1) + 4095) / 4096 * (4096 / sizeof(Cell));
        m_block[block].reset();
        m_capacity[block] = 0;
        m_block[block].reset(new (std::nothrow) Cell[cells]);
        if (!m_block[block])
            return nullptr;
        m_capacity[block] = cells * sizeof(Cell);
    }
    return m_block[block].get();
}

void* LWorkspace::Get(int block, size_t bytes, LBudget& budget)
{
    const uint64_t cost = LBudget::BlockBytes(bytes);
    if (cost > m_charged[block]) {
        if (!budget.TakeMemory(cost - m_charged[block]))
            return nullptr;
        m_charged[block] = cost;
    }
    return Get(block, bytes);
}

LVertexSource::~LVertexSource() = default;

LObject::~LObject() = default;

const std::string& LObject::GetName() const { return name; }

void LObject::SetName(const std::string& value) { name = value; }

static float clamp01(float v)
{
    if (v < 0.0f)
        return 0.0f;
    if (v > 1.0f)
        return 1.0f;
    return v;
}

void LMaterial::SetShininess(float value) { shininess = clamp01(value); }

void LMaterial::SetTransparency(float value) { transparency = clamp01(value); }

LImporter::LImporter() { Clear(); }

LImporter::~LImporter() { LImporter::Clear(); }

void LImporter::Clear()
{
    meshes.clear();
    lights.clear();
    materials.clear();
    cameras.clear();
    postProcessLevel = 2;
}

template <class T>
static T* findByName(std::vector<T>& list, const std::string& name)
{
    for (T& item : list)
        if (item.GetName() == name)
            return &item;
    return nullptr;
}

LMesh* LImporter::FindMesh(const std::string& name) { return findByName(meshes, name); }

const LMesh* LImporter::FindMesh(const std::string& name) const
{
    return findByName(const_cast<std::vector<LMesh>&>(meshes), name);
}

LMaterial* LImporter::FindMaterial(const std::string& name) { return findByName(materials, name); }

const LMaterial* LImporter::FindMaterial(const std::string& name) const
{
    return findByName(const_cast<std::vector<LMaterial>&>(materials), name);
}

LMaterial& LImporter::AddMaterial(LMaterial material)
{
    materials.push_back(std::move(material));
    materials.back().id = uint32_t(materials.size() - 1);
    return materials.back();
}
