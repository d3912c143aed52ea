// The loose quadtree that levels file their entities in, and that terrain, grid regions and water
// file their pieces in: nodes split the x/z plane in four, each node's box is 1.09 times its
// nominal square and grows (on every axis) to cover what lands in it, and an object sinks to the
// deepest node whose candidate child box still holds it in x and z. Objects are not owned: each
// keeps its own links (holding node, previous and next in that node's list) and its box, reached
// through SpaceTraits<T>. Node lists run from the last added object to the first; children are
// visited in slot order (slot = greater x ? 1 : 0 + greater z ? 2 : 0), and every walk, query
// and file order follows that.
//
// Depth is bounded (1000) but a point-sized object does reach the limit, so nothing here recurses:
// insertion, pruning, deletion and every query walk iterate with explicit stacks.
//
// Main thread only (a level's loading thread fills its tree before the level is handed out);
// nothing locks.
#pragma once

#include "core/ABBox.h"
#include "core/Frustum.h"
#include "core/Intersect.h"
#include "core/Intersection.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace GAME {

template <class T>
class SpaceNode;

// The links an object keeps for the tree that holds it.
template <class T>
struct SpaceLinks
{
    SpaceNode<T>* node = nullptr;
    T* prev = nullptr;
    T* next = nullptr;
};

// How the tree reaches an object's links and box. The default asks the object; a kind whose
// accessors are private befriends its specialisation or this template.
template <class T>
struct SpaceTraits
{
    static SpaceLinks<T>& Links(T* object) { return object->GetSpaceLinks(); }
    static const ABBox& Box(const T* object) { return object->GetSpaceBox(); }
};

// Classifies a box against the planes whose bits are set in mask (inside: n.p + d >= 0): 0 the box
// lies wholly behind one of them, 1 it straddles (the bits of planes it lies wholly in front of
// are cleared), 2 it is in front of every active plane. Planes past the 32nd are always tested.
int ClassifyBoxAgainstPlanes(const Vec3& center, const Vec3& half, const Frustum& frustum, uint32_t& mask);

// Widens the node's vertical extent, and its ancestors', to cover [low, high]; stops at the first
// node that already covers it.
template <class Node>
void GrowSpatialTreeHeight(Node* node, float low, float high)
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
        node->half.y = (top - bottom) * 0.5f;
        node = node->parent;
    }
}

// Deletes the emptied child of parent, then every ancestor left without objects or children that
// has a parent of its own. Returns the lowest node that survived (the root is never deleted).
template <class Node>
Node* PruneSpatialTreeNode(Node* parent, Node* emptied)
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
template <class E, unsigned N = 96>
class SpaceWalkStack
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

template <class T>
class SpaceNode
{
public:
    SpaceNode(SpaceNode* parent_, const Vec3& center_, const Vec3& half_, unsigned depth_)
        : parent(parent_), center(center_), half(half_), depth(depth_)
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

    bool HasChildren() const { return children[0] || children[1] || children[2] || children[3]; }
    bool IsEmpty() const { return !head && !HasChildren(); }
    ABBox GetBox() const { return ABBox(center, half); }

    SpaceNode* parent;
    SpaceNode* children[4] = {nullptr, nullptr, nullptr, nullptr};
    Vec3 center;
    Vec3 half;
    T* head = nullptr;
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
        for (T* object = head; object;) {
            SpaceLinks<T>& links = SpaceTraits<T>::Links(object);
            T* next = links.next;
            links = SpaceLinks<T>();
            object = next;
        }
        head = nullptr;
    }
};

template <class T>
class Space
{
public:
    using Node = SpaceNode<T>;
    using Traits = SpaceTraits<T>;

    static constexpr float looseness = 1.09f;
    static constexpr unsigned maxDepth = 1000;

    // Root centred at (x, 0, z) with half-extents (1.09 hx, 0, 1.09 hz).
    Space(float x, float z, float hx, float hz)
        : m_root(new Node(nullptr, Vec3(x, 0.0f, z), Vec3(looseness * hx, 0.0f, looseness * hz), 0))
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
        const ABBox& box = Traits::Box(object);
        const ABBox grown = node->GetBox().Union(box);
        node->center = grown.center;
        node->half = grown.extents;
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
        Walk(start, [](const Node*) { return true; }, [&out](T* object) { out.push_back(object); });
    }

    // Visits the subtree depth first in walk order; accept(node) decides whether a node and its
    // subtree are visited. It is asked when the node is reached, after every earlier sibling's
    // subtree was visited (ray searches tighten their limit as they go).
    template <class Accept, class Visit>
    static void Walk(const Node* start, Accept&& accept, Visit&& visit)
    {
        SpaceWalkStack<const Node*> stack;
        stack.Push(start);
        while (!stack.Empty()) {
            const Node* node = stack.Pop();
            if (!accept(node))
                continue;
            for (T* object = node->head; object;) {
                T* next = Traits::Links(object).next;
                visit(object);
                object = next;
            }
            for (int slot = 3; slot >= 0; --slot)
                if (node->children[slot])
                    stack.Push(node->children[slot]);
        }
    }

    // Objects in the frustum: nodes outside are skipped with their subtree, nodes inside every
    // active plane hand over their subtree untested, planes a node lies inside of are not tested
    // below it. test(object, frustum) decides for objects of straddling nodes. Returns the box
    // tests made.
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
        SpaceWalkStack<Entry> stack;
        stack.Push(Entry{start, mask, state});
        while (!stack.Empty()) {
            Entry e = stack.Pop();
            if (e.state != 2) {
                e.state = ClassifyBoxAgainstPlanes(e.node->center, e.node->half, frustum, e.mask);
                ++tests;
                if (e.state == 0)
                    continue;
            }
            if (e.state == 2) {
                for (T* object = e.node->head; object; object = Traits::Links(object).next)
                    out.push_back(object);
            } else {
                for (T* object = e.node->head; object; object = Traits::Links(object).next) {
                    ++tests;
                    if (test(object, frustum))
                        out.push_back(object);
                }
            }
            for (int slot = 3; slot >= 0; --slot)
                if (e.node->children[slot])
                    stack.Push(Entry{e.node->children[slot], e.mask, e.state});
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

    // Objects whose box overlaps the query box on all three axes; nodes are tested in x and z.
    template <class Test>
    static void GetObjectsInBox(const Node* start, std::vector<T*>& out, const ABBox& box, Test&& test)
    {
        Walk(start, [&box](const Node* node) { return BoxesOverlapXZ(node->center, node->half, box); },
             [&](T* object) {
                 if (test(object))
                     out.push_back(object);
             });
    }
    static void GetObjectsInBox(const Node* start, std::vector<T*>& out, const ABBox& box)
    {
        GetObjectsInBox(start, out, box, [&box](T* object) { return ABBoxesOverlap(Traits::Box(object), box); });
    }

    // The nearest object hit: intersection.distance is the limit on entry and the best hit on
    // return. Each object whose box the ray meets nearer than the best is asked with
    // intersect(object, ray, scratch); a strictly nearer answer replaces the best. Null when
    // nothing beat the starting distance.
    template <class Intersect>
    static T* GetIntersection(const Node* start, const Ray& ray, Intersection& intersection, Intersect&& intersect)
    {
        T* hit = nullptr;
        Walk(start, [&](const Node* node) { return node->GetBox().GetIntersection(ray) < intersection.distance; },
             [&](T* object) {
                 if (!(Traits::Box(object).GetIntersection(ray) < intersection.distance))
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
        SpaceLinks<T>& links = Traits::Links(object);
        links.node = node;
        links.prev = nullptr;
        links.next = node->head;
        if (node->head)
            Traits::Links(node->head).prev = object;
        node->head = object;
    }

    static void Unlink(Node* node, T* object)
    {
        SpaceLinks<T>& links = Traits::Links(object);
        if (links.prev)
            Traits::Links(links.prev).next = links.next;
        else
            node->head = links.next;
        if (links.next)
            Traits::Links(links.next).prev = links.prev;
        links = SpaceLinks<T>();
    }

    // The object is linked in node; it moves down while a candidate child's box holds it in x and
    // z (each child it enters grows over it), then widens its final node's vertical extent.
    static void PushDown(Node* node, T* object)
    {
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
                        child = new Node(node, center, half, node->depth + 1);
                    Unlink(node, object); // node keeps its child: nothing to prune
                    const ABBox grown = child->GetBox().Union(box);
                    child->center = grown.center;
                    child->half = grown.extents;
                    Link(child, object);
                    node = child;
                    continue;
                }
            }
            GrowSpatialTreeHeight(node, box.center.y - box.extents.y, box.center.y + box.extents.y);
            return;
        }
    }

    Node* m_root;
    unsigned m_count = 0;
};

} // namespace GAME
