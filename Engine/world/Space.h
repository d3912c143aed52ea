// The loose quadtree that levels file their entities in, and that terrain, grid regions and water
// file their pieces in: nodes split the x/z plane in four, each node's box is 1.09 times its
// nominal square and grows (on every axis) to cover what lands in it, and an object sinks to the
// deepest node whose candidate child box still holds it in x and z. Objects are not owned: each
// keeps the node that holds it and its box, reached through SpaceTraits<T>; each node keeps its
// objects in an array with a copy of each box (a side structure rather than links through the
// objects: queries test a node's boxes without visiting each object, and the owner refreshes a
// copy whenever an object's box changes, Space::RefreshBox). Node lists run from the last added
// object to the first; children are visited in slot order (slot = greater x ? 1 : 0 + greater z ?
// 2 : 0), and every walk, query and file order follows that. The nodes of a tree live in its own
// arena, close together.
//
// Depth is bounded (1000) but a zero-sized object in a zero-sized tree does reach the limit, so
// nothing here recurses: insertion, pruning, deletion and every query walk iterate with explicit
// stacks. Node boxes that grow are padded by a few units in the last place, so that no object
// pokes out of its node by rounding (walks skip nodes by their boxes).
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
#include <vector>

namespace GAME {

template <class T> class SpaceNode;

// The link an object keeps for the tree that holds it.
template <class T> struct SpaceLinks
{
    SpaceNode<T>* node = nullptr;
};

// A node's objects in the order they were added (walked from the back: the last added first),
// each beside a copy of its box. The copy is what queries test, so that they read the node's
// array instead of every object; the owner keeps it current (Space::RefreshBox) whenever an
// object's box changes. Most nodes hold one or two objects: the first lives in the node itself.
template <class T> class SpaceObjectList
{
public:
    struct Entry
    {
        T* object;
        ABBox box;
    };

    SpaceObjectList() = default;
    ~SpaceObjectList()
    {
        if (m_data != m_inline)
            delete[] m_data;
    }
    SpaceObjectList(const SpaceObjectList&) = delete;
    SpaceObjectList& operator=(const SpaceObjectList&) = delete;

    unsigned Size() const { return m_size; }
    bool Empty() const { return m_size == 0; }
    const Entry* Begin() const { return m_data; }
    const Entry* End() const { return m_data + m_size; }
    void PushBack(T* object, const ABBox& box)
    {
        if (m_size == m_capacity) {
            const unsigned capacity = m_capacity * 2;
            Entry* data = new Entry[capacity];
            std::copy(m_data, m_data + m_size, data);
            if (m_data != m_inline)
                delete[] m_data;
            m_data = data;
            m_capacity = capacity;
        }
        m_data[m_size++] = Entry{object, box};
    }
    // Removes the object keeping the others' order; searched from the newest end.
    void Erase(const T* object)
    {
        if (Entry* e = Find(object)) {
            std::copy(e + 1, m_data + m_size, e);
            --m_size;
        }
    }
    void SetBox(const T* object, const ABBox& box)
    {
        if (Entry* e = Find(object))
            e->box = box;
    }
    void Clear() { m_size = 0; }

private:
    Entry* Find(const T* object)
    {
        for (unsigned i = m_size; i-- > 0;)
            if (m_data[i].object == object)
                return &m_data[i];
        return nullptr;
    }

    static constexpr unsigned kInline = 1;
    Entry m_inline[kInline];
    Entry* m_data = m_inline;
    unsigned m_size = 0;
    unsigned m_capacity = kInline;
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
        for (Node*& slot : parent->children)
            if (slot == emptied)
                slot = nullptr;
        delete emptied;
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

// Where the nodes of one tree live: 16 KiB chunks aligned to their size, whose first bytes name
// the arena, so that deleting a node (which may happen far from the tree, in pruning) finds its
// way back. Freed nodes are reused first. The nodes of a tree stay close together in memory,
// which is what walks over them pay for. Owned by its tree; freed with it.
template <class T> class SpaceNodeArena
{
public:
    static constexpr size_t chunkSize = size_t(1) << 14;

    SpaceNodeArena() = default;
    ~SpaceNodeArena()
    {
        for (void* chunk : m_chunks)
            std::free(chunk);
    }
    SpaceNodeArena(const SpaceNodeArena&) = delete;
    SpaceNodeArena& operator=(const SpaceNodeArena&) = delete;

    void* Allocate(size_t size)
    {
        if (m_free) {
            FreeSlot* slot = m_free;
            m_free = slot->next;
            return slot;
        }
        if (static_cast<size_t>(m_end - m_next) < size) {
            char* chunk = static_cast<char*>(std::aligned_alloc(chunkSize, chunkSize));
            if (!chunk)
                return nullptr;
            m_chunks.push_back(chunk);
            *reinterpret_cast<SpaceNodeArena**>(chunk) = this;
            m_next = chunk + 64;
            m_end = chunk + chunkSize;
        }
        void* p = m_next;
        m_next += (size + 63) & ~size_t(63);
        return p;
    }
    void Free(void* p)
    {
        FreeSlot* slot = static_cast<FreeSlot*>(p);
        slot->next = m_free;
        m_free = slot;
    }
    static SpaceNodeArena* Of(const void* p)
    {
        return *reinterpret_cast<SpaceNodeArena* const*>(reinterpret_cast<uintptr_t>(p) & ~(chunkSize - 1));
    }

private:
    struct FreeSlot
    {
        FreeSlot* next;
    };
    std::vector<void*> m_chunks;
    FreeSlot* m_free = nullptr;
    char* m_next = nullptr;
    char* m_end = nullptr;
};

template <class T> class SpaceNode
{
public:
    SpaceNode(SpaceNode* parent_, const Vec3& center_, const Vec3& half_, unsigned depth_)
        : center(center_), half(half_), parent(parent_), depth(depth_)
    {
    }
    // Deletes the subtree without recursing; objects still filed in it are unlinked, not deleted.
    virtual ~SpaceNode()
    {
        ReleaseObjects();
        SpaceWalkStack<SpaceNode*> stack;
        TakeChildren(stack);
        while (!stack.Empty()) {
            SpaceNode* node = stack.Pop();
            node->ReleaseObjects();
            node->TakeChildren(stack);
            delete node;
        }
    }
    SpaceNode(const SpaceNode&) = delete;
    SpaceNode& operator=(const SpaceNode&) = delete;

    // Nodes are made in their tree's arena and return to it when deleted.
    static void* operator new(size_t size, SpaceNodeArena<T>& arena)
    {
        void* p = arena.Allocate(size);
        if (!p)
            std::abort(); // out of memory: as the global operator new would end the process
        return p;
    }
    static void operator delete(void* p, SpaceNodeArena<T>& arena) { arena.Free(p); }
    static void operator delete(void* p)
    {
        if (p)
            SpaceNodeArena<T>::Of(p)->Free(p);
    }

    bool HasChildren() const { return children[0] || children[1] || children[2] || children[3]; }
    bool IsEmpty() const { return objects.Empty() && !HasChildren(); }
    ABBox GetBox() const { return ABBox(center, half); }
    // The object at position index of the node's list (0: the last added).
    T* GetObject(unsigned index) const
    {
        return index < objects.Size() ? objects.Begin()[objects.Size() - 1 - index].object : nullptr;
    }

    // What queries read first shares a cache line.
    Vec3 center;
    Vec3 half;
    SpaceNode* children[4] = {nullptr, nullptr, nullptr, nullptr};
    SpaceNode* parent;
    SpaceObjectList<T> objects;
    unsigned depth;

private:
    void TakeChildren(SpaceWalkStack<SpaceNode*>& stack)
    {
        for (SpaceNode*& child : children)
            if (child) {
                stack.Push(child);
                child = nullptr;
            }
    }
    void ReleaseObjects()
    {
        for (auto* it = objects.Begin(); it != objects.End(); ++it)
            SpaceTraits<T>::Links(it->object) = SpaceLinks<T>();
        objects.Clear();
    }
};

template <class T> class Space
{
public:
    using Node = SpaceNode<T>;
    using Traits = SpaceTraits<T>;

    static constexpr float looseness = 1.09f;
    static constexpr unsigned maxDepth = 1000;

    // Root centred at (x, 0, z) with half-extents (1.09 hx, 0, 1.09 hz).
    Space(float x, float z, float hx, float hz)
        : m_root(new (m_arena) Node(nullptr, Vec3(x, 0.0f, z), Vec3(looseness * hx, 0.0f, looseness * hz), 0))
    {
    }
    virtual ~Space() { delete m_root; }
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
        if (Node* node = Traits::Links(object).node)
            node->objects.SetBox(object, Traits::Box(object));
    }

    bool Contains(T* object) const
    {
        // The object's node must belong to this tree: walk to its root.
        const Node* node = Traits::Links(object).node;
        while (node && node->parent)
            node = node->parent;
        return node && node == m_root;
    }

    // Grows the node over the object's box, links it and pushes it down as far as it fits.
    static void AddObject(Node* node, T* object)
    {
        GrowOver(node, Traits::Box(object));
        Link(node, object);
        PushDown(node, object);
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
        Walk(
            start, [](const Node*) { return true; },
            [&out](T* object, const ABBox&) { out.push_back(object); });
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
            for (auto* it = node->objects.End(); it != node->objects.Begin();) {
                --it;
                visit(it->object, it->box);
            }
            PushChildren(stack, node);
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
        struct Entry
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
        // Children are classified when their parent is done, all four together, so that their
        // boxes load in parallel; only those in view are stacked.
        SpaceWalkStack<Entry> stack;
        stack.Push(Entry{start, mask, state});
        while (!stack.Empty()) {
            const Entry e = stack.Pop();
            if (!stack.Empty())
                __builtin_prefetch(stack.Top().node->objects.Begin());
            const SpaceObjectList<T>& list = e.node->objects;
            if (e.state == 2) {
                for (auto* it = list.End(); it != list.Begin();)
                    out.push_back((--it)->object);
            } else {
                for (auto* it = list.End(); it != list.Begin();) {
                    --it;
                    ++tests;
                    if (test(it->object, it->box, frustum))
                        out.push_back(it->object);
                }
            }
            Entry next[4];
            int count = 0;
            for (const Node* child : e.node->children) {
                if (!child)
                    continue;
                Entry c{child, e.mask, e.state};
                if (c.state != 2) {
                    c.state = ClassifyBoxAgainstPlanes(child->center, child->half, frustum, c.mask);
                    ++tests;
                    if (c.state == 0)
                        continue;
                }
                __builtin_prefetch(&child->objects);
                next[count++] = c;
            }
            while (count > 0)
                stack.Push(next[--count]);
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
        std::vector<T*> scratch;
        scratch.reserve(200 * static_cast<size_t>(count));
        std::vector<T*> first;
        for (unsigned i = 0; i < count; ++i) {
            if (frusta[i].GetNumPlanes() != 0)
                GetObjectsInFrustum(m_root, scratch, frusta[i], 1, ~0u, test);
            if (i == 0 && firstFrustum)
                first = scratch;
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

    // As Walk for node tests that do not change during the walk: the children of a node are
    // tested together when the node is done (their boxes load in parallel), and only those that
    // pass are stacked. The order of visits is Walk's.
    template <class Accept, class Visit>
    static void WalkEager(const Node* start, Accept&& accept, Visit&& visit)
    {
        if (!accept(start))
            return;
        SpaceWalkStack<const Node*> stack;
        stack.Push(start);
        while (!stack.Empty()) {
            const Node* node = stack.Pop();
            // The next node's entries are asked for while this one's are visited.
            if (!stack.Empty())
                __builtin_prefetch(stack.Top()->objects.Begin());
            for (auto* it = node->objects.End(); it != node->objects.Begin();) {
                --it;
                visit(it->object, it->box);
            }
            const Node* next[4];
            int count = 0;
            for (const Node* child : node->children) {
                if (child && accept(child)) {
                    __builtin_prefetch(&child->objects);
                    next[count++] = child;
                }
            }
            while (count > 0)
                stack.Push(next[--count]);
        }
    }

    // Objects whose box overlaps the query box on all three axes; nodes are tested in x and z.
    static void GetObjectsInBox(const Node* start, std::vector<T*>& out, const ABBox& box)
    {
        WalkEager(
            start, [&box](const Node* node) { return BoxesOverlapXZ(node->center, node->half, box); },
            [&](T* object, const ABBox& objectBox) {
                if (ABBoxesOverlap(objectBox, box))
                    out.push_back(object);
            });
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
    static void Link(Node* node, T* object)
    {
        Traits::Links(object).node = node;
        node->objects.PushBack(object, Traits::Box(object));
    }

    static void Unlink(Node* node, T* object)
    {
        node->objects.Erase(object);
        Traits::Links(object) = SpaceLinks<T>();
    }

    // Children pushed so that slot 0 comes off the stack first; their boxes are fetched ahead.
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
    // z (each child it enters grows over it), then widens its final node's vertical extent.
    static void PushDown(Node* node, T* object)
    {
        Node* const start = node;
        const ABBox& box = Traits::Box(object);
        for (;;) {
            if (node->depth < maxDepth) {
                const float cx = node->half.x / (2.0f * looseness);
                const float cz = node->half.z / (2.0f * looseness);
                const bool greaterX = box.center.x > node->center.x;
                const bool greaterZ = box.center.z > node->center.z;
                const Vec3 center(greaterX ? node->center.x + cx : node->center.x - cx, 0.0f,
                                  greaterZ ? node->center.z + cz : node->center.z - cz);
                const Vec3 half = node->half * 0.5f;
                if (IsBoxInsideXZ(box.center, box.extents, center, half)) {
                    const int slot = (greaterX ? 1 : 0) + (greaterZ ? 2 : 0);
                    Node*& child = node->children[slot];
                    if (!child)
                        child = new (*SpaceNodeArena<T>::Of(node)) Node(node, center, half, node->depth + 1);
                    Unlink(node, object); // node keeps its child: nothing to prune
                    GrowOver(child, box);
                    Link(child, object);
                    node = child;
                    continue;
                }
            }
            // The nodes passed on the way down cover the object; the start node and its
            // ancestors may still need height.
            GrowSpatialTreeHeight(start, box.center.y - box.extents.y, box.center.y + box.extents.y);
            return;
        }
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

    SpaceNodeArena<T> m_arena; // before the root: it outlives every node
    Node* m_root;
    unsigned m_count = 0;
};

} // namespace GAME
