// XY calibration of a mesh: before an export every vertex is shifted in x and y by
// the printer's measured distortion at its position, and shifted back right after.

#include "topolib/StlObject.h"

#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <vector>

namespace topolib {

namespace {

using CalibrationTable = std::vector<std::pair<double, double>>;

// The correction at position u along one axis: a table pair (a, b) says that a was
// printed at b, so the correction there is a - b. Between two pairs the correction
// is interpolated linearly; outside the table the end pair's correction holds. The
// table must not be empty and its positions must ascend.
double correctionAt(const CalibrationTable& table, double u) {
    const auto correction = [&table](size_t i) { return table[i].first - table[i].second; };
    const size_t last = table.size() - 1;
    if (u <= table[0].first)
        return correction(0);
    if (u >= table[last].first)
        return correction(last);
    size_t k = 1;
    while (table[k].first <= u)
        ++k;
    // table[k - 1].first <= u < table[k].first, so the span is never empty.
    const double t = (u - table[k - 1].first) / (table[k].first - table[k - 1].first);
    return (1.0 - t) * correction(k - 1) + t * correction(k);
}

void recomputeNormals(RefArray<StlTriangle>& triangles) {
    for (StlTriangle* t : triangles)
        t->computeNormal();
}

} // namespace

bool StlObject::applyXyCalibration(const CalibrationTable& xTable, const CalibrationTable& yTable,
                                   const double origin[2]) {
    if (xTable.empty() || yTable.empty())
        return false;
    // A second apply replaces the first instead of stacking on it; otherwise one
    // revert would leave the first shift in the mesh for good.
    revertXyCalibration();

    m_calibrationOffsets.assign(m_records.vertices.size(), {0.0, 0.0});
    for (size_t i = 0; i < m_records.vertices.size(); ++i) {
        Vector3D& p = m_records.vertices[i]->pos;
        // Both corrections are taken at the vertex's position before any shift.
        const double dx = correctionAt(xTable, p.x - origin[0]);
        const double dy = correctionAt(yTable, p.y - origin[1]);
        m_calibrationOffsets[i] = {dx, dy};
        p.x += dx;
        p.y += dy;
    }
    // Deleted triangles too: a revert restores all of them alike.
    recomputeNormals(m_records.triangles);
    return true;
}

bool StlObject::revertXyCalibration() {
    if (m_calibrationOffsets.empty())
        return false;
    // Vertices must not be added or removed between apply and revert; should it
    // happen anyway, only the vertices that were shifted are shifted back.
    const size_t n = std::min(m_calibrationOffsets.size(), m_records.vertices.size());
    for (size_t i = 0; i < n; ++i) {
        Vector3D& p = m_records.vertices[i]->pos;
        p.x -= m_calibrationOffsets[i].first;
        p.y -= m_calibrationOffsets[i].second;
    }
    recomputeNormals(m_records.triangles);
    m_calibrationOffsets.clear();
    return true;
}

} // namespace topolib
