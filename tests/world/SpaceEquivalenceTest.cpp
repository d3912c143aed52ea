// The tree against a plain model of it (pointer nodes, object lists, one box test at a time): the
// same random inserts, moves, box refreshes and removals must leave the same nodes, boxes (to the
// bit) and lists, and every query must answer the same objects in the same order.
#include "core/Intersect.h"
#include "core/Ray.h"
#include "core/Space.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace GAME {
namespace {

struct Item;

struct ModelNode
{
    Vec3 center, half;
    ModelNode* parent = nullptr;
    std::unique_ptr<ModelNode> children[4];
    std::vector<std::pair<Item*, ABBox>> list; // first added first
    unsigned depth = 0;
    bool IsEmpty() const
    {
        return list.empty() && !children[0] && !children[1] && !children[2] && !children[3];
    }
};

struct Item
{
    SpaceLinks<Item> links;
    ABBox box;
    ModelNode* modelNode = nullptr;
    SpaceLinks<Item>& GetSpaceLinks() { return links; }
    const ABBox& GetSpaceBox() const { return box; }
};

using Tree = Space<Item>;
using Node = Tree::Node;

// The tree's filing rules, one step at a time.
class Model
{
public:
    Model(float x, float z, float hx, float hz) : root(new ModelNode)
    {
        root->center = Vec3(x, 0.0f, z);
        root->half = Vec3(1.09f * hx, 0.0f, 1.09f * hz);
    }
    std::unique_ptr<ModelNode> root;

    void Add(ModelNode* n, Item* o)
    {
        GrowOver(n, o->box);
        n->list.emplace_back(o, o->box);
        o->modelNode = n;
        PushDown(n, o);
    }
    void Remove(Item* o)
    {
        ModelNode* n = o->modelNode;
        Unlink(n, o);
        while (n->IsEmpty() && n->parent) {
            ModelNode* parent = n->parent;
            for (auto& child : parent->children)
                if (child.get() == n)
                    child.reset();
            n = parent;
        }
    }
    void Update(Item* o)
    {
        ModelNode* n = o->modelNode;
        if (IsBoxInsideXZ(o->box.center, o->box.extents, n->center, n->half)) {
            PushDown(n, o);
            return;
        }
        Remove(o);
        Add(root.get(), o);
    }
    static void Refresh(Item* o)
    {
        for (auto& e : o->modelNode->list)
            if (e.first == o)
                e.second = o->box;
    }

private:
    static void Unlink(ModelNode* n, Item* o)
    {
        for (size_t i = 0; i < n->list.size(); ++i)
            if (n->list[i].first == o) {
                n->list.erase(n->list.begin() + static_cast<ptrdiff_t>(i));
                break;
            }
        o->modelNode = nullptr;
    }
    void PushDown(ModelNode* start, Item* o)
    {
        ModelNode* n = start;
        const ABBox& box = o->box;
        while (n->depth < 1000) {
            const float cx = n->half.x / (2.0f * 1.09f), cz = n->half.z / (2.0f * 1.09f);
            const bool gx = box.center.x > n->center.x, gz = box.center.z > n->center.z;
            const Vec3 center(gx ? n->center.x + cx : n->center.x - cx, 0.0f, gz ? n->center.z + cz : n->center.z - cz);
            const Vec3 half = n->half * 0.5f;
            if (!IsBoxInsideXZ(box.center, box.extents, center, half))
                break;
            std::unique_ptr<ModelNode>& child = n->children[(gx ? 1 : 0) + (gz ? 2 : 0)];
            if (!child) {
                child.reset(new ModelNode);
                child->center = center;
                child->half = half;
                child->parent = n;
                child->depth = n->depth + 1;
            }
            Unlink(n, o);
            GrowOver(child.get(), box);
            child->list.emplace_back(o, box);
            o->modelNode = child.get();
            n = child.get();
        }
        const float low = box.center.y - box.extents.y, high = box.center.y + box.extents.y;
        for (ModelNode* m = start; m; m = m->parent) {
            float top = m->center.y + m->half.y, bottom = m->center.y - m->half.y;
            if (!(high > top) && !(low < bottom))
                break;
            top = std::max(top, high);
            bottom = std::min(bottom, low);
            m->center.y = (top + bottom) * 0.5f;
            m->half.y = (top - bottom) * 0.5f * (1.0f + 1e-6f) + std::fabs(m->center.y) * 1e-6f;
        }
    }
    static void GrowOver(ModelNode* n, const ABBox& box)
    {
        const Vec3 lo = n->center - n->half, hi = n->center + n->half;
        const Vec3 blo = box.GetMin(), bhi = box.GetMax();
        if (lo.x <= blo.x && lo.y <= blo.y && lo.z <= blo.z && bhi.x <= hi.x && bhi.y <= hi.y && bhi.z <= hi.z)
            return;
        const ABBox grown = ABBox::FromMinMax(Vec3::Min(lo, blo), Vec3::Max(hi, bhi));
        n->center = grown.center;
        n->half = grown.extents + AbsVec3(grown.extents) * 1e-6f + AbsVec3(grown.center) * 1e-6f;
    }
};

// Walks the model depth first in walk order; visit(node, state, mask) answers whether to go on
// below (and with what state and mask).
template <class Visit> void ModelWalk(ModelNode* root, int state, uint32_t mask, Visit&& visit)
{
    struct Step
    {
        ModelNode* node;
        int state;
        uint32_t mask;
    };
    std::vector<Step> stack{{root, state, mask}};
    while (!stack.empty()) {
        Step s = stack.back();
        stack.pop_back();
        if (!visit(s.node, s.state, s.mask))
            continue;
        for (int slot = 3; slot >= 0; --slot)
            if (s.node->children[slot])
                stack.push_back({s.node->children[slot].get(), s.state, s.mask});
    }
}

// The same nodes, boxes to the bit, and lists in order; what differs first, else null.
const char* Differs(const Node* root, const ModelNode* modelRoot)
{
    std::vector<std::pair<const Node*, const ModelNode*>> stack{{root, modelRoot}};
    while (!stack.empty()) {
        auto [node, model] = stack.back();
        stack.pop_back();
        if (!node != !model)
            return "a node";
        if (!node)
            continue;
        if (node->center != model->center || node->half != model->half || node->depth != model->depth)
            return "a node's box or depth";
        std::vector<const SpaceEntry<Item>*> list;
        for (const SpaceEntry<Item>* it = node->Begin(); it != node->End(); ++it)
            if (it->object)
                list.push_back(it);
        if (node->GetObjectCount() != model->list.size() || list.size() != model->list.size())
            return "a list's length";
        for (size_t i = 0; i < model->list.size(); ++i)
            if (list[i]->object != model->list[i].first || list[i]->box != model->list[i].second ||
                model->list[i].first->links.node != node)
                return "a list";
        for (int slot = 0; slot < 4; ++slot)
            stack.emplace_back(node->children[slot], model->children[slot].get());
    }
    return nullptr;
}

Frustum RandomView(std::mt19937& random, float reach)
{
    std::uniform_real_distribution<float> at(-reach, reach), unit(-1.0f, 1.0f), angle(0.1f, 1.2f);
    Vec3 dir(unit(random), unit(random) * 0.5f, unit(random));
    if (dir.LengthSquared() < 1e-4f)
        dir = Vec3(1.0f, 0.0f, 0.0f);
    const Coords frame = Coords::LookInDirection(Vec3(at(random), at(random) * 0.1f, at(random)), dir.Unit(),
                                                 Vec3(0.0f, 1.0f, 0.0f));
    const float a = angle(random), c = std::cos(a), s = std::sin(a);
    const Vec3 x = frame.xAxis, y = frame.yAxis, z = frame.zAxis, eye = frame.origin;
    Frustum f;
    auto through = [&](const Vec3& n, const Vec3& p) { f.AddPlane(Plane(n, -Vec3::Dot(n, p))); };
    through(z, eye + z * 0.5f);
    through(-z, eye + z * (reach * 0.6f));
    through(x * c + z * s, eye);
    through(-x * c + z * s, eye);
    through(y * c + z * s, eye);
    through(-y * c + z * s, eye);
    return f;
}

// Runs one random history on both and compares after every step that changes the tree, and every
// query along the way.
void RunHistory(unsigned seed, float reach, float maxHalf, float zeroShare, int steps)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> at(-reach, reach), unit(0.0f, 1.0f), step(-reach * 0.05f, reach * 0.05f);
    auto randomHalf = [&] {
        const float u = unit(random);
        return u < zeroShare ? 0.0f : maxHalf * u * u; // many small boxes, some flat ones and points
    };
    auto randomBox = [&] {
        // One in twenty lies partly outside the root.
        const float far = unit(random) < 0.05f ? 1.6f : 1.0f;
        return ABBox(Vec3(at(random) * far, at(random) * 0.2f, at(random) * far),
                     Vec3(randomHalf(), randomHalf() * 0.5f, randomHalf()));
    };

    std::vector<std::unique_ptr<Item>> items; // outlive the tree, which unlinks what it still holds
    Tree tree(0.0f, 0.0f, reach, reach);
    Model model(0.0f, 0.0f, reach, reach);
    std::vector<Item*> live;
    std::vector<Item*> got;
    std::vector<Item*> expected;

    for (int i = 0; i < steps; ++i) {
        const float op = unit(random);
        if (live.size() < 8 || op < 0.15f) {
            items.push_back(std::make_unique<Item>());
            Item* o = items.back().get();
            o->box = randomBox();
            tree.Insert(o);
            model.Add(model.root.get(), o);
            live.push_back(o);
        } else if (op < 0.2f) {
            const size_t k = random() % live.size();
            tree.Remove(live[k]);
            model.Remove(live[k]);
            EXPECT_EQ(live[k]->links.node, nullptr);
            live.erase(live.begin() + static_cast<ptrdiff_t>(k));
        } else {
            Item* o = live[random() % live.size()];
            const float how = unit(random);
            if (how < 0.6f) // a step
                o->box.center += Vec3(step(random), step(random) * 0.1f, step(random));
            else if (how < 0.75f) // a jump
                o->box = randomBox();
            else // a new size in place
                o->box.extents = Vec3(randomHalf(), randomHalf() * 0.5f, randomHalf());
            Tree::RefreshBox(o);
            Model::Refresh(o);
            if (unit(random) < 0.85f) { // else left where it was filed
                tree.UpdateObject(o);
                model.Update(o);
            }
        }
        if (i % 3 == 0) {
            const char* differs = Differs(tree.GetRoot(), model.root.get());
            ASSERT_EQ(differs, nullptr) << differs << " differs after step " << i;
        }

        if (i % 5 != 0)
            continue;
        // Box query.
        const ABBox query(Vec3(at(random), at(random) * 0.1f, at(random)),
                          Vec3(unit(random) * reach * 0.3f, unit(random) * reach * 0.1f, unit(random) * reach * 0.3f));
        got.clear();
        expected.clear();
        Tree::GetObjectsInBox(tree.GetRoot(), got, query);
        ModelWalk(model.root.get(), 1, 0, [&](ModelNode* n, int&, uint32_t&) {
            if (!BoxesOverlapXZ(n->center, n->half, query))
                return false;
            for (auto it = n->list.rbegin(); it != n->list.rend(); ++it)
                if (ABBoxesOverlap(it->second, query))
                    expected.push_back(it->first);
            return true;
        });
        ASSERT_EQ(got, expected) << "box query, step " << i;

        // Frustum query: masks handed down, subtrees inside taken whole, the count of tests.
        auto modelFrustum = [&](const Frustum& view, std::vector<Item*>& out) {
            unsigned tests = 0;
            std::vector<std::pair<ModelNode*, std::pair<int, uint32_t>>> stack{{model.root.get(), {1, ~0u}}};
            while (!stack.empty()) {
                auto [n, sm] = stack.back();
                stack.pop_back();
                auto [state, mask] = sm;
                if (state != 2) {
                    state = ClassifyBoxAgainstPlanes(n->center, n->half, view, mask);
                    ++tests;
                    if (state == 0)
                        continue;
                }
                for (auto it = n->list.rbegin(); it != n->list.rend(); ++it) {
                    if (state == 1)
                        ++tests;
                    if (state == 2 || ABBoxInFrustum(it->second, view))
                        out.push_back(it->first);
                }
                for (int slot = 3; slot >= 0; --slot)
                    if (n->children[slot])
                        stack.push_back({n->children[slot].get(), {state, mask}});
            }
            return tests;
        };
        auto inView = [](Item*, const ABBox& box, const SpaceFrustum& f) { return f.BoxInFrustum(box); };
        const Frustum views[3] = {RandomView(random, reach), RandomView(random, reach), Frustum()};
        got.clear();
        expected.clear();
        const unsigned tests = Tree::GetObjectsInFrustum(tree.GetRoot(), got, views[0], 1, ~0u, inView);
        ASSERT_EQ(tests, modelFrustum(views[0], expected));
        ASSERT_EQ(got, expected) << "frustum query, step " << i;

        // Several frusta: each object once, in address order, flagged when the first one saw it.
        std::vector<Item*> both = expected;
        modelFrustum(views[1], both);
        std::sort(both.begin(), both.end());
        both.erase(std::unique(both.begin(), both.end()), both.end());
        both.insert(both.begin(), nullptr); // what was in the output before stays
        std::vector<bool> first;
        got.assign(1, nullptr);
        tree.GetObjectsInFrusta(got, views, 3, inView, &first);
        ASSERT_EQ(got, both);
        ASSERT_EQ(first.size(), got.size() - 1);
        for (size_t k = 0; k < first.size(); ++k)
            ASSERT_EQ(first[k], std::find(expected.begin(), expected.end(), got[k + 1]) != expected.end());

        // A ray: the nearest box, with the node walk's limit tightening as it goes.
        const Vec3 from(at(random), at(random) * 0.1f, at(random));
        const Ray ray(from, (Vec3(at(random), 0.0f, at(random)) - from).Unit());
        Intersection hit;
        Item* found = Tree::GetIntersection(tree.GetRoot(), ray, hit, [](Item* o, const Ray& r, Intersection& i) {
            i.distance = o->box.GetIntersection(r);
        });
        Item* modelFound = nullptr;
        Intersection modelHit;
        ModelWalk(model.root.get(), 1, 0, [&](ModelNode* n, int&, uint32_t&) {
            if (!(ABBox(n->center, n->half).GetIntersection(ray) < modelHit.distance))
                return false;
            for (auto it = n->list.rbegin(); it != n->list.rend(); ++it)
                if (it->second.GetIntersection(ray) < modelHit.distance) {
                    const float d = it->first->box.GetIntersection(ray);
                    if (d < modelHit.distance) {
                        modelHit.distance = d;
                        modelFound = it->first;
                    }
                }
            return true;
        });
        ASSERT_EQ(found, modelFound);
        ASSERT_EQ(hit.distance, modelHit.distance);
    }

    // Every object in walk order.
    got.clear();
    expected.clear();
    Tree::GetAllObjects(tree.GetRoot(), got);
    ModelWalk(model.root.get(), 1, 0, [&](ModelNode* n, int&, uint32_t&) {
        for (auto it = n->list.rbegin(); it != n->list.rend(); ++it)
            expected.push_back(it->first);
        return true;
    });
    EXPECT_EQ(got, expected);
    EXPECT_EQ(got.size(), live.size());
}

// The frustum's lane-parallel tests answer what the one-plane-at-a-time ones answer, mask included,
// also for boxes that touch a plane exactly, normals with zero components, and more planes than
// fit the inline groups or the mask.
TEST(SpaceEquivalenceTest, FrustumTestsMatchTheOneBoxTests)
{
    std::mt19937 random(5);
    std::uniform_int_distribution<int> small(-4, 4), planeCount(0, 40);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (int round = 0; round < 300; ++round) {
        Frustum frustum;
        const int planes = round < 20 ? round : planeCount(random);
        for (int i = 0; i < planes; ++i) {
            // Half the planes on whole numbers along the axes, where boxes touch them exactly.
            const bool grid = random() % 2 == 0;
            const Vec3 n = grid ? Vec3(float(small(random) % 2), float(small(random) % 2), float(small(random) % 2))
                                : Vec3(unit(random), unit(random), unit(random));
            frustum.AddPlane(Plane(n, grid ? float(small(random)) : unit(random) * 5.0f));
        }
        const SpaceFrustum lanes(frustum);
        for (int k = 0; k < 50; ++k) {
            const bool grid = random() % 2 == 0;
            const ABBox box = grid ? ABBox(Vec3(float(small(random)), float(small(random)), float(small(random))),
                                           Vec3(float(std::abs(small(random))), 0.0f, float(std::abs(small(random)))))
                                   : ABBox(Vec3(unit(random), unit(random), unit(random)) * 6.0f,
                                           Vec3(std::fabs(unit(random)), std::fabs(unit(random)), std::fabs(unit(random))) * 3.0f);
            ASSERT_EQ(lanes.BoxInFrustum(box), ABBoxInFrustum(box, frustum)) << round << " " << k;
            uint32_t mask = static_cast<uint32_t>(random()) | (k % 2 ? ~0u : 0u), laneMask = mask;
            const int state = ClassifyBoxAgainstPlanes(box.center, box.extents, frustum, mask);
            ASSERT_EQ(lanes.Classify(box.center, box.extents, laneMask), state) << round << " " << k;
            if (state != 0) { // an outside box's mask is not used
                ASSERT_EQ(laneMask, mask) << round << " " << k;
            }
        }
    }
}

TEST(SpaceEquivalenceTest, RandomHistoriesMatchTheModel)
{
    for (unsigned seed = 1; seed <= 6; ++seed) {
        // Small objects in a large tree go deep; large ones stay high; both move a lot.
        RunHistory(seed, 500.0f, seed % 2 ? 12.0f : 80.0f, 0.02f, 1500);
        if (HasFatalFailure())
            return;
    }
    // A small tree whose root keeps growing over objects placed outside it; points among them sink
    // a thousand levels deep.
    RunHistory(99, 5.0f, 4.0f, 0.3f, 300);
}

} // namespace
} // namespace GAME
