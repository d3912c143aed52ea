// The only source file that includes CGAL (it compiles slowly); nothing of it leaves this file.
#include "core/MeshGenerator2D.h"

#include "core/Log.h"

#include <CGAL/Constrained_Delaunay_triangulation_2.h>
#include <CGAL/Constrained_triangulation_plus_2.h>
#include <CGAL/Exact_predicates_exact_constructions_kernel.h>
#include <CGAL/Triangulation_face_base_with_info_2.h>
#include <CGAL/Triangulation_vertex_base_with_info_2.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <limits>
#include <map>
#include <new>
#include <utility>
#include <vector>

namespace GAME {

namespace {

struct VertexInfo
{
    int32_t number = -1; // zero-based output number; -1 until assigned
};

struct FaceInfo
{
    bool infected = false;
};

using Kernel = CGAL::Exact_predicates_exact_constructions_kernel;
using VertexBase = CGAL::Triangulation_vertex_base_with_info_2<VertexInfo, Kernel>;
using FaceBase =
    CGAL::Constrained_triangulation_face_base_2<Kernel,
                                                CGAL::Triangulation_face_base_with_info_2<FaceInfo, Kernel>>;
using DataStructure = CGAL::Triangulation_data_structure_2<VertexBase, FaceBase>;
using Delaunay =
    CGAL::Constrained_Delaunay_triangulation_2<Kernel, DataStructure, CGAL::Exact_intersections_tag>;
using Triangulation = CGAL::Constrained_triangulation_plus_2<Delaunay>;
using Point = Kernel::Point_2;
using VertexHandle = Triangulation::Vertex_handle;
using FaceHandle = Triangulation::Face_handle;
using ConstraintId = Triangulation::Constraint_id;

// Every line the generator has to say goes through here into the engine log.
void Message(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Message(const char* format, ...)
{
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    LogText(0, 0, line);
}

struct Switches
{
    bool pslg = false;
    bool zeroBased = false;
    bool convex = false;
    bool carve = false;
    bool quiet = false;
    bool verbose = false;
};

Switches ParseSwitches(const char* text)
{
    Switches s;
    for (; text && *text; ++text) {
        switch (*text) {
        case 'p':
            s.pslg = true;
            break;
        case 'z':
            s.zeroBased = true;
            break;
        case 'c':
            s.convex = true;
            break;
        case 'H':
            s.carve = true;
            break;
        case 'Q':
            s.quiet = true;
            break;
        case 'V':
            s.verbose = true;
            break;
        default:
            break;
        }
    }
    return s;
}

// A piece of an input segment between two consecutive mesh vertices on it, in the segment's
// own direction.
struct Subsegment
{
    VertexHandle origin;
    VertexHandle destination;
    int32_t marker;
};

class Generator
{
public:
    Generator(const Switches& switches, const MeshGeneratorInput& in) : m_switches(switches), m_in(in) {}

    bool Run(MeshGeneratorOutput& out);

private:
    bool CheckInput();
    void InsertPoints();
    void InsertSegments();
    void NumberNewVertices();
    void Carve();
    void Infect(FaceHandle face, std::vector<FaceHandle>& queue);
    void Write(MeshGeneratorOutput& out) const;

    int32_t SegmentEnd(size_t segment, int end) const
    {
        return m_in.segments[2 * segment + static_cast<size_t>(end)] - (m_switches.zeroBased ? 0 : 1);
    }

    const Switches& m_switches;
    const MeshGeneratorInput& m_in;
    size_t m_pointCount = 0;
    size_t m_segmentCount = 0;
    Triangulation m_mesh;
    std::vector<VertexHandle> m_handles;     // per input point
    std::vector<ConstraintId> m_constraints; // per input segment; null when skipped
    std::vector<Subsegment> m_subsegments;   // pool order: by segment, then along it
    int32_t m_nextNumber = 0;
    std::vector<VertexHandle> m_newVertices; // inserted points, by number
};

bool Generator::CheckInput()
{
    if (m_in.points.size() % 2 != 0) {
        Message("Error:  The point list holds an odd number of coordinates.\n");
        return false;
    }
    if (m_in.segments.size() % 2 != 0) {
        Message("Error:  The segment list holds an odd number of point numbers.\n");
        return false;
    }
    m_pointCount = m_in.points.size() / 2;
    m_segmentCount = m_switches.pslg ? m_in.segments.size() / 2 : 0;
    if (m_pointCount > size_t(std::numeric_limits<int32_t>::max() / 2)) {
        Message("Error:  Too many input vertices.\n");
        return false;
    }
    if (m_pointCount < 3) {
        Message("Error:  Input must have at least three input vertices.\n");
        return false;
    }
    for (size_t i = 0; i < m_in.points.size(); ++i) {
        if (!std::isfinite(m_in.points[i])) {
            Message("Error:  Input vertex %d has a coordinate that is not a finite number.\n",
                    int(i / 2) + (m_switches.zeroBased ? 0 : 1));
            return false;
        }
    }
    return true;
}

void Generator::InsertPoints()
{
    if (!m_switches.quiet)
        Message("Constructing constrained Delaunay triangulation.\n");
    m_handles.resize(m_pointCount);
    VertexHandle hint;
    for (size_t i = 0; i < m_pointCount; ++i) {
        const double x = m_in.points[2 * i], y = m_in.points[2 * i + 1];
        VertexHandle v =
            hint == VertexHandle() ? m_mesh.insert(Point(x, y)) : m_mesh.insert(Point(x, y), hint->face());
        if (v->info().number < 0)
            v->info().number = static_cast<int32_t>(i);
        else if (!m_switches.quiet)
            Message("Warning:  A duplicate vertex at (%.12g, %.12g) appeared and was ignored.\n", x, y);
        m_handles[i] = v;
        hint = v;
    }
    m_nextNumber = static_cast<int32_t>(m_pointCount);
}

void Generator::InsertSegments()
{
    m_constraints.assign(m_segmentCount, ConstraintId(nullptr));
    if (m_segmentCount == 0)
        return;
    if (!m_switches.quiet)
        Message("Inserting segments.\n");
    const int first = m_switches.zeroBased ? 0 : 1;
    for (size_t s = 0; s < m_segmentCount; ++s) {
        const int32_t a = SegmentEnd(s, 0), b = SegmentEnd(s, 1);
        if (a < 0 || size_t(a) >= m_pointCount) {
            if (!m_switches.quiet)
                Message("Warning:  Invalid first endpoint of segment %d.\n", int(s) + first);
            continue;
        }
        if (b < 0 || size_t(b) >= m_pointCount) {
            if (!m_switches.quiet)
                Message("Warning:  Invalid second endpoint of segment %d.\n", int(s) + first);
            continue;
        }
        if (m_handles[size_t(a)] == m_handles[size_t(b)]) {
            if (!m_switches.quiet)
                Message("Warning:  Segment %d has both endpoints at the same place and was ignored.\n",
                        int(s) + first);
            continue;
        }
        m_constraints[s] = m_mesh.insert_constraint(m_handles[size_t(a)], m_handles[size_t(b)]);
    }
}

void Generator::NumberNewVertices()
{
    // Crossing points are numbered in the order the segments meet them; each segment's pieces
    // become the subsegments, in the segment's own direction.
    for (size_t s = 0; s < m_segmentCount; ++s) {
        const ConstraintId cid = m_constraints[s];
        if (cid == ConstraintId(nullptr))
            continue;
        const int32_t marker = s < m_in.segmentMarkers.size() ? m_in.segmentMarkers[s] : 0;
        VertexHandle previous;
        for (auto it = m_mesh.vertices_in_constraint_begin(cid); it != m_mesh.vertices_in_constraint_end(cid);
             ++it) {
            VertexHandle v = *it;
            if (v->info().number < 0) {
                v->info().number = m_nextNumber++;
                m_newVertices.push_back(v);
            }
            if (previous != VertexHandle())
                m_subsegments.push_back(Subsegment{previous, v, marker});
            previous = v;
        }
    }
    // Every inserted vertex lies on a segment; this only guards the numbering.
    for (auto v = m_mesh.finite_vertices_begin(); v != m_mesh.finite_vertices_end(); ++v) {
        if (v->info().number < 0) {
            v->info().number = m_nextNumber++;
            m_newVertices.push_back(v);
        }
    }
}

void Generator::Infect(FaceHandle face, std::vector<FaceHandle>& queue)
{
    if (m_mesh.is_infinite(face) || face->info().infected)
        return;
    face->info().infected = true;
    queue.push_back(face);
}

void Generator::Carve()
{
    if (!m_switches.quiet)
        Message("Removing unwanted triangles.\n");

    std::map<std::pair<const void*, const void*>, size_t> subsegmentOfEdge;
    for (size_t i = 0; i < m_subsegments.size(); ++i) {
        const void* a = &*m_subsegments[i].origin;
        const void* b = &*m_subsegments[i].destination;
        subsegmentOfEdge.emplace(a < b ? std::make_pair(a, b) : std::make_pair(b, a), i);
    }

    // Triangles on the hull that no segment protects go; protected hull pieces without a marker
    // get marker 1.
    std::vector<FaceHandle> queue;
    for (auto f = m_mesh.all_faces_begin(); f != m_mesh.all_faces_end(); ++f) {
        if (!m_mesh.is_infinite(f))
            continue;
        const int infiniteIndex = f->index(m_mesh.infinite_vertex());
        const FaceHandle inside = f->neighbor(infiniteIndex);
        const int edgeIndex = inside->index(f);
        if (!m_mesh.is_constrained(Triangulation::Edge(inside, edgeIndex))) {
            Infect(inside, queue);
            continue;
        }
        const void* a = &*inside->vertex(Triangulation::ccw(edgeIndex));
        const void* b = &*inside->vertex(Triangulation::cw(edgeIndex));
        auto found = subsegmentOfEdge.find(a < b ? std::make_pair(a, b) : std::make_pair(b, a));
        if (found != subsegmentOfEdge.end() && m_subsegments[found->second].marker == 0)
            m_subsegments[found->second].marker = 1;
    }

    if (m_switches.carve) {
        for (const Subsegment& piece : m_subsegments) {
            if (piece.marker < 1 || size_t(piece.marker - 1) >= m_segmentCount)
                continue;
            const int32_t firstEnd = SegmentEnd(size_t(piece.marker - 1), 0);
            if (firstEnd < 0 || size_t(firstEnd) >= m_pointCount)
                continue;
            // Vertices are unique per position, so this is the exact comparison of x and y.
            if (piece.origin != m_handles[size_t(firstEnd)])
                continue;
            FaceHandle face;
            int index = 0;
            if (!m_mesh.is_edge(piece.origin, piece.destination, face, index))
                continue;
            // The face lies left of vertex(ccw(index)) -> vertex(cw(index)); the right side of
            // origin -> destination is the face where that edge runs destination -> origin.
            if (face->vertex(Triangulation::ccw(index)) != piece.destination)
                face = face->neighbor(index);
            Infect(face, queue);
        }
    }

    while (!queue.empty()) {
        const FaceHandle face = queue.back();
        queue.pop_back();
        for (int i = 0; i < 3; ++i)
            if (!m_mesh.is_constrained(Triangulation::Edge(face, i)))
                Infect(face->neighbor(i), queue);
    }
}

void Generator::Write(MeshGeneratorOutput& out) const
{
    const int32_t first = m_switches.zeroBased ? 0 : 1;
    out.points.reserve(m_in.points.size() + 2 * m_newVertices.size());
    out.points.insert(out.points.end(), m_in.points.begin(), m_in.points.end());
    for (const VertexHandle& v : m_newVertices) {
        out.points.push_back(CGAL::to_double(v->point().x()));
        out.points.push_back(CGAL::to_double(v->point().y()));
    }
    if (m_mesh.dimension() < 2)
        return;
    for (auto f = m_mesh.finite_faces_begin(); f != m_mesh.finite_faces_end(); ++f) {
        if (f->info().infected)
            continue;
        for (int i = 0; i < 3; ++i)
            out.triangles.push_back(f->vertex(i)->info().number + first);
    }
}

bool Generator::Run(MeshGeneratorOutput& out)
{
    if (!CheckInput())
        return false;
    InsertPoints();
    InsertSegments();
    NumberNewVertices();
    if (m_switches.pslg && !m_switches.convex && m_mesh.dimension() == 2)
        Carve();
    Write(out);
    if (m_switches.verbose) {
        Message("  Mesh vertices: %d\n", int(out.points.size() / 2));
        Message("  Mesh triangles: %d\n", int(out.triangles.size() / 3));
        Message("  Mesh subsegments: %d\n", int(m_subsegments.size()));
    }
    return true;
}

} // namespace

bool GenerateMesh2D(const char* switches, const MeshGeneratorInput& in, MeshGeneratorOutput& out)
{
    out.points.clear();
    out.triangles.clear();
    const Switches parsed = ParseSwitches(switches);
    // The result is built apart and handed over only when the whole run succeeded.
    MeshGeneratorOutput result;
    bool ok = false;
    try {
        Generator generator(parsed, in);
        ok = generator.Run(result);
    } catch (const std::bad_alloc&) {
        Message("Error:  Out of memory.\n");
    } catch (const std::exception& e) {
        Message("Error:  Internal failure of the mesh generator: %.900s\n", e.what());
    } catch (...) {
        Message("Error:  Internal failure of the mesh generator.\n");
    }
    if (!ok)
        return false;
    out.points.swap(result.points);
    out.triangles.swap(result.triangles);
    return true;
}

} // namespace GAME
