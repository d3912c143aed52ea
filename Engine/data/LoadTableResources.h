// What a record table's resource fields are loaded through: meshes, textures, shaders and
// animations belong to the graphics engine, effects to the engine's effect resource manager, all
// above the data layer. The engine implements this interface and installs it while its graphics
// engine exists; without it every load answers null.
// Threads: installed and removed on the main thread; loads run where the table is read.
#pragma once

#include <string>

namespace GAME {

class EffectResource;
class GraphicsAnim;
class GraphicsMesh;
class GraphicsShader2;
class GraphicsTexture;

class LoadTableResources
{
public:
    virtual ~LoadTableResources() = default;

    virtual GraphicsMesh* LoadMesh(const std::string& fileName) = 0;
    virtual GraphicsTexture* LoadTexture(const std::string& fileName) = 0;
    virtual GraphicsShader2* LoadShader2(const std::string& fileName) = 0;
    virtual GraphicsAnim* LoadAnimation(const std::string& fileName) = 0;
    virtual EffectResource* LoadResourceEffect(const std::string& fileName) = 0;

    static void Install(LoadTableResources* resources);
    static LoadTableResources* Get();
};

} // namespace GAME
