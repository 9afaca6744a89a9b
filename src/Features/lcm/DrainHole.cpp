#include "src/Features/lcm/DrainHole.h"

#include <cmath>

namespace lcm {

namespace {

void cross(const double a[3], const double b[3], double out[3]) {
    const double x = a[1] * b[2] - a[2] * b[1], y = a[2] * b[0] - a[0] * b[2], z = a[0] * b[1] - a[1] * b[0];
    out[0] = x;
    out[1] = y;
    out[2] = z;
}

void normalise(double v[3]) {
    const double l = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (l > 0.0)
        for (int k = 0; k < 3; ++k)
            v[k] /= l;
}

} // namespace

DrainHole::DrainHole() = default;

void DrainHole::computeFrame() {
    double d[3] = {direction[0], direction[1], direction[2]};
    normalise(d);
    if (d[0] == 0.0 && d[1] == 0.0 && d[2] == 0.0)
        d[2] = 1.0;
    // Auxiliary axis: the coordinate axis along which d is smallest.
    double aux[3] = {0, 0, 0};
    const double ax = std::fabs(d[0]), ay = std::fabs(d[1]), az = std::fabs(d[2]);
    if (ax <= ay && ax <= az)
        aux[0] = 1.0;
    else if (ay < ax && ay <= az)
        aux[1] = 1.0;
    else
        aux[2] = 1.0;
    double t[3];
    cross(d, aux, t);
    cross(t, d, axisU);
    cross(d, axisU, axisV);
    normalise(axisU);
    normalise(axisV);
    const double e = 0.8 * length;
    for (int k = 0; k < 3; ++k)
        start[k] = position[k] - e * d[k];
    const double len = length > 0.0 ? length : 1.0;
    startRadius = std::max(0.001, radius - taper * e / len);
    endRadius = std::max(0.001, radius + taper * (length + e) / len);
    for (int k = 0; k < 3; ++k)
        direction[k] = d[k] * (length + 2.0 * e);
}

void DrainHole::buildMesh() {
    constexpr int N = kSides;
    m_vertices.assign(2 * N * 3, 0.0);
    m_normals.assign(2 * N * 3, 0.0);
    m_indices.clear();
    m_indices.reserve((4 * N - 4) * 3);
    const double step = 6.283185306 / N;
    double angle = 0.0;
    for (int i = 0; i < N; ++i, angle += step) {
        double r[3];
        for (int k = 0; k < 3; ++k)
            r[k] = std::cos(angle) * axisU[k] + std::sin(angle) * axisV[k];
        const double l2 = r[0] * r[0] + r[1] * r[1] + r[2] * r[2];
        if (l2 < 1e-15)
            r[0] = r[1] = r[2] = 0.0;
        else if (std::fabs(l2 - 1.0) > 1e-12)
            normalise(r);
        for (int k = 0; k < 3; ++k) {
            m_vertices[3 * i + k] = start[k] + startRadius * r[k];
            m_vertices[3 * (N + i) + k] = start[k] + direction[k] + endRadius * r[k];
            m_normals[3 * i + k] = r[k];
            m_normals[3 * (N + i) + k] = r[k];
        }
    }
    auto tri = [this](int a, int b, int c) {
        m_indices.push_back(static_cast<uint32_t>(a));
        m_indices.push_back(static_cast<uint32_t>(b));
        m_indices.push_back(static_cast<uint32_t>(c));
    };
    for (int i = 0; i < N; ++i) {
        const int j = (i + 1) % N;
        tri(i, j, N + j);
        tri(i, N + j, N + i);
    }
    int k = 1, a = N - 1, b = N - 2;
    while (b > k) {
        tri(k - 1, a, k);
        tri(k, a, b);
        ++k;
        --a;
        --b;
    }
    if (k == b)
        tri(k - 1, k + 1, k);
    int p = N + 1, q = 2 * N - 2, s = 2 * N - 1;
    while (q > p) {
        tri(p - 1, p, s);
        tri(p, q, s);
        ++p;
        --q;
        --s;
    }
    if (p == q)
        tri(p - 1, p, p + 1);
    buffersDirty = 1;
}

void DrainHole::releaseMesh() {
    std::vector<double>().swap(m_vertices);
    std::vector<double>().swap(m_normals);
    std::vector<uint32_t>().swap(m_indices);
    buffersDirty = 1;
}

void DrainHole::rebuild() {
    releaseMesh();
    computeFrame();
    buildMesh();
}

void DrainHole::meshArrays(uint32_t* count, uint32_t* sideCount, const double** vertices, const double** normals,
                           const uint32_t** indices) const {
    *count = vertexCount();
    *sideCount = 2 * kSides;
    *vertices = m_vertices.data();
    *normals = m_normals.data();
    *indices = m_indices.data();
}

void DrainHole::endCentre(double out[3]) const {
    for (int k = 0; k < 3; ++k)
        out[k] = start[k] + direction[k];
}

} // namespace lcm
