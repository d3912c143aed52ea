// The entity that puts a point light into the world: level designers place lights with a colour,
// an intensity, a radius and shadow settings, and every frame in which its region is drawn the
// light hands a GraphicsLight to the scene renderer. Emitters that carry a light own one of these
// too. Registered as "Light" under "Entity"; NightLight derives from it.
//
// Main thread (a level's loading thread creates and loads the lights of its level).
#pragma once

#include "core/Color.h"
#include "world/Entity.h"

namespace GAME {

class GraphicsLight;

class Light : public Entity
{
    GAME_DECLARE_CLASS(Light)

public:
    // What the light's users call its kind; drawing always uses a point light.
    enum Type : int32_t
    {
        TYPE_POINT = 0,
    };

    Light();

    // "radius", "color.r", "color.g", "color.b" (default 0) and "castsShadows" (false); alpha,
    // intensity, type and force shadows keep their values.
    void Load(const LoadTable& table) override;
    // Adds the light built by BuildGraphicsLight to the renderer (no attached entities).
    void AddToScene(GraphicsSceneRenderer& renderer, const Frustum* frustum) override;
    // A cube of half size radius around the light's region position.
    void UpdateBoundingBox() override;
    // Only in editor mode, with a surface other than 0: the sphere of the light's radius.
    void GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const override;
    // The base's, then the editor filter (category 4, in editor mode) and the box.
    void InitialUpdate() override;
    // Lights reach across portals.
    bool GetShouldRenderAcrossPortals() const override { return true; }
    bool IncludeInMinimap() const override { return true; }
    virtual void Enable() { m_enabled = true; }
    virtual void Disable() { m_enabled = false; }

    // The point light for this frame: false (nothing to add) when disabled, or when the frustum is
    // given and the light's sphere lies wholly behind one of its planes. Shadows only when the
    // light casts them and either lighting is not low-quality or shadows are forced.
    bool BuildGraphicsLight(const Frustum* frustum, bool lowQualityLighting, GraphicsLight& light) const;

    void SetColor(const Color& color) { m_color = color; }
    const Color& GetColor() const { return m_color; }
    // Clamped to 0 to 1.
    void SetIntensity(float intensity);
    float GetIntensity() const { return m_intensity; }
    void SetType(Type type) { m_type = type; }
    Type GetType() const { return m_type; }
    // Refreshes the box at once.
    void SetRadius(float radius);
    float GetRadius() const { return m_radius; }
    void SetShadowIntensity(float intensity) { m_shadowIntensity = intensity; }
    float GetShadowIntensity() const { return m_shadowIntensity; }
    void SetShadowCasting(bool casts) { m_castsShadows = casts; }
    bool GetShadowCasting() const { return m_castsShadows; }
    void SetForceShadows(bool force) { m_forceShadows = force; }
    bool GetForceShadows() const { return m_forceShadows; }
    bool IsEnabled() const { return m_enabled; }

protected:
    // In editor mode the light leaves the editor filter.
    ~Light() override;
    // The point light of these settings placed at coords, with shadows as given; false when
    // disabled or culled by the frustum.
    bool BuildGraphicsLightAt(const WorldCoords& coords, const Frustum* frustum, bool shadows,
                              GraphicsLight& light) const;

private:
    Type m_type = TYPE_POINT;
    Color m_color = Color(1.0f, 1.0f, 1.0f, 1.0f);
    float m_intensity = 1.0f;
    float m_radius = 10.0f;
    float m_shadowIntensity = 1.0f;
    bool m_castsShadows = false;
    bool m_forceShadows = false;
    bool m_enabled = true;
};

} // namespace GAME
