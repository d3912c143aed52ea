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
// Walks and moves are bound by memory far more than by arithmetic, so a node is two cache lines in
// its tree's pool: the first holds its box, object count and children (all that a descent reads),
// the second where its objects are and the first of them (more go to an array from the same
// pool). Walks ask for a node's children as soon as the node is let in, so that a level's nodes
// come from memory together rather than one after another down a path.
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

// A node's copy of one object's box.
template <class T> struct SpaceEntry
{
    T* object;
    ABBox box;
};

// The link an object keeps for the tree that holds it.
template <class T> struct SpaceLinks
{
    SpaceNode<T>* node = nullptr;
    // Where the object's entry was when last seen, so that a move reads it without first reading
    // where its node keeps its array. Only a hint: it is trusted when it lies in the node's array
    // and names the object (slots past a node's objects name nothing), else the array is searched.
    SpaceEntry<T>* entry = nullptr;
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

// A frustum's planes laid out for testing one box against four planes at a time. Each lane does
// the operations of the one-plane-at-a-time tests (ClassifyBoxAgainstPlanes, ABBoxInFrustum) in
// their order, so the answers are the same to the last bit.
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
            if (_mm_movemask_ps(_mm_cmplt_ps(_mm_add_ps(dot, p.d), _mm_setzero_ps())) & p.valid)
                return false;
        }
        return true;
#else
        return ABBoxInFrustum(box, m_frustum);
#endif
    }

    // ClassifyBoxAgainstPlanes; the mask is left as it stood when the box is found outside.
    int Classify(const Vec3& center, const Vec3& half, uint32_t& mask) const
    {
#if defined(__SSE2__)
        const __m128 cx = _mm_set1_ps(center.x), cy = _mm_set1_ps(center.y), cz = _mm_set1_ps(center.z);
        const __m128 hx = _mm_set1_ps(half.x), hy = _mm_set1_ps(half.y), hz = _mm_set1_ps(half.z);
        const __m128 zero = _mm_setzero_ps();
        int result = 2;
        for (unsigned g = 0; g < m_groups; ++g) {
            const Group& p = m_group[g];
            const int active = p.valid & (g < 8 ? static_cast<int>(mask >> (4 * g)) : 0xf);
            if (!active)
                continue;
            // Distance of the box's centre, and the box's reach along the normal.
            const __m128 c = _mm_add_ps(
                _mm_add_ps(_mm_add_ps(_mm_mul_ps(p.nx, cx), _mm_mul_ps(p.ny, cy)), _mm_mul_ps(p.nz, cz)), p.d);
            const __m128 r = _mm_add_ps(_mm_add_ps(_mm_mul_ps(p.ax, hx), _mm_mul_ps(p.ay, hy)), _mm_mul_ps(p.az, hz));
            if (_mm_movemask_ps(_mm_cmplt_ps(_mm_add_ps(c, r), zero)) & active)
                return 0;
            const int cuts = _mm_movemask_ps(_mm_cmplt_ps(_mm_sub_ps(c, r), zero)) & active;
            if (cuts)
                result = 1;
            if (g < 8) // planes the box lies wholly in front of are not tested below it
                mask &= ~(static_cast<uint32_t>(active & ~cuts) << (4 * g));
        }
        return result;
#else
        return ClassifyBoxAgainstPlanes(center, half, m_frustum, mask);
#endif
    }

private:
#if defined(__SSE2__)
    struct Group
    {
        __m128 nx, ny, nz, d;  // four planes
        __m128 ax, ay, az;     // |normal|
        __m128 sx, sy, sz;     // sign bits of the normals' components that are not above 0
        int valid;             // the lanes that hold planes
    };
    static constexpr unsigned inlineGroups = 4;

    unsigned m_groups;
    const Group* m_group;
    Group m_inlineGroups[inlineGroups];
    std::vector<Group> m_moreGroups;
#endif
    const Frustum& m_frustum;
    unsigned m_count;
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
        node = node->parent;
    }
}

// Deletes the emptied child of parent, then every ancestor left without objects or children that
// has a parent of its own. Returns the lowest node that survived (the root is never deleted).
template <class Node> Node* PruneSpatialTreeNode(Node* parent, Node* emptied)
{
    while (parent) {
        for (Node*& child : parent->children)
            if (child == emptied)
                child = nullptr;
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
    static constexpr unsigned inlineEntries = 1;

    SpaceNode(SpaceNode* parent_, unsigned slot_, const Vec3& center_, const Vec3& half_, unsigned depth_)
        : center(center_), half(half_), depth(depth_), slot(slot_), parent(parent_)
    {
        m_inline[0].object = nullptr;
        if (parent)
            parent->children[slot] = this;
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

    // First line: what a descent reads.
    Vec3 center;
    Vec3 half;
    unsigned count = 0; // objects
    unsigned depth;
    SpaceNode* children[4] = {nullptr, nullptr, nullptr, nullptr};
    // Second line: the objects, the way up, and the first object. Slots past the count name no
    // object.
    alignas(64) Entry* entries = m_inline;
    unsigned capacity = inlineEntries;
    unsigned slot; // in the parent
    SpaceNode* parent;

private:
    Entry m_inline[inlineEntries];

    friend class SpacePool<T>;
    template <class> friend class Space;
};

// Where the nodes of one tree, and their object arrays past the first, live: 64 KiB chunks
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

    // An array for capacity entries (a power of two above the node's own one); null when memory
    // runs out.
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
    // Class 0 holds nodes; class c > 0 holds arrays of 1 << c entries, up to 4 KiB.
    static constexpr unsigned classes = 8;
    static unsigned Class(unsigned capacity)
    {
        unsigned c = 1;
        while ((1u << c) < capacity)
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
        for (const Entry* it = n->Begin(); it != n->End(); ++it)
            SpaceTraits<T>::Links(it->object) = SpaceLinks<T>();
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
    static_assert(sizeof(Node) == 128, "a node is two cache lines");

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
    // Asks for the lines a move of the object reads first (its entry, its node's two lines), so
    // that they come from memory while the owner still works on the object (placement, box).
    // Reads only the object's links; changes nothing.
    static void PrefetchMove(T* object)
    {
        const SpaceLinks<T>& links = Traits::Links(object);
        if (const Node* node = links.node) {
            __builtin_prefetch(links.entry, 1);
            Prefetch(node);
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
        // The node the object leaves is pruned when it was the last: its parent is read then.
        if (node->count == 1 && node->parent)
            __builtin_prefetch(node->parent);
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

    // As Walk for node tests that do not change during the walk: a node's children are asked for
    // from memory as soon as the node is let in. The order of visits is Walk's.
    template <class Accept, class Visit>
    static void WalkEager(const Node* start, Accept&& accept, Visit&& visit)
    {
        if (!accept(start))
            return;
        Descent(
            Step{start, 0u, 1}, [&](Step& child, const Step&) { return accept(child.node); },
            [&](const Node* node, const Step&) {
                for (const Entry* it = node->End(); it != node->Begin();) {
                    --it;
                    visit(it->object, it->box);
                }
            });
    }

    // Objects whose box overlaps the query box on all three axes; nodes are tested in x and z.
    static void GetObjectsInBox(const Node* start, std::vector<T*>& out, const ABBox& box)
    {
        if (!BoxesOverlapXZ(start->center, start->half, box))
            return;
        Descent(
            Step{start, 0u, 1},
            [&box](Step& child, const Step&) { return BoxesOverlapXZ(child.node->center, child.node->half, box); },
            [&](const Node* node, const Step&) {
                for (const Entry* it = node->End(); it != node->Begin();) {
                    --it;
                    if (ABBoxesOverlap(it->box, box))
                        out.push_back(it->object);
                }
            });
    }

    // Objects in the frustum: nodes outside are skipped with their subtree, nodes inside every
    // active plane hand over their subtree untested, planes a node lies inside of are not tested
    // below it. test(object, box, frustum) decides for objects of straddling nodes. Returns the
    // box tests made.
    template <class Test>
    static unsigned GetObjectsInFrustum(const Node* start, std::vector<T*>& out, const Frustum& frustum,
                                        int state, uint32_t mask, Test&& test)
    {
        unsigned tests = 0;
        if (state != 2) {
            state = ClassifyBoxAgainstPlanes(start->center, start->half, frustum, mask);
            ++tests;
            if (state == 0)
                return tests;
        }
        const SpaceFrustum planes(frustum);
        Descent(
            Step{start, mask, state},
            [&](Step& child, const Step& parent) {
                if (parent.state == 2)
                    return true;
                ++tests;
                child.state = planes.Classify(child.node->center, child.node->half, child.mask);
                return child.state != 0;
            },
            [&](const Node* node, const Step& step) {
                if (step.state == 2) {
                    for (const Entry* it = node->End(); it != node->Begin();)
                        out.push_back((--it)->object);
                    return;
                }
                for (const Entry* it = node->End(); it != node->Begin();) {
                    --it;
                    ++tests;
                    if (test(it->object, it->box, planes))
                        out.push_back(it->object);
                }
            });
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
    // A node let into a walk, with the state and plane mask of frustum walks.
    struct Step
    {
        const Node* node;
        uint32_t mask;
        int state;
    };

    // Depth first in walk order from first, which was let in: visit(node, step) for each node let
    // in, and test(child, parent) for each child of one (it may set the child's state and mask).
    // Every child let in has its own children asked for from memory at once, a level ahead of
    // their tests.
    template <class Test, class Visit> static void Descent(const Step& first, Test&& test, Visit&& visit)
    {
        Prefetch(first.node);
        PrefetchChildren(first.node);
        SpaceWalkStack<Step> stack;
        stack.Push(first);
        while (!stack.Empty()) {
            const Step step = stack.Pop();
            if (!stack.Empty())
                PrefetchEntries(stack.Top().node);
            visit(step.node, step);
            Step next[4];
            int count = 0;
            for (const Node* child : step.node->children) {
                if (!child)
                    continue;
                Step c{child, step.mask, step.state};
                if (test(c, step)) {
                    PrefetchChildren(child);
                    next[count++] = c;
                }
            }
            while (count > 0)
                stack.Push(next[--count]);
        }
    }

    // The node's entry for the object: where its link says, else searched for.
    static Entry* Find(T* object)
    {
        SpaceLinks<T>& links = Traits::Links(object);
        Node* node = links.node;
        if (!node)
            return nullptr;
        // The lines a move reads first are asked for together: the entry, where the node keeps its
        // array, and the node's box.
        Entry* hint = links.entry;
        __builtin_prefetch(hint);
        __builtin_prefetch(&node->entries);
        __builtin_prefetch(node);
        Entry* const entries = node->entries;
        const uintptr_t at = reinterpret_cast<uintptr_t>(hint), begin = reinterpret_cast<uintptr_t>(entries);
        if (at - begin < node->capacity * sizeof(Entry) && (at - begin) % sizeof(Entry) == 0 && hint->object == object)
            return hint;
        // Entries move towards the front as earlier ones leave: search down from the hint, or
        // from the end when the array moved since.
        Entry* from = entries + node->count;
        if (at - begin < node->count * sizeof(Entry))
            from = hint;
        for (Entry* it = from; it != entries;)
            if ((--it)->object == object)
                return links.entry = it;
        return nullptr;
    }

    static void Link(Node* node, T* object)
    {
        if (node->count == node->capacity)
            Grow(node);
        Entry* e = &node->entries[node->count++];
        *e = Entry{object, Traits::Box(object)};
        SpaceLinks<T>& links = Traits::Links(object);
        links.node = node;
        links.entry = e;
    }

    // Takes the object out of its node's array keeping the others' order; the slot freed at the
    // end names nothing.
    static void Unlink(Node* node, T* object)
    {
        if (Entry* e = Find(object)) {
            Entry* end = node->entries + node->count;
            std::memmove(static_cast<void*>(e), e + 1, static_cast<size_t>(end - (e + 1)) * sizeof(Entry));
            end[-1].object = nullptr;
            if (--node->count <= Node::inlineEntries && node->entries != node->m_inline)
                MoveEntries(node, node->m_inline, Node::inlineEntries);
        }
        Traits::Links(object) = SpaceLinks<T>();
    }

    static void Grow(Node* node)
    {
        const unsigned capacity = node->capacity < 4 ? 4 : node->capacity * 2;
        Entry* entries = SpacePool<T>::Of(node)->TakeEntries(capacity);
        if (!entries)
            std::abort(); // out of memory: as the global operator new would end the process
        MoveEntries(node, entries, capacity);
    }

    // The node's entries into another array (its own line once they fit there); slots past them
    // name nothing, so that a stale link never mistakes one for its entry.
    static void MoveEntries(Node* node, Entry* entries, unsigned capacity)
    {
        std::memcpy(static_cast<void*>(entries), node->entries, node->count * sizeof(Entry));
        for (unsigned i = node->count; i < capacity; ++i)
            entries[i].object = nullptr;
        if (node->entries != node->m_inline)
            SpacePool<T>::Of(node)->FreeEntries(node->entries, node->capacity);
        node->entries = entries;
        node->capacity = capacity;
    }

    static void Prefetch(const Node* node)
    {
        __builtin_prefetch(node);
        __builtin_prefetch(reinterpret_cast<const char*>(node) + 64);
    }
    static void PrefetchChildren(const Node* node)
    {
        for (const Node* child : node->children)
            if (child)
                Prefetch(child);
    }
    // The objects of the node that comes next, when they live outside it.
    static void PrefetchEntries(const Node* node)
    {
        if (node->entries != node->m_inline)
            __builtin_prefetch(node->entries);
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
        const ABBox& box = Traits::Box(object);
        Node* node = Descend(start, box);
        if (node != start) {
            Unlink(start, object); // start keeps its child: nothing to prune
            Link(node, object);
        }
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
    }

    SpacePool<T> m_pool; // before the root: it outlives every node
    Node* m_root;
    unsigned m_count = 0;
    mutable std::vector<T*> m_scratch;
    mutable std::vector<T*> m_firstScratch;
};

} // namespace GAME
