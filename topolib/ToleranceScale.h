#pragma once
// The scale of the length tolerances for the mesh a thread is working on.
//
// The kernels below a mesh query (triangle tests, ray hits) are free functions
// that do not know their mesh. A query on a mesh whose size is below the
// reference size (StlObject::toleranceScale) opens a scope with that scale, and
// the kernels multiply their length tolerances by it (area tolerances by its
// square), so that a small model meets the same decisions as the same model at
// the reference size. Outside any scope the scale is 1.
//
// How the library keeps decisions independent of the model's size:
// - import: corners weld within 1e-6 times the mesh's scale; a facet is dropped
//   only for exactly repeated corners; normals and measures use the exact cross
//   product (Vector3D::normalizeAnyLength), so edges and shells are exact;
// - slicing, the inside tests and their ray kernels: scaled here;
// - editing and hole filling: scaled by the owner mesh's toleranceScale;
// - the drain-hole boolean (with the cutter and retriangulation it drives):
//   a small model is cut at a size scaled up by a power of two, which is exact.
// Tolerances on unit normals, cosines and parameters along a segment have no
// length and stay fixed; margins added to octree cells and boxes only let a
// walk visit more candidates, the triangle tests decide.

namespace topolib {

// The innermost open scope's scale on this thread; 1 with none open.
double toleranceScaleHere();

class ToleranceScope {
public:
    explicit ToleranceScope(double scale);
    ~ToleranceScope();
    ToleranceScope(const ToleranceScope&) = delete;
    ToleranceScope& operator=(const ToleranceScope&) = delete;

private:
    double m_previous;
};

} // namespace topolib
