#pragma once
// The float and index arrays the 3D view draws a mesh from. The drawing owns
// them: it has StlObject build them (buildSmoothRenderArrays,
// buildFlatRenderArrays), hands them to GL and lets them go; the mesh keeps
// only the marks that say they are out of date (vertexRenderStale,
// triangleRenderStale).
#include <cstdint>
#include <vector>

namespace topolib {

struct RenderArrays {
    // Three floats per array vertex each: per mesh vertex (smooth layout) or
    // three per triangle (flat layout).
    std::vector<float> positions;
    std::vector<float> normals;
    // Three array vertices per drawn triangle; two per drawn edge line (flat).
    std::vector<uint32_t> triangleIndices;
    std::vector<uint32_t> lineIndices;
    // Sizes of the flat layout: array vertices, indexed triangles, line indices.
    uint32_t vertexCount = 0;
    uint32_t triangleCount = 0;
    uint32_t lineIndexCount = 0;
};

} // namespace topolib
