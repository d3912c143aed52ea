// The value record of one light as the renderers see it. Light entities, the portal renderer's
// sun, the shadow-map renderer and the host fill one and hand it to the scene renderer, which keeps
// a copy for the frame. A plain value, copied member by member; no behaviour beyond its accessors.
#pragma once

#include "core/Color.h"
#include "core/WorldCoords.h"

#include <cstdint>

namespace GAME {

class GraphicsLight
{
public:
    enum Type : int32_t
    {
        TYPE_DIRECTIONAL = 0,
        TYPE_POINT = 1,
    };

    // A white, non-shadowing point light of radius 10 at the origin of no region.
    GraphicsLight() = default;

    // Renderers skip types other than 0 and 1.
    void SetType(int type) { m_type = static_cast<Type>(type); }
    Type GetType() const { return m_type; }
    // A point light shines from the origin; a directional light along the Z axis.
    void SetObjectToWorldCoords(const WorldCoords& coords) { m_coords = coords; }
    const WorldCoords& GetObjectToWorldCoords() const { return m_coords; }
    // A light whose red, green and blue are all 0 is never added to a scene.
    void SetColor(const Color& color) { m_color = color; }
    const Color& GetColor() const { return m_color; }
    // Reach of a point light in world units ("lightMaxDistance").
    void SetRadius(float radius) { m_radius = radius; }
    float GetRadius() const { return m_radius; }
    // "lightShadowIntensity".
    void SetShadowIntensity(float intensity) { m_shadowIntensity = intensity; }
    float GetShadowIntensity() const { return m_shadowIntensity; }
    // Shadow-casting lights get a shadow map and sort first.
    void SetCastsShadows(bool casts) { m_castsShadows = casts; }
    bool GetCastsShadows() const { return m_castsShadows; }

private:
    Type m_type = TYPE_POINT;
    WorldCoords m_coords;
    Color m_color = Color(1.0f, 1.0f, 1.0f, 1.0f);
    float m_radius = 10.0f;
    float m_shadowIntensity = 1.0f;
    bool m_castsShadows = false;
};

} // namespace GAME
