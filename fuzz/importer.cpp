// Fuzz target: L3DS::LoadMemory on arbitrary bytes, at every post-process
// level, then checks that every mesh is drawable.
//
// The mutator knows the chunk structure: it reads the input as a tree of
// chunks, edits the tree (counts, lengths, ids, nesting, duplication, new
// chunks) and writes it back, so that deep and repeated chunk combinations
// are reached, which byte mutations alone seldom build.
#include <l3ds.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

// libFuzzer's own byte mutator; absent from the replay program, which never mutates.
extern "C" __attribute__((weak)) size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace {

// Larger inputs add nothing the fuzzer needs, and this keeps a load's budget
// (16 MiB + 64 bytes per input byte) far inside the fuzzer's memory limit.
constexpr size_t kMaxInput = 256 * 1024;

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

// --- the chunk tree --------------------------------------------------------------

using Bytes = std::vector<uint8_t>;

struct Node {
    uint16_t id = 0;
    Bytes head;  // a parent's data before its first child; a leaf's whole contents
    std::vector<Node> children;
    bool parent = false;
    bool fixedLength = false;  // write `length` instead of the true length
    uint32_t length = 0;
};

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) { return uint32_t(le16(p)) | (uint32_t(le16(p + 2)) << 16); }

// The data that chunk `id` holds before its sub-chunks, when that is known.
size_t headLength(uint16_t id, const uint8_t* p, size_t n)
{
    switch (id) {
    case 0x4000: {  // name
        const void* zero = std::memchr(p, 0, n);
        return zero ? size_t(static_cast<const uint8_t*>(zero) - p) + 1 : n;
    }
    case 0x4120:  // faces
        return n >= 2 ? std::min(n, 2 + 8 * size_t(le16(p))) : n;
    case 0x4600:
        return std::min<size_t>(n, 12);
    case 0x4700:
        return std::min<size_t>(n, 32);
    default:
        return 0;
    }
}

// Reads [p, p + n) as a sequence of chunks; false when it is not exactly that.
bool parseChunks(const uint8_t* p, size_t n, std::vector<Node>& out, int depth)
{
    size_t at = 0;
    while (at < n) {
        if (n - at < 6)
            return false;
        const uint32_t length = le32(p + at + 2);
        if (length < 6 || length > n - at)
            return false;
        Node node;
        node.id = le16(p + at);
        const uint8_t* contents = p + at + 6;
        const size_t size = length - 6;
        const size_t head = headLength(node.id, contents, size);
        std::vector<Node> children;
        if (depth < 12 && head < size && parseChunks(contents + head, size - head, children, depth + 1)) {
            node.parent = true;
            node.head.assign(contents, contents + head);
            node.children = std::move(children);
        } else {
            node.head.assign(contents, contents + size);
        }
        out.push_back(std::move(node));
        at += length;
    }
    return true;
}

void write(const Node& node, Bytes& out)
{
    const size_t at = out.size();
    out.push_back(uint8_t(node.id));
    out.push_back(uint8_t(node.id >> 8));
    out.resize(at + 6);
    out.insert(out.end(), node.head.begin(), node.head.end());
    for (const Node& child : node.children)
        write(child, out);
    const uint32_t length = node.fixedLength ? node.length : uint32_t(out.size() - at);
    for (int i = 0; i < 4; ++i)
        out[at + 2 + i] = uint8_t(length >> (8 * i));
}

// A whole input: its chunks and whatever trails them.
struct Tree {
    Node root;  // a pseudo-parent of the top-level chunks
    Bytes tail;

    void read(const uint8_t* data, size_t size)
    {
        root = Node();
        root.parent = true;
        size_t top = size;
        // The longest prefix that parses as chunks; the rest is kept as it is.
        while (top > 0 && !parseChunks(data, top, root.children, 0)) {
            root.children.clear();
            top = top > 6 ? (top - 1) : 0;
            if (size - top > 64) {  // no structure: one leaf-less tree
                top = 0;
                break;
            }
        }
        tail.assign(data + top, data + size);
    }
    Bytes bytes() const
    {
        Bytes out;
        for (const Node& child : root.children)
            write(child, out);
        out.insert(out.end(), tail.begin(), tail.end());
        return out;
    }
};

void collect(Node& node, std::vector<Node*>& all, std::vector<Node*>& parents)
{
    if (node.parent)
        parents.push_back(&node);
    for (Node& child : node.children) {
        all.push_back(&child);
        collect(child, all, parents);
    }
}

const uint16_t kIds[] = {
    0x4D4D, 0x3D3D, 0x4000, 0x4100, 0x4110, 0x4120, 0x4130, 0x4140, 0x4150, 0x4160, 0x4600, 0x4610,
    0x4659, 0x465A, 0x4700, 0x4720, 0xB000, 0xB002, 0xB010, 0xB013, 0xB020, 0xB021, 0xB022, 0xAFFF,
    0xA000, 0xA010, 0xA020, 0xA030, 0xA040, 0xA050, 0xA085, 0xA100, 0xA200, 0xA204, 0xA210, 0xA220,
    0xA230, 0xA33A, 0xA300, 0xA354, 0xA356, 0xA358, 0xA35A, 0xA35C, 0x0010, 0x0011, 0x0012, 0x0013,
    0x0030, 0x0031,
};
const uint16_t kCounts[] = {0, 1, 2, 3, 7, 8, 16, 255, 256, 1000, 0x7FFF, 0xFFFE, 0xFFFF};
const uint32_t kLengths[] = {0, 1, 5, 6, 7, 8, 12, 0x7FFFFFFF, 0xFFFFFFFF, 0xFFFFFFFA};
const char* const kNames[] = {"", "x", "Box01", "Mat", "ABCDEFGHIJKLMNOPQRSTUVWXYZabcd"};

// A new chunk with plausible contents.
Node newChunk(std::minstd_rand& rng)
{
    Node node;
    node.id = kIds[rng() % (sizeof kIds / sizeof kIds[0])];
    auto u16 = [&](uint16_t v) {
        node.head.push_back(uint8_t(v));
        node.head.push_back(uint8_t(v >> 8));
    };
    auto name = [&] {
        const char* s = kNames[rng() % (sizeof kNames / sizeof kNames[0])];
        node.head.insert(node.head.end(), s, s + std::strlen(s) + 1);
    };
    switch (node.id) {
    case 0x4000:
    case 0xA000:
    case 0xA300:
    case 0xB010:
        name();
        break;
    case 0x4130:
        name();
        [[fallthrough]];
    case 0x4110:
    case 0x4120:
    case 0x4140: {
        const uint16_t count = uint16_t(rng() % 5 == 0 ? kCounts[rng() % 13] : rng() % 8);
        u16(count);
        const size_t bytes = node.id == 0x4110 ? 12 : node.id == 0x4130 ? 2 : 8;
        for (size_t i = 0; i < count * bytes && i < 256; ++i)
            node.head.push_back(uint8_t(rng() % 4 == 0 ? rng() : 0));
        break;
    }
    default:
        for (size_t i = rng() % 16; i > 0; --i)
            node.head.push_back(uint8_t(rng()));
        break;
    }
    node.parent = node.id == 0x4D4D || node.id == 0x3D3D || node.id == 0x4000 || node.id == 0x4100 ||
                  node.id == 0xAFFF || node.id == 0xB000 || node.id == 0xB002 || node.id == 0x4120;
    return node;
}

// One edit of the tree; false when it had nothing to work on.
bool edit(Tree& tree, std::minstd_rand& rng, size_t maxSize)
{
    std::vector<Node*> all, parents;
    collect(tree.root, all, parents);
    Node* some = all.empty() ? nullptr : all[rng() % all.size()];
    Node* parent = parents[rng() % parents.size()];
    switch (rng() % 9) {
    case 0: {  // a count: after the name of a face group, else first in the data
        if (!some)
            return false;
        size_t at = 0;
        if (some->id == 0x4130) {
            const auto zero = std::find(some->head.begin(), some->head.end(), uint8_t(0));
            at = zero == some->head.end() ? some->head.size() : size_t(zero - some->head.begin()) + 1;
        }
        if (some->head.size() < at + 2)
            return false;
        const uint16_t v = kCounts[rng() % (sizeof kCounts / sizeof kCounts[0])];
        some->head[at] = uint8_t(v);
        some->head[at + 1] = uint8_t(v >> 8);
        return true;
    }
    case 1:  // a length
        if (!some)
            return false;
        some->fixedLength = true;
        some->length = rng() % 2 ? kLengths[rng() % (sizeof kLengths / sizeof kLengths[0])]
                                 : uint32_t(6 + some->head.size() + rng() % 64);
        return true;
    case 2:  // an id
        if (!some)
            return false;
        some->id = kIds[rng() % (sizeof kIds / sizeof kIds[0])];
        return true;
    case 3: {  // duplication, up to many copies in a row
        if (!some)
            return false;
        Node copy = *some;
        for (Node* p : parents)
            for (size_t i = 0; i < p->children.size(); ++i)
                if (&p->children[i] == some) {
                    const size_t copies = rng() % 4 == 0 ? 1 + rng() % 200 : 1 + rng() % 3;
                    p->children.insert(p->children.begin() + long(i) + 1, copies, copy);
                    return true;
                }
        return false;
    }
    case 4:  // removal
        for (Node* p : parents)
            for (size_t i = 0; i < p->children.size(); ++i)
                if (&p->children[i] == some) {
                    p->children.erase(p->children.begin() + long(i));
                    return true;
                }
        return false;
    case 5: {  // nesting: a copy of a chunk inside another parent
        if (!some)
            return false;
        Node copy = *some;
        parent->children.insert(parent->children.begin() + long(rng() % (parent->children.size() + 1)),
                                std::move(copy));
        return true;
    }
    case 6:  // a new chunk
        parent->children.insert(parent->children.begin() + long(rng() % (parent->children.size() + 1)),
                                newChunk(rng));
        return true;
    case 7:  // swap two siblings
        if (parent->children.size() < 2)
            return false;
        std::swap(parent->children[rng() % parent->children.size()],
                  parent->children[rng() % parent->children.size()]);
        return true;
    default:  // bytes inside one chunk
        if (!some || !LLVMFuzzerMutate)
            return false;
        {
            const size_t size = some->head.size();
            some->head.resize(std::min(maxSize, 2 * size + 16));
            some->head.resize(LLVMFuzzerMutate(some->head.data(), size, some->head.size()));
        }
        return true;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > kMaxInput)
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

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int seed)
{
    std::minstd_rand rng(seed);
    if (rng() % 8 != 0) {
        Tree tree;
        tree.read(data, size);
        bool changed = false;
        for (unsigned edits = 1 + rng() % 3; edits > 0; --edits)
            changed |= edit(tree, rng, maxSize);
        const Bytes out = tree.bytes();
        if (changed && out.size() <= maxSize) {
            std::copy(out.begin(), out.end(), data);
            return out.size();
        }
    }
    return LLVMFuzzerMutate(data, size, maxSize);
}

// Splices a chunk of the second input into a parent of the first.
extern "C" size_t LLVMFuzzerCustomCrossOver(const uint8_t* data1, size_t size1, const uint8_t* data2, size_t size2,
                                            uint8_t* out, size_t maxOutSize, unsigned int seed)
{
    std::minstd_rand rng(seed);
    Tree first, second;
    first.read(data1, size1);
    second.read(data2, size2);
    std::vector<Node*> all1, parents1, all2, parents2;
    collect(first.root, all1, parents1);
    collect(second.root, all2, parents2);
    if (all2.empty())
        return 0;
    Node* parent = parents1[rng() % parents1.size()];
    parent->children.insert(parent->children.begin() + long(rng() % (parent->children.size() + 1)),
                            *all2[rng() % all2.size()]);
    const Bytes bytes = first.bytes();
    if (bytes.size() > maxOutSize)
        return 0;
    std::copy(bytes.begin(), bytes.end(), out);
    return bytes.size();
}
