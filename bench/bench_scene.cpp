// One frame's scene through the software device: 20,000 renderables in 50 regions are queued,
// their passes of one style gathered and filtered by sort order, and the records sorted into
// drawing order. The figure compares the renderer's sort of the pass records with std::stable_sort
// alone over the same records and the same key (sort order, shader, style, texture).
#include "common/BenchReport.h"

#include "core/Name.h"
#include "data/EngineDataServices.h"
#include "data/FileSystem.h"
#include "data/Options.h"
#include "data/ResourceLoader.h"
#include "datakit/ShaderWriter.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsShader2.h"
#include "scene/GraphicsRenderable.h"
#include "scene/GraphicsSceneRenderer.h"
#include "world/Region.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace GAME;

namespace {

constexpr int kRenderables = 20000;
constexpr int kRegions = 50;
constexpr int kShaders = 8;
constexpr int kRounds = 15;

class BenchServices : public EngineDataServices
{
public:
    explicit BenchServices(const std::string& root)
    {
        files.AddSource(FileSystem::PARTITION_0, root.c_str(), false, false, false);
        Install(this);
    }
    ~BenchServices() override { Install(nullptr); }
    unsigned int GetFrameCount() override { return 1; }
    FileSystem* GetFileSystem() override { return &files; }
    void AddStatisticText(const char*) override {}
    unsigned int GetEngineLogCategory() override { return 0; }
    bool AreGraphicsStatsEnabled() override { return false; }
    FileSystem files;
};

class BenchRenderable : public GraphicsRenderable
{
public:
    BenchRenderable(const ABBox& box, const GraphicsShader2* shader, int sortOrder, const Name& style)
        : m_box(box), m_shader(shader), m_sortOrder(sortOrder), m_style(style)
    {
    }
    virtual ~BenchRenderable() = default;
    int GetNumRenderPasses(const Name&, RenderGenerationId) const override { return 2; }
    ABBox GetRenderPassBoundingBox() const override { return m_box; }
    int GetRenderPassSortOrder(int pass, const Name&, RenderGenerationId) const override
    {
        return pass == 0 ? m_sortOrder : 10000;
    }
    const GraphicsShader2* GetShader2(int, const Name&) const override { return m_shader; }
    const Name& GetShaderStyle(int, const Name&, RenderGenerationId) const override { return m_style; }
    const GraphicsTexture* GetTexture(int, const Name&) const override
    {
        return reinterpret_cast<const GraphicsTexture*>(static_cast<uintptr_t>(m_sortOrder % 7) * 64 + 64);
    }
    void RenderPass(const RenderablePass&, const Name&, GraphicsCanvas&,
                    const GraphicsSceneRenderer&) override
    {
    }
    void LogInfo() const override {}

private:
    ABBox m_box;
    const GraphicsShader2* m_shader;
    int m_sortOrder;
    Name m_style;
};

class BenchRenderer : public GraphicsSceneRenderer
{
public:
    bool SetSceneShaderParameters(GraphicsCanvas&, GraphicsShader2&) override { return true; }
    void AddRegionContents(Region* region, const Coords&, const Frustum&, const WorldFrustum*) override
    {
        for (auto& [owner, renderable] : *contents)
            if (owner == region)
                AddRenderable(renderable, region);
    }
    const std::vector<std::pair<Region*, BenchRenderable*>>* contents = nullptr;
};

bool Before(const RenderablePass& a, const RenderablePass& b)
{
    if (a.sortOrder != b.sortOrder)
        return a.sortOrder < b.sortOrder;
    if (a.shader != b.shader)
        return a.shader < b.shader;
    if (a.styleIndex != b.styleIndex)
        return a.styleIndex < b.styleIndex;
    return a.texture < b.texture;
}

} // namespace

const char* const kHelp = R"(bench_scene: sorting one frame's scene into drawing order.

Measures, on the Software device (Software.so, which records and draws nothing): 20,000
renderables in 50 regions queued, their passes of one style gathered and sorted into drawing order
by the scene renderer.
Reference, in the same run: std::stable_sort alone over the same records and the same key (sort
order, shader, style, texture); both must give the same order.

Figures (last lines of the output):
  value scene_frame_time             ms to queue, gather and sort the frame; lower is better
  value scene_passes                 pass records sorted (what the frame holds; neither way is better)
  ratio scene_sort_vs_stable_sort    renderer's sort / std::stable_sort; lower is better
)";

int main(int argc, char** argv)
{
    if (const int code = BenchCommandLine(argc, argv, kHelp); code >= 0)
        return code;
    const std::filesystem::path root = std::filesystem::temp_directory_path() / "bench_scene_data";
    std::filesystem::create_directories(root / "shaders");
    std::vector<std::string> shaderNames;
    for (int i = 0; i < kShaders; ++i) {
        DataKit::ShaderWriter writer;
        for (const char* generation : {"GeForce6", "GeForce3"})
            writer.AddSection(generation).Style("other", 0).Style("lit", 0);
        shaderNames.push_back("shaders/s" + std::to_string(i) + ".ssh");
        if (!writer.Save((root / shaderNames.back()).string())) {
            std::fprintf(stderr, "bench_scene: cannot write the shaders\n");
            return 1;
        }
    }

    int status = 0;
    {
        BenchServices services(root.string());
        ResourceLoader loader;
        Options options;
        GraphicsEngineSettings settings;
        settings.deviceName = "Software";
        GraphicsEngine graphics(&options, (root / "settings.txt").string(), false);
        graphics.SetSurfaceRetryDelay(0);
        if (!graphics.CreateDevice(nullptr, settings) || !graphics.Initialize(nullptr, settings, &loader)) {
            std::fprintf(stderr, "bench_scene: the software device is not available\n");
            return 1;
        }
        std::vector<GraphicsShader2*> shaders;
        for (const std::string& name : shaderNames) {
            GraphicsShader2* shader = graphics.LoadShader2(name);
            shader->EnsureAvailable();
            if (!shader->GetIsReadyToUse()) {
                std::fprintf(stderr, "bench_scene: shader %s did not load\n", name.c_str());
                return 1;
            }
            shaders.push_back(shader);
        }

        std::vector<std::unique_ptr<Region>> regions;
        for (int i = 0; i < kRegions; ++i) {
            regions.push_back(std::make_unique<Region>(ABBox(Vec3(), Vec3(64, 64, 64))));
            regions.back()->SetOffsetFromWorld(IntVec3((i % 10) * 128, 0, (i / 10) * 128));
        }
        std::mt19937 random(77);
        std::uniform_real_distribution<float> place(-60.0f, 60.0f);
        std::uniform_int_distribution<int> order(0, 1200);
        std::vector<std::unique_ptr<BenchRenderable>> renderables;
        std::vector<std::pair<Region*, BenchRenderable*>> contents;
        const Name lit = Name::Create("lit");
        for (int i = 0; i < kRenderables; ++i) {
            renderables.push_back(std::make_unique<BenchRenderable>(
                ABBox(Vec3(place(random), place(random), place(random)), Vec3(1, 1, 1)),
                shaders[static_cast<size_t>(random() % kShaders)], order(random), lit));
            contents.emplace_back(regions[static_cast<size_t>(i % kRegions)].get(), renderables.back().get());
        }
        const Name style = Name::Create("frame");

        // A whole frame: regions added, passes gathered (sort orders above 9999 filtered out) and
        // sorted.
        size_t passes = 0;
        const double frame = BestOf(kRounds, [&] {
            BenchRenderer renderer;
            renderer.contents = &contents;
            renderer.SetViewer(regions[0].get(), Camera(), Viewport(0, 0, 1024, 768), Frustum());
            for (auto& region : regions)
                renderer.AddRegionToScene(region.get());
            std::vector<RenderablePass> list;
            renderer.GatherPasses(list, style, -1, 9999, nullptr);
            GraphicsSceneRenderer::SortPasses(list);
            passes = list.size();
        });

        // The sort alone against std::stable_sort over the same gathered records.
        BenchRenderer renderer;
        renderer.contents = &contents;
        for (auto& region : regions)
            renderer.AddRegionToScene(region.get());
        std::vector<RenderablePass> gathered;
        renderer.GatherPasses(gathered, style, -1, 9999, nullptr);
        std::vector<RenderablePass> work;
        const double ours = BestOf(kRounds, [&] {
            work = gathered;
            GraphicsSceneRenderer::SortPasses(work);
        });
        std::vector<RenderablePass> reference;
        const double stable = BestOf(kRounds, [&] {
            reference = gathered;
            std::stable_sort(reference.begin(), reference.end(), Before);
        });
        std::vector<RenderablePass> copy;
        const double copyOnly = BestOf(kRounds, [&] { copy = gathered; });
        bool same = work.size() == reference.size();
        for (size_t i = 0; same && i < work.size(); ++i)
            same =
                work[i].renderable == reference[i].renderable && work[i].passIndex == reference[i].passIndex;
        if (!same) {
            std::fprintf(stderr, "bench_scene: the sorts disagree\n");
            status = 1;
        }
        for (GraphicsShader2* shader : shaders)
            graphics.UnloadShader2(shader);

        BenchReport report;
        report.Value("scene_frame_time", frame * 1e3, "ms");
        report.Count("scene_passes", static_cast<long long>(passes), "records");
        report.Ratio("scene_sort_vs_stable_sort", (ours - copyOnly) / (stable - copyOnly));
        report.Print();
    }
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    return status;
}
