#include "network/ClientView.h"

#include "core/WorldFrustum.h"
#include "network/NetPacketBuffer.h"
#include "network/NetworkWorldServices.h"

#include <cmath>

namespace GAME::ClientView {

namespace {

bool IsFinitePlane(const Plane& plane)
{
    return std::isfinite(plane.normal.x) && std::isfinite(plane.normal.y) && std::isfinite(plane.normal.z) &&
           std::isfinite(plane.d);
}

} // namespace

bool Write(const WorldFrustum& view, std::vector<uint8_t>& body)
{
    const Frustum& frustum = view.GetRegionFrustum();
    if (frustum.GetNumPlanes() > maxPlanes)
        return false;
    NetPacketOutBuffer out;
    const RegionId id =
        view.GetRegion() ? NetworkWorldServices::Current().GetIdOfRegion(view.GetRegion()) : RegionId();
    for (int i = 0; i < 4; ++i) {
        uint32_t word = id.GetWord(i);
        out.Add(&word);
    }
    uint8_t count = static_cast<uint8_t>(frustum.GetNumPlanes());
    out.Add(&count);
    for (size_t i = 0; i < frustum.GetNumPlanes(); ++i) {
        Plane plane = frustum.GetPlane(i);
        if (!IsFinitePlane(plane))
            return false;
        out.Add(&plane.normal);
        out.Add(&plane.d);
    }
    body = out.GetData();
    return true;
}

bool Read(const uint8_t* body, size_t size, RegionId& region, Frustum& frustum)
{
    NetPacketInBuffer in(body, size);
    for (int i = 0; i < 4; ++i) {
        uint32_t word = 0;
        in.Remove(&word);
        region.SetWord(i, word);
    }
    uint8_t count = 0;
    in.Remove(&count);
    // The count is checked against the bytes left before anything is made.
    if (in.Failed() || count > maxPlanes || in.GetRemaining() != size_t(count) * 16)
        return false;
    frustum.planes.clear();
    frustum.planes.reserve(count);
    for (uint8_t i = 0; i < count; ++i) {
        Plane plane;
        in.Remove(&plane.normal);
        in.Remove(&plane.d);
        if (!IsFinitePlane(plane))
            return false;
        frustum.AddPlane(plane);
    }
    return !in.Failed() && in.GetRemaining() == 0;
}

} // namespace GAME::ClientView
