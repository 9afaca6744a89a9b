#pragma once
// One drain hole: a closed truncated cone of 20 sides along a direction, long
// enough to pass through the wall on both sides (it starts 0.8 wall thickness
// before the clicked point and ends 0.8 wall thickness beyond the wall).

#include <cstdint>
#include <vector>

namespace lcm {

class DrainHole {
public:
    static constexpr int kSides = 20;

    DrainHole();
    DrainHole(const DrainHole&) = delete;
    DrainHole& operator=(const DrainHole&) = delete;

    double length = 1.0;      // the wall thickness the hole must pass
    double startRadius = 0.1; // radius of the start circle (computed)
    double endRadius = 0.0;   // radius of the end circle (computed)
    double radius = 1.0;      // radius at the clicked point
    double taper = 1.0;       // growth of the radius per `length` along the direction
    double start[3] = {0, 0, 0};
    // Set by the caller (pointing into the object); after computeFrame the
    // vector from `start` to the end circle's centre.
    double direction[3] = {0, 0, 1};
    double position[3] = {0, 0, 0}; // the clicked surface point
    double axisU[3] = {1, 0, 0};
    double axisV[3] = {0, 1, 0};
    // 1 whenever the mesh arrays were rebuilt or released; the drawing code
    // clears it once it drew them.
    int32_t buffersDirty = 1;

    // Normalises the direction, builds the frame and the two end circles, and
    // scales the direction to the full axis. A zero direction is taken as +z.
    void computeFrame();
    // 2N vertices with their ring normals and 4N - 4 triangles (sides first,
    // then the start cap and the end cap), wound outward.
    void buildMesh();
    void releaseMesh();
    // releaseMesh, computeFrame and buildMesh: after any value changed.
    void rebuild();

    uint32_t vertexCount() const { return static_cast<uint32_t>(m_vertices.size() / 3); }
    uint32_t triangleCount() const { return static_cast<uint32_t>(m_indices.size() / 3); }
    const std::vector<double>& vertices() const { return m_vertices; }
    const std::vector<double>& normals() const { return m_normals; }
    const std::vector<uint32_t>& indices() const { return m_indices; }
    // What the drawing code needs: the vertex count, the side-wall vertex count
    // 2N, positions, normals and indices.
    void meshArrays(uint32_t* count, uint32_t* sideCount, const double** vertices, const double** normals,
                    const uint32_t** indices) const;
    // Centre of the end circle (start + direction).
    void endCentre(double out[3]) const;

private:
    std::vector<double> m_vertices;
    std::vector<double> m_normals;
    std::vector<uint32_t> m_indices;
};

} // namespace lcm
