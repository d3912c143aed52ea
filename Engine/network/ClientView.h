// The body of the CLIENT_VIEW link packet, in which a client reports its camera's view to the
// server: the view's region id (four u32, zero for no region), a u8 plane count (at most
// maxPlanes), then each plane's normal and distance (four f32, all finite). Any thread; the
// writer reads the region's id, so the region must stay loaded meanwhile (the main thread).
#pragma once

#include "core/Frustum.h"
#include "data/RegionId.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace GAME {

class WorldFrustum;

namespace ClientView {

constexpr size_t maxPlanes = 32;

// False for a view of more than maxPlanes planes or with a plane that is not finite.
bool Write(const WorldFrustum& view, std::vector<uint8_t>& body);
// False, leaving the outputs unspecified, for a body that is not exactly one such view.
bool Read(const uint8_t* body, size_t size, RegionId& region, Frustum& frustum);

} // namespace ClientView
} // namespace GAME
