// The loose quadtree that levels file their entities in, and that terrain, grid regions and water
// file their pieces in: nodes split the x/z plane in four, each node's box is 1.09 times its
// nominal square and grows (on every axis) to cover what lands in it, and an object sinks to the
// deepest node whose candidate child box still holds it in x and z. Objects are not owned: each
// keeps the node that holds it, reached through SpaceTraits<T>; each node keeps its objects in an
// array with a copy of each box (queries test a node's array instead of visiting each object; the
// owner refreshes a copy whenever an object's box changes, Space::RefreshBox). Node lists run from
// the last added object to the first; children are visited in slot order (slot = greater x ? 1 :
// 0 + greater z ? 2 : 0), and every walk, query and file order follows that.
//
// Layout, for walks that are bound by memory more than by arithmetic: a node is four cache lines
// in its tree's pool. The first holds its own box and object count, the second its first two
// objects (more go to an array from the same pool): what a move reads. The last two hold the
// children and their boxes side by side, so that a node tests its four children together without
// touching them, and only the children that pass are visited. The children's boxes are copies of
// their own boxes, written whenever those change.
//
// Depth is bounded (1000) but a zero-sized object in a zero-sized tree does reach the limit, so
// nothing here recurses: insertion, pruning, deletion and every query walk iterate. Node boxes that
// grow are padded by a few units in the last place, so that no object pokes out of its node by
// rounding (walks skip nodes by their boxes).
//
// Main thread only (a level's loading thread fills its tree before the level is handed out);
// nothing locks.
#pragma once

#include "core/ABBox.h"
#include "core/Frustum.h"
#include "core/Intersect.h"
#include "core/Intersection.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace GAME {

template <class T> class SpaceNode;
template <class T> class SpacePool;

// The link an object keeps for the tree that holds it.
template <class T> struct SpaceLinks
{
    SpaceNode<T>* node = nullptr;
    // Where the object sat in its node's array when last seen. Entries only ever move towards the
    // front (when an earlier one leaves), so the object is found searching down from here.
    uint32_t slot = 0;
};

// A node's copy of one object's box.
template <class T> struct SpaceEntry
{
    T* object;
    ABBox box;
};

// How the tree reaches an object's links and box. The default asks the object; a kind whose
// accessors are private befriends its specialisation or this template.
template <class T> struct SpaceTraits
{
    static SpaceLinks<T>& Links(T* object) { return object->GetSpaceLinks(); }
    static const ABBox& Box(const T* object) { return object->GetSpaceBox(); }
};

// Classifies a box against the planes whose bits are set in mask (inside: n.p + d >= 0): 0 the box
// lies wholly behind one of them, 1 it straddles (the bits of planes it lies wholly in front of
// are cleared), 2 it is in front of every active plane. Planes past the 32nd are always tested.
int ClassifyBoxAgainstPlanes(const Vec3& center, const Vec3& half, const Frustum& frustum, uint32_t& mask);

// A frustum's planes laid out for the tree's walks: four children's boxes classified against one
// plane at a time, or one object's box against four planes at a time. Each lane does the
// operations of the one-box tests (ClassifyBoxAgainstPlanes, ABBoxInFrustum) in their order, so
// the answers are the same to the last bit.
class SpaceFrustum
{
public:
    explicit SpaceFrustum(const Frustum& frustum);
    SpaceFrustum(const SpaceFrustum&) = delete;
    SpaceFrustum& operator=(const SpaceFrustum&) = delete;

    const Frustum& GetFrustum() const { return m_frustum; }

    // ABBoxInFrustum: no plane has the box's furthest corner behind it (false without planes).
    bool BoxInFrustum(const ABBox& box) const
    {
        if (m_count == 0)
            return false;
#if defined(__SSE2__)
        const __m128 lo = _mm_loadu_ps(&box.center.x); // centre x, y, z, extent x
        const __m128 cx = _mm_shuffle_ps(lo, lo, 0x00), cy = _mm_shuffle_ps(lo, lo, 0x55),
                     cz = _mm_shuffle_ps(lo, lo, 0xaa), ex = _mm_shuffle_ps(lo, lo, 0xff);
        const __m128 ey = _mm_set1_ps(box.extents.y), ez = _mm_set1_ps(box.extents.z);
        for (unsigned g = 0; g < m_groups; ++g) {
            const Group& p = m_group[g];
            // The corner furthest along each normal: the extent, negated where the normal's
            // component is not positive.
            const __m128 x = _mm_add_ps(cx, _mm_xor_ps(ex, p.sx));
            const __m128 y = _mm_add_ps(cy, _mm_xor_ps(ey, p.sy));
            const __m128 z = _mm_add_ps(cz, _mm_xor_ps(ez, p.sz));
            const __m128 dot = _mm_add_ps(_mm_add_ps(_mm_mul_ps(p.nx, x), _mm_mul_ps(p.ny, y)), _mm_mul_ps(p.nz, z));
            const __m128 behind = _mm_cmplt_ps(_mm_add_ps(dot, p.d), _mm_setzero_ps());
            if (_mm_movemask_ps(behind) & p.valid)
                return false;
        }
        return true;
#else
        return ABBoxInFrustum(box, m_frustum);
#endif
    }

    // ClassifyBoxAgainstPlanes for the boxes of slots 0 to 3 (centres cx, cy, cz, half-extents hx,
    // hy, hz by slot), all starting from mask: states and masks by slot.
    void Classify4(const float* cx, const float* cy, const float* cz, const float* hx, const float* hy,
                   const float* hz, uint32_t mask, int states[4], uint32_t masks[4]) const
    {
#if defined(__SSE2__)
        const __m128 vcx = _mm_load_ps(cx), vcy = _mm_load_ps(cy), vcz = _mm_load_ps(cz);
        const __m128 vhx = _mm_load_ps(hx), vhy = _mm_load_ps(hy), vhz = _mm_load_ps(hz);
        const __m128 zero = _mm_setzero_ps();
        __m128 outside = zero, straddles = zero;
        __m128i laneMasks = _mm_set1_epi32(static_cast<int>(mask));
        for (unsigned i = 0; i < m_count; ++i) {
            const uint32_t bit = i < 32 ? (1u << i) : 0u;
            if (i < 32 && !(mask & bit))
                continue;
            const Row& p = m_row[i];
            const __m128 c = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(p.nx), vcx),
                                                              _mm_mul_ps(_mm_set1_ps(p.ny), vcy)),
                                                   _mm_mul_ps(_mm_set1_ps(p.nz), vcz)),
                                        _mm_set1_ps(p.d));
            const __m128 r = _mm_add_ps(
                _mm_add_ps(_mm_mul_ps(_mm_set1_ps(p.ax), vhx), _mm_mul_ps(_mm_set1_ps(p.ay), vhy)),
                _mm_mul_ps(_mm_set1_ps(p.az), vhz));
            outside = _mm_or_ps(outside, _mm_cmplt_ps(_mm_add_ps(c, r), zero));
            const __m128 cuts = _mm_cmplt_ps(_mm_sub_ps(c, r), zero);
            straddles = _mm_or_ps(straddles, cuts);
            // Lanes wholly in front of the plane drop its bit.
            laneMasks = _mm_andnot_si128(_mm_andnot_si128(_mm_castps_si128(cuts), _mm_set1_epi32(static_cast<int>(bit))),
                                         laneMasks);
        }
        const int out = _mm_movemask_ps(outside), cut = _mm_movemask_ps(straddles);
        alignas(16) uint32_t lanes[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), laneMasks);
        for (int s = 0; s < 4; ++s) {
            states[s] = (out >> s) & 1 ? 0 : (cut >> s) & 1 ? 1 : 2;
            masks[s] = lanes[s];
        }
#else
        for (int s = 0; s < 4; ++s) {
            masks[s] = mask;
            states[s] = ClassifyBoxAgainstPlanes(Vec3(cx[s], cy[s], cz[s]), Vec3(hx[s], hy[s], hz[s]), m_frustum,
                                                 masks[s]);
        }
#endif
    }

private:
    struct Row
    {
        float nx, ny, nz, d, ax, ay, az; // normal, distance, |normal|
    };
#if defined(__SSE2__)
    struct Group
    {
        __m128 nx, ny, nz, d, sx, sy, sz; // four planes; s: sign bits of the normals not above 0
        int valid;                         // the lanes that hold planes
    };
#endif
    static constexpr unsigned inlinePlanes = 16;

    const Frustum& m_frustum;
    unsigned m_count;
    const Row* m_row;
    Row m_inlineRows[inlinePlanes];
    std::vector<Row> m_moreRows;
#if defined(__SSE2__)
    unsigned m_groups;
    const Group* m_group;
    Group m_inlineGroups[inlinePlanes / 4];
    std::vector<Group> m_moreGroups;
#endif
};

// Widens the node's vertical extent, and its ancestors', to cover [low, high]; stops at the first
// node that already covers it. A widened extent is padded by a few units in the last place so that
// rounding never leaves the range poking out.
template <class Node> void GrowSpatialTreeHeight(Node* node, float low, float high)
{
    while (node) {
        float top = node->center.y + node->half.y;
        float bottom = node->center.y - node->half.y;
        bool changed = false;
        if (high > top) {
            top = high;
            changed = true;
        }
        if (low < bottom) {
            bottom = low;
            changed = true;
        }
        if (!changed)
            return;
        node->center.y = (top + bottom) * 0.5f;
        node->half.y = (top - bottom) * 0.5f * (1.0f + 1e-6f) + std::fabs(node->center.y) * 1e-6f;
        node->CopyBoxToParent();
        node = node->parent;
    }
}

// Deletes the emptied child of parent, then every ancestor left without objects or children that
// has a parent of its own. Returns the lowest node that survived (the root is never deleted).
template <class Node> Node* PruneSpatialTreeNode(Node* parent, Node* emptied)
{
    while (parent) {
        for (unsigned slot = 0; slot < 4; ++slot)
            if (parent->children[slot] == emptied)
                parent->children[slot] = nullptr;
        Node::Destroy(emptied);
        if (!parent->IsEmpty() || !parent->parent)
            return parent;
        emptied = parent;
        parent = parent->parent;
    }
    return nullptr;
}

// A small stack that lives on the caller's stack until a walk goes deep.
template <class E, unsigned N = 96> class SpaceWalkStack
{
public:
    void Push(const E& e)
    {
        if (m_size < N)
            m_inline[m_size] = e;
        else
            m_overflow.push_back(e);
        ++m_size;
    }
    bool Empty() const { return m_size == 0; }
    // The entry Pop would return; the stack must not be empty.
    const E& Top() const { return m_size <= N ? m_inline[m_size - 1] : m_overflow.back(); }
    E Pop()
    {
        --m_size;
        if (m_size < N)
            return m_inline[m_size];
        E e = m_overflow.back();
        m_overflow.pop_back();
        return e;
    }

private:
    E m_inline[N];
    std::vector<E> m_overflow;
    unsigned m_size = 0;
};

template <class T> class alignas(64) SpaceNode
{
public:
    using Entry = SpaceEntry<T>;
    static constexpr unsigned inlineEntries = 2;

    SpaceNode(SpaceNode* parent_, unsigned slot_, const Vec3& center_, const Vec3& half_, unsigned depth_)
        : center(center_), half(half_), depth(depth_), parent(parent_), slot(slot_)
    {
        if (parent)
            parent->children[slot] = this;
        CopyBoxToParent();
    }
    SpaceNode(const SpaceNode&) = delete;
    SpaceNode& operator=(const SpaceNode&) = delete;

    // Returns the node, and its subtree, to the pool; objects still filed are unlinked.
    static void Destroy(SpaceNode* node);

    bool HasChildren() const { return children[0] || children[1] || children[2] || children[3]; }
    bool IsEmpty() const { return count == 0 && !HasChildren(); }
    ABBox GetBox() const { return ABBox(center, half); }
    unsigned GetObjectCount() const { return count; }
    // The object at position index of the node's list (0: the last added).
    T* GetObject(unsigned index) const { return index < count ? entries[count - 1 - index].object : nullptr; }
    // The node's array, first added first; lists run from the back.
    const Entry* Begin() const { return entries; }
    const Entry* End() const { return entries + count; }

    // The parent's copy of this node's box follows the box.
    void CopyBoxToParent()
    {
        if (!parent)
            return;
        parent->childCX[slot] = center.x;
        parent->childCY[slot] = center.y;
        parent->childCZ[slot] = center.z;
        parent->childHX[slot] = half.x;
        parent->childHY[slot] = half.y;
        parent->childHZ[slot] = half.z;
    }

    // First line: what every visit reads (a move mostly reads nothing else).
    Vec3 center;
    Vec3 half;
    unsigned count = 0;
    unsigned depth;
    Entry* entries = m_inline;
    SpaceNode* parent;
    unsigned capacity = inlineEntries;
    unsigned slot; // in the parent

private:
    // Second line: the first objects.
    alignas(64) Entry m_inline[inlineEntries];

public:
    // Last two lines: the children, and their boxes by slot (x and z first, which the box query
    // reads).
    alignas(64) SpaceNode* children[4] = {nullptr, nullptr, nullptr, nullptr};
    alignas(16) float childCX[4] = {};
    float childCZ[4] = {};
    float childHX[4] = {};
    float childHZ[4] = {};
    float childCY[4] = {};
    float childHY[4] = {};

private:
    friend class SpacePool<T>;
    template <class> friend class Space;
};

// Where the nodes of one tree, and their object arrays past the first two, live: 64 KiB chunks
// aligned to their size, whose first bytes name the pool, so that a node deleted far from its
// tree (pruning after an object's own removal) finds its way back. Freed blocks are reused first,
// so that a tree's nodes stay close together in memory, which is what its walks pay for. Owned by
// its tree; freed with it.
template <class T> class SpacePool
{
public:
    using Node = SpaceNode<T>;
    using Entry = SpaceEntry<T>;
    static constexpr size_t chunkSize = size_t(1) << 16;

    SpacePool() = default;
    ~SpacePool()
    {
        for (void* chunk : m_chunks)
            std::free(chunk);
    }
    SpacePool(const SpacePool&) = delete;
    SpacePool& operator=(const SpacePool&) = delete;

    static SpacePool* Of(const Node* node)
    {
        return *reinterpret_cast<SpacePool* const*>(reinterpret_cast<uintptr_t>(node) & ~(chunkSize - 1));
    }

    // Null when memory runs out.
    template <class... Args> Node* MakeNode(Args&&... args)
    {
        void* p = Take(0, sizeof(Node));
        return p ? new (p) Node(std::forward<Args>(args)...) : nullptr;
    }
    void FreeNode(Node* node)
    {
        if (node->entries != node->m_inline)
            FreeEntries(node->entries, node->capacity);
        node->~Node();
        Give(0, node);
    }

    // An array for capacity entries (a power of two above the node's own two).
    Entry* TakeEntries(unsigned capacity)
    {
        const unsigned c = Class(capacity);
        if (c < classes)
            return static_cast<Entry*>(Take(c, sizeof(Entry) * capacity));
        return static_cast<Entry*>(std::aligned_alloc(64, sizeof(Entry) * capacity));
    }
    void FreeEntries(Entry* entries, unsigned capacity)
    {
        const unsigned c = Class(capacity);
        if (c < classes)
            Give(c, entries);
        else
            std::free(entries);
    }

private:
    // Class 0 holds nodes; class c > 0 holds arrays of 2 << c entries, up to 4 KiB.
    static constexpr unsigned classes = 8;
    static unsigned Class(unsigned capacity)
    {
        unsigned c = 1;
        while ((2u << c) < capacity)
            ++c;
        return c;
    }
    struct FreeBlock
    {
        FreeBlock* next;
    };

    void* Take(unsigned c, size_t size)
    {
        if (FreeBlock* block = m_free[c]) {
            m_free[c] = block->next;
            return block;
        }
        size = (size + 63) & ~size_t(63);
        if (static_cast<size_t>(m_end - m_next) < size) {
            char* chunk = static_cast<char*>(std::aligned_alloc(chunkSize, chunkSize));
            if (!chunk)
                return nullptr;
            m_chunks.push_back(chunk);
            *reinterpret_cast<SpacePool**>(chunk) = this;
            m_next = chunk + 64;
            m_end = chunk + chunkSize;
        }
        void* p = m_next;
        m_next += size;
        return p;
    }
    void Give(unsigned c, void* p)
    {
        FreeBlock* block = static_cast<FreeBlock*>(p);
        block->next = m_free[c];
        m_free[c] = block;
    }

    std::vector<void*> m_chunks;
    FreeBlock* m_free[classes] = {};
    char* m_next = nullptr;
    char* m_end = nullptr;
};

template <class T> void SpaceNode<T>::Destroy(SpaceNode* node)
{
    SpacePool<T>* pool = SpacePool<T>::Of(node);
    SpaceWalkStack<SpaceNode*> stack;
    stack.Push(node);
    while (!stack.Empty()) {
        SpaceNode* n = stack.Pop();
        for (unsigned i = 0; i < n->count; ++i)
            SpaceTraits<T>::Links(n->entries[i].object) = SpaceLinks<T>();
        for (SpaceNode* child : n->children)
            if (child)
                stack.Push(child);
        pool->FreeNode(n);
    }
}

template <class T> class Space
{
public:
    using Node = SpaceNode<T>;
    using Entry = SpaceEntry<T>;
    using Traits = SpaceTraits<T>;

    static constexpr float looseness = 1.09f;
    static constexpr unsigned maxDepth = 1000;

    // Root centred at (x, 0, z) with half-extents (1.09 hx, 0, 1.09 hz).
    Space(float x, float z, float hx, float hz)
        : m_root(m_pool.MakeNode(nullptr, 0u, Vec3(x, 0.0f, z), Vec3(looseness * hx, 0.0f, looseness * hz), 0u))
    {
        if (!m_root)
            std::abort(); // out of memory: as the global operator new would end the process
    }
    virtual ~Space() { Node::Destroy(m_root); }
    Space(const Space&) = delete;
    Space& operator=(const Space&) = delete;

    Node* GetRoot() const { return m_root; }
    ABBox GetRootBox() const { return m_root->GetBox(); }
    // Kept by the owner: Insert and Remove count, AddObject and RemoveObject do not.
    unsigned GetObjectCount() const { return m_count; }

    // AddObject at the root, counted.
    void Insert(T* object)
    {
        AddObject(m_root, object);
        ++m_count;
    }
    // RemoveObject from the object's node, counted; objects in no node are ignored.
    void Remove(T* object)
    {
        if (Node* node = Traits::Links(object).node) {
            RemoveObject(node, object);
            if (m_count)
                --m_count;
        }
    }
    // After the object's box changed: the node's copy of it follows (the object is not moved in
    // the tree; UpdateObject does that).
    static void RefreshBox(T* object)
    {
        if (Entry* e = Find(object))
            e->box = Traits::Box(object);
    }

    // The object's node belongs to this tree.
    bool Contains(T* object) const
    {
        const Node* node = Traits::Links(object).node;
        return node && SpacePool<T>::Of(node) == &m_pool;
    }

    // Grows the node over the object's box, links it and pushes it down as far as it fits.
    static void AddObject(Node* node, T* object)
    {
        const ABBox& box = Traits::Box(object);
        GrowOver(node, box);
        Link(Descend(node, box), object);
        GrowSpatialTreeHeight(node, box.center.y - box.extents.y, box.center.y + box.extents.y);
    }

    // Unlinks the object and prunes the nodes it leaves empty; the lowest surviving node.
    static Node* RemoveObject(Node* node, T* object)
    {
        Unlink(node, object);
        if (!node->IsEmpty() || !node->parent)
            return node;
        return PruneSpatialTreeNode(node->parent, node);
    }

    // Re-files an object after its box changed: pushed down from its node while it still lies
    // inside that node's box in x and z, else taken out and added at the root.
    void UpdateObject(T* object)
    {
        if (!object)
            return;
        Node* node = Traits::Links(object).node;
        if (!node)
            return;
        const ABBox& box = Traits::Box(object);
        if (IsBoxInsideXZ(box.center, box.extents, node->center, node->half)) {
            PushDown(node, object);
            return;
        }
        RemoveObject(node, object);
        AddObject(m_root, object);
    }

    // Node lists in list order, children in slot order, depth first.
    static void GetAllObjects(const Node* start, std::vector<T*>& out)
    {
        SpaceWalkStack<const Node*> stack;
        stack.Push(start);
        while (!stack.Empty()) {
            const Node* node = stack.Pop();
            for (const Entry* it = node->End(); it != node->Begin();)
                out.push_back((--it)->object);
            PushChildren(stack, node);
        }
    }

    // Visits the subtree depth first in walk order: visit(object, box) for each object of each
    // node that accept(node) lets in (its subtree is skipped otherwise). accept is asked when the
    // node is reached, after every earlier sibling's subtree was visited (ray searches tighten
    // their limit as they go). A visit may not change the tree.
    template <class Accept, class Visit> static void Walk(const Node* start, Accept&& accept, Visit&& visit)
    {
        SpaceWalkStack<const Node*> stack;
        stack.Push(start);
        while (!stack.Empty()) {
            const Node* node = stack.Pop();
            if (!accept(node))
                continue;
            for (const Entry* it = node->End(); it != node->Begin();) {
                --it;
                visit(it->object, it->box);
            }
            PushChildren(stack, node);
        }
    }

    // As Walk for node tests that do not change during the walk, asked with the node's centre and
    // half-extents: the children of a node are tested together from its copies of their boxes,
    // and only those that pass are visited. The order of visits is Walk's.
    template <class Accept, class Visit>
    static void WalkEager(const Node* start, Accept&& accept, Visit&& visit)
    {
        if (!accept(start->center, start->half))
            return;
        SpaceWalkStack<const Node*> stack;
        stack.Push(start);
        while (!stack.Empty()) {
            const Node* node = stack.Pop();
            const Node* next[4];
            int count = 0;
            for (unsigned s = 0; s < 4; ++s)
                if (const Node* child = node->children[s])
                    if (accept(Vec3(node->childCX[s], node->childCY[s], node->childCZ[s]),
                               Vec3(node->childHX[s], node->childHY[s], node->childHZ[s]))) {
                        Prefetch(child);
                        next[count++] = child;
                    }
            for (const Entry* it = node->End(); it != node->Begin();) {
                --it;
                visit(it->object, it->box);
            }
            while (count > 0)
                stack.Push(next[--count]);
            PrefetchEntries(stack);
        }
    }

    // Objects whose box overlaps the query box on all three axes; nodes are tested in x and z.
    static void GetObjectsInBox(const Node* start, std::vector<T*>& out, const ABBox& box)
    {
        if (!BoxesOverlapXZ(start->center, start->half, box))
            return;
#if defined(__SSE2__)
        const __m128 bx = _mm_set1_ps(box.center.x), bz = _mm_set1_ps(box.center.z);
        const __m128 ex = _mm_set1_ps(box.extents.x), ez = _mm_set1_ps(box.extents.z);
        const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
#endif
        SpaceWalkStack<const Node*> stack;
        stack.Push(start);
        while (!stack.Empty()) {
            const Node* node = stack.Pop();
            const Node* next[4];
            int count = 0;
            if (const int present = ChildMask(node)) {
#if defined(__SSE2__)
                // BoxesOverlapXZ for the four children at once.
                const __m128 dx = _mm_and_ps(_mm_sub_ps(_mm_load_ps(node->childCX), bx), absMask);
                const __m128 dz = _mm_and_ps(_mm_sub_ps(_mm_load_ps(node->childCZ), bz), absMask);
                const __m128 inX = _mm_cmple_ps(dx, _mm_add_ps(_mm_load_ps(node->childHX), ex));
                const __m128 inZ = _mm_cmple_ps(dz, _mm_add_ps(_mm_load_ps(node->childHZ), ez));
                const int pass = _mm_movemask_ps(_mm_and_ps(inX, inZ)) & present;
#else
                int pass = 0;
                for (unsigned s = 0; s < 4; ++s)
                    if (BoxesOverlapXZ(Vec3(node->childCX[s], 0.0f, node->childCZ[s]),
                                       Vec3(node->childHX[s], 0.0f, node->childHZ[s]), box))
                        pass |= 1 << s;
                pass &= present;
#endif
                for (unsigned s = 0; s < 4; ++s)
                    if (pass & (1 << s)) {
                        Prefetch(node->children[s]);
                        next[count++] = node->children[s];
                    }
            }
            for (const Entry* it = node->End(); it != node->Begin();) {
                --it;
                if (ABBoxesOverlap(it->box, box))
                    out.push_back(it->object);
            }
            while (count > 0)
                stack.Push(next[--count]);
            PrefetchEntries(stack);
        }
    }

    // Objects in the frustum: nodes outside are skipped with their subtree, nodes inside every
    // active plane hand over their subtree untested, planes a node lies inside of are not tested
    // below it. test(object, box, frustum) decides for objects of straddling nodes. Returns the
    // box tests made.
    template <class Test>
    static unsigned GetObjectsInFrustum(const Node* start, std::vector<T*>& out, const Frustum& frustum,
                                        int state, uint32_t mask, Test&& test)
    {
        struct Step
        {
            const Node* node;
            uint32_t mask;
            int state;
        };
        unsigned tests = 0;
        if (state != 2) {
            state = ClassifyBoxAgainstPlanes(start->center, start->half, frustum, mask);
            ++tests;
            if (state == 0)
                return tests;
        }
        const SpaceFrustum planes(frustum);
        SpaceWalkStack<Step> stack;
        stack.Push(Step{start, mask, state});
        while (!stack.Empty()) {
            const Step e = stack.Pop();
            const Node* node = e.node;
            // The children are classified first, so that the blocks of those in view are on
            // their way while this node's objects are tested.
            Step next[4];
            int count = 0;
            if (const int present = ChildMask(node)) {
                int states[4] = {2, 2, 2, 2};
                uint32_t masks[4] = {e.mask, e.mask, e.mask, e.mask};
                if (e.state != 2) {
                    planes.Classify4(node->childCX, node->childCY, node->childCZ, node->childHX, node->childHY,
                                     node->childHZ, e.mask, states, masks);
                    tests += static_cast<unsigned>(__builtin_popcount(static_cast<unsigned>(present)));
                }
                for (unsigned s = 0; s < 4; ++s)
                    if ((present & (1 << s)) && states[s] != 0) {
                        Prefetch(node->children[s]);
                        next[count++] = Step{node->children[s], masks[s], states[s]};
                    }
            }
            if (e.state == 2) {
                for (const Entry* it = node->End(); it != node->Begin();)
                    out.push_back((--it)->object);
            } else {
                for (const Entry* it = node->End(); it != node->Begin();) {
                    --it;
                    ++tests;
                    if (test(it->object, it->box, planes))
                        out.push_back(it->object);
                }
            }
            while (count > 0)
                stack.Push(next[--count]);
            if (!stack.Empty())
                PrefetchEntries(stack.Top().node);
        }
        return tests;
    }

    // The objects of the tree in one or more frusta, each once. With one frustum they come in walk
    // order; with several, in address order. firstFrustum (optional) gets one flag per appended
    // object: whether the first frustum's query found it.
    template <class Test>
    void GetObjectsInFrusta(std::vector<T*>& out, const Frustum* frusta, unsigned count, Test&& test,
                            std::vector<bool>* firstFrustum = nullptr) const
    {
        if (!frusta || count == 0)
            return;
        if (count == 1) {
            if (frusta[0].GetNumPlanes() == 0)
                return;
            const size_t before = out.size();
            out.reserve(out.size() + 200);
            GetObjectsInFrustum(m_root, out, frusta[0], 1, ~0u, test);
            if (firstFrustum)
                firstFrustum->assign(out.size() - before, true);
            return;
        }
        // Scratch lists kept between calls: no allocation once they are large enough.
        std::vector<T*>& scratch = m_scratch;
        std::vector<T*>& first = m_firstScratch;
        scratch.clear();
        first.clear();
        scratch.reserve(200 * static_cast<size_t>(count));
        for (unsigned i = 0; i < count; ++i) {
            if (frusta[i].GetNumPlanes() != 0)
                GetObjectsInFrustum(m_root, scratch, frusta[i], 1, ~0u, test);
            if (i == 0 && firstFrustum)
                first.assign(scratch.begin(), scratch.end());
        }
        std::sort(scratch.begin(), scratch.end());
        scratch.erase(std::unique(scratch.begin(), scratch.end()), scratch.end());
        out.insert(out.end(), scratch.begin(), scratch.end());
        if (firstFrustum) {
            std::sort(first.begin(), first.end());
            firstFrustum->assign(scratch.size(), false);
            size_t j = 0;
            for (size_t i = 0; i < scratch.size() && j < first.size(); ++i)
                if (scratch[i] == first[j]) {
                    (*firstFrustum)[i] = true;
                    ++j;
                }
        }
    }

    // The nearest object hit: intersection.distance is the limit on entry and the best hit on
    // return. Each object whose box the ray meets nearer than the best is asked with
    // intersect(object, ray, scratch); a strictly nearer answer replaces the best. Null when
    // nothing beat the starting distance.
    template <class Intersect>
    static T* GetIntersection(const Node* start, const Ray& ray, Intersection& intersection,
                              Intersect&& intersect)
    {
        T* hit = nullptr;
        Walk(
            start,
            [&](const Node* node) { return node->GetBox().GetIntersection(ray) < intersection.distance; },
            [&](T* object, const ABBox& box) {
                if (!(box.GetIntersection(ray) < intersection.distance))
                    return;
                Intersection scratch;
                intersect(object, ray, scratch);
                if (scratch.distance < intersection.distance) {
                    intersection = scratch;
                    hit = object;
                }
            });
        return hit;
    }

private:
    // The node's entry for the object, searched down from where the object last saw it.
    static Entry* Find(T* object)
    {
        SpaceLinks<T>& links = Traits::Links(object);
        Node* node = links.node;
        if (!node)
            return nullptr;
        __builtin_prefetch(reinterpret_cast<const char*>(node) + 64); // the first objects
        if (node->count == 0)
            return nullptr;
        Entry* entries = node->entries;
        for (unsigned i = std::min<unsigned>(links.slot, node->count - 1);; --i) {
            if (entries[i].object == object) {
                links.slot = i;
                return &entries[i];
            }
            if (i == 0)
                return nullptr;
        }
    }

    static void Link(Node* node, T* object)
    {
        if (node->count == node->capacity)
            Grow(node);
        node->entries[node->count] = Entry{object, Traits::Box(object)};
        SpaceLinks<T>& links = Traits::Links(object);
        links.node = node;
        links.slot = node->count++;
    }

    // Takes the object out of its node's array keeping the others' order.
    static void Unlink(Node* node, T* object)
    {
        if (Entry* e = Find(object)) {
            Entry* end = node->entries + node->count;
            std::memmove(static_cast<void*>(e), e + 1, static_cast<size_t>(end - (e + 1)) * sizeof(Entry));
            --node->count;
            if (node->entries != node->m_inline && node->count <= Node::inlineEntries)
                Shrink(node);
        }
        Traits::Links(object) = SpaceLinks<T>();
    }

    static void Grow(Node* node)
    {
        const unsigned capacity = node->capacity * 2;
        SpacePool<T>* pool = SpacePool<T>::Of(node);
        Entry* entries = pool->TakeEntries(capacity);
        if (!entries)
            std::abort(); // out of memory: as the global operator new would end the process
        std::memcpy(static_cast<void*>(entries), node->entries, node->count * sizeof(Entry));
        if (node->entries != node->m_inline)
            pool->FreeEntries(node->entries, node->capacity);
        node->entries = entries;
        node->capacity = capacity;
    }

    // Back into the node's own line once the objects fit there.
    static void Shrink(Node* node)
    {
        std::memcpy(static_cast<void*>(node->m_inline), node->entries, node->count * sizeof(Entry));
        SpacePool<T>::Of(node)->FreeEntries(node->entries, node->capacity);
        node->entries = node->m_inline;
        node->capacity = Node::inlineEntries;
    }

    static int ChildMask(const Node* node)
    {
        return (node->children[0] ? 1 : 0) | (node->children[1] ? 2 : 0) | (node->children[2] ? 4 : 0) |
               (node->children[3] ? 8 : 0);
    }

    static void Prefetch(const Node* node)
    {
        const char* p = reinterpret_cast<const char*>(node);
        __builtin_prefetch(p);
        __builtin_prefetch(p + 64);
        __builtin_prefetch(p + 128);
        __builtin_prefetch(p + 192);
    }
    // The objects of the node that comes next, when they live outside it.
    static void PrefetchEntries(const Node* node)
    {
        if (node->entries != node->m_inline)
            __builtin_prefetch(node->entries);
    }
    static void PrefetchEntries(const SpaceWalkStack<const Node*>& stack)
    {
        if (!stack.Empty())
            PrefetchEntries(stack.Top());
    }

    // Children pushed so that slot 0 comes off the stack first.
    template <class Stack> static void PushChildren(Stack& stack, const Node* node)
    {
        for (int slot = 3; slot >= 0; --slot) {
            if (const Node* child = node->children[slot]) {
                __builtin_prefetch(child);
                stack.Push(child);
            }
        }
    }

    // The object is linked in node; it moves down while a candidate child's box holds it in x and
    // z (each child it enters grows over it), then widens its start node's vertical extent (the
    // nodes passed on the way down already cover it). It is linked only where it stops: linking
    // it in each node on the way and taking it out again would leave every list as it was.
    static void PushDown(Node* start, T* object)
    {
        Node* node = Descend(start, Traits::Box(object));
        if (node != start) {
            Unlink(start, object); // start keeps its child: nothing to prune
            Link(node, object);
        }
        const ABBox& box = Traits::Box(object);
        GrowSpatialTreeHeight(start, box.center.y - box.extents.y, box.center.y + box.extents.y);
    }

    // The node where push-down from node stops for the box; the children it enters on the way are
    // made when missing and grown over the box.
    static Node* Descend(Node* node, const ABBox& box)
    {
        while (node->depth < maxDepth) {
            const float cx = node->half.x / (2.0f * looseness);
            const float cz = node->half.z / (2.0f * looseness);
            const bool greaterX = box.center.x > node->center.x;
            const bool greaterZ = box.center.z > node->center.z;
            const Vec3 center(greaterX ? node->center.x + cx : node->center.x - cx, 0.0f,
                              greaterZ ? node->center.z + cz : node->center.z - cz);
            const Vec3 half = node->half * 0.5f;
            if (!IsBoxInsideXZ(box.center, box.extents, center, half))
                break;
            const unsigned slot = (greaterX ? 1u : 0u) + (greaterZ ? 2u : 0u);
            Node* child = node->children[slot];
            if (!child) {
                // Without memory for the child the object stays where it is.
                child = SpacePool<T>::Of(node)->MakeNode(node, slot, center, half, node->depth + 1);
                if (!child)
                    break;
            }
            GrowOver(child, box);
            node = child;
        }
        return node;
    }

    // The node's box becomes the smallest box holding it and the box. A box that grows is padded
    // by a few units in the last place, so that rounding never leaves an object poking out of the
    // node that holds it (queries skip nodes by their boxes).
    static void GrowOver(Node* node, const ABBox& box)
    {
        const Vec3 lo = node->center - node->half, hi = node->center + node->half;
        const Vec3 blo = box.GetMin(), bhi = box.GetMax();
        if (lo.x <= blo.x && lo.y <= blo.y && lo.z <= blo.z && bhi.x <= hi.x && bhi.y <= hi.y &&
            bhi.z <= hi.z)
            return;
        const ABBox grown = ABBox::FromMinMax(Vec3::Min(lo, blo), Vec3::Max(hi, bhi));
        node->center = grown.center;
        node->half = grown.extents + AbsVec3(grown.extents) * 1e-6f + AbsVec3(grown.center) * 1e-6f;
        node->CopyBoxToParent();
    }

    SpacePool<T> m_pool; // before the root: it outlives every node
    Node* m_root;
    unsigned m_count = 0;
    mutable std::vector<T*> m_scratch;
    mutable std::vector<T*> m_firstScratch;
};

} // namespace GAME
