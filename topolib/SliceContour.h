#pragma once

#include <cstdint>
#include <vector>

namespace topolib {

// One point of a slice outline, in the mesh's x and y (single precision is plenty
// for a preview and halves the memory of large results).
struct SlicePoint {
    float x = 0.0f;
    float y = 0.0f;
};

// One outline of a slice. Points are in walk order: seen from above, the solid's
// material lies to the left of every segment, so outer outlines run
// counter-clockwise and outlines of holes clockwise. A closed outline repeats its
// first point at the end (k segments, k + 1 points); an open one (the cut ran into
// the mesh's border) does not.
struct SliceContour {
    std::vector<SlicePoint> points;
    // True when the walk came back to the triangle it started from.
    bool closed = false;

    // Signed area of the outline closed by its first and last point, seen from
    // above: positive for counter-clockwise outlines. Computed in double.
    double signedArea() const;

    // Frees every point and the point storage.
    void clear() {
        points.clear();
        points.shrink_to_fit();
    }
};

// The outlines of one mesh at one height, as returned by StlObject::sliceAt.
// The caller owns it.
struct SliceContourSet {
    std::vector<SliceContour> contours;
    // Display tolerance handed on to the slice preview; slicing itself does not
    // read it.
    float tolerance = 0.025f;
    // The height that was cut, in single precision; the outlines are exact for
    // this value.
    float z = 0.0f;

    // Releases every outline and its points and leaves the set empty.
    void clear() {
        contours.clear();
        contours.shrink_to_fit();
    }
    bool empty() const { return contours.empty(); }
    // The outline at index, or null when index is not below the outline count.
    SliceContour* contourAt(unsigned index) { return index < contours.size() ? &contours[index] : nullptr; }
    const SliceContour* contourAt(unsigned index) const {
        return index < contours.size() ? &contours[index] : nullptr;
    }
};

inline double SliceContour::signedArea() const {
    const std::size_t n = points.size();
    if (n < 3)
        return 0.0;
    // Shoelace sum about the first point keeps the terms small for outlines far
    // from the origin.
    const double x0 = points[0].x;
    const double y0 = points[0].y;
    double twice = 0.0;
    for (std::size_t i = 1; i + 1 < n; ++i) {
        const double ax = points[i].x - x0, ay = points[i].y - y0;
        const double bx = points[i + 1].x - x0, by = points[i + 1].y - y0;
        twice += ax * by - ay * bx;
    }
    return 0.5 * twice;
}

} // namespace topolib
