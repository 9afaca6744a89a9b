#pragma once
// Turns the outlines of one cross-section into fill triangles with the GLU
// tessellator. It needs no GL context, so it runs on the slicing thread and in
// tests without a display.
#include <array>
#include <cstdint>
#include <vector>

class GluTesselator {
public:
    using Point = std::array<double, 3>;
    using Contour = std::vector<Point>;

    // Makes the GLU object; a null result counts as GLU failing to make one.
    using TessFactory = void* (*)();

    // contours: closed outlines (the closing point need not be repeated);
    // windingRule: one of the GLU_TESS_WINDING_* values. The contours are
    // copied. factory: makes the GLU object (null: gluNewTess); a test makes
    // creation fail with it.
    GluTesselator(const std::vector<Contour>& contours, int windingRule, TessFactory factory = nullptr);
    virtual ~GluTesselator();

    // Fills vertices() and indices(). Throws std::runtime_error with the text
    // "Creation of tesselation object failed." when GLU cannot make a
    // tessellator; vertices() then holds the input points and indices() is empty.
    void tessellate();

    // Every input point in order, then the points GLU made where outlines cross.
    const std::vector<Point>& vertices() const { return _vertices; }
    // Three indices into vertices() per triangle.
    const std::vector<std::uint32_t>& indices() const { return _indices; }

private:
    static void beginCallback(unsigned type, void* self);
    static void edgeFlagCallback(unsigned char flag, void* self);
    static void endCallback(void* self);
    static void errorCallback(unsigned error, void* self);
    static void vertexCallback(void* vertexData, void* self);
    static void combineCallback(const double coords[3], void* vertexData[4], const float weight[4],
                                void** outData, void* self);

    int _windingRule;
    TessFactory _factory;
    std::vector<Contour> _contours;
    std::vector<Point> _vertices;
    std::vector<std::uint32_t> _indices;
    bool _failed = false;
};

// Sum of the areas of the triangles (x, y only): the filled area of a tessellated
// cross-section.
double triangleAreaXY(const std::vector<GluTesselator::Point>& vertices,
                      const std::vector<std::uint32_t>& indices);
