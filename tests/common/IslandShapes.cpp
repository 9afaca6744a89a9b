#include "IslandShapes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <utility>

namespace islandshapes {

namespace mf = meshfixtures;
using mf::Point;
using mf::TriangleSoup;

namespace {

constexpr double kPi = 3.14159265358979323846;

using Profile = std::vector<std::array<double, 2>>; // (x, z)

double twiceArea(const Profile& p) {
    double a = 0.0;
    for (std::size_t i = 0, j = p.size() - 1; i < p.size(); j = i++)
        a += p[j][0] * p[i][1] - p[i][0] * p[j][1];
    return a;
}

double turn(const std::array<double, 2>& a, const std::array<double, 2>& b, const std::array<double, 2>& c) {
    return (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
}

// Ear clipping of a simple polygon; triangles keep the polygon's turning.
std::vector<std::array<int, 3>> earClip(const Profile& p) {
    const double sense = twiceArea(p) > 0.0 ? 1.0 : -1.0;
    std::vector<int> left(p.size());
    for (std::size_t i = 0; i < p.size(); ++i)
        left[i] = static_cast<int>(i);
    std::vector<std::array<int, 3>> out;
    while (left.size() > 3) {
        bool clipped = false;
        for (std::size_t k = 0; k < left.size() && !clipped; ++k) {
            const int a = left[(k + left.size() - 1) % left.size()], b = left[k],
                      c = left[(k + 1) % left.size()];
            if (sense * turn(p[a], p[b], p[c]) <= 1e-12)
                continue;
            bool empty = true;
            for (int v : left) {
                if (v == a || v == b || v == c)
                    continue;
                if (sense * turn(p[a], p[b], p[v]) >= 0.0 && sense * turn(p[b], p[c], p[v]) >= 0.0 &&
                    sense * turn(p[c], p[a], p[v]) >= 0.0)
                    empty = false;
            }
            if (!empty)
                continue;
            out.push_back({a, b, c});
            left.erase(left.begin() + static_cast<std::ptrdiff_t>(k));
            clipped = true;
        }
        if (!clipped)
            break; // not simple: leave the rest open (never for the profiles below)
    }
    if (left.size() == 3)
        out.push_back({left[0], left[1], left[2]});
    return out;
}

double signedVolume(const TriangleSoup& s) {
    double v = 0.0;
    for (const mf::Facet& f : s) {
        const Point& a = f.v[0];
        const Point& b = f.v[1];
        const Point& c = f.v[2];
        v += a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
             a[2] * (b[0] * c[1] - b[1] * c[0]);
    }
    return v / 6.0;
}

TriangleSoup outward(TriangleSoup s) {
    return signedVolume(s) < 0.0 ? mf::flipped(std::move(s)) : s;
}

// The profile in the x-z plane swept from y = 0 to y = depth.
TriangleSoup extruded(const Profile& p, double depth) {
    auto at = [&](int i, double y) { return Point{p[i][0], y, p[i][1]}; };
    TriangleSoup s;
    for (const auto& t : earClip(p)) {
        s.push_back({{at(t[0], 0.0), at(t[1], 0.0), at(t[2], 0.0)}});
        s.push_back({{at(t[0], depth), at(t[2], depth), at(t[1], depth)}});
    }
    const int n = static_cast<int>(p.size());
    for (int i = 0; i < n; ++i) {
        const int j = (i + 1) % n;
        s.push_back({{at(j, 0.0), at(i, 0.0), at(i, depth)}});
        s.push_back({{at(j, 0.0), at(i, depth), at(j, depth)}});
    }
    return outward(std::move(s));
}

TriangleSoup arch() {
    Profile p;
    const int n = 24;
    for (int k = 0; k <= n; ++k)
        p.push_back({15.0 * std::cos(kPi * k / n), 15.0 * std::sin(kPi * k / n)});
    for (int k = n; k >= 0; --k)
        p.push_back({10.0 * std::cos(kPi * k / n), 10.0 * std::sin(kPi * k / n)});
    return extruded(p, 8.0);
}

TriangleSoup downwardCone() {
    TriangleSoup s;
    const int n = 32;
    const Point apex{0.0, 0.0, 0.0}, centre{0.0, 0.0, 12.0};
    auto rim = [&](int i) {
        const double a = 2.0 * kPi * (i % n) / n;
        return Point{8.0 * std::cos(a), 8.0 * std::sin(a), 12.0};
    };
    for (int i = 0; i < n; ++i) {
        s.push_back({{apex, rim(i + 1), rim(i)}});
        s.push_back({{centre, rim(i), rim(i + 1)}});
    }
    return outward(std::move(s));
}

// A plate 24 x 24 x 3 whose underside, a grid of 2 mm cells, carries
// pyramids pointing down (1.5 to 5 mm long) in a scattered set of cells.
TriangleSoup stalactites() {
    const int n = 12;
    const double c = 2.0, thick = 3.0, bottom = 5.0;
    std::mt19937 random(11);
    std::vector<double> pendant(n * n, 0.0);
    for (int i = 0; i < n * n; ++i)
        if (random() % 5 == 0)
            pendant[static_cast<std::size_t>(i)] = 1.5 + 3.5 * (random() % 1000) / 1000.0;
    auto at = [&](int i, int j, double z) { return Point{c * i, c * j, z}; };
    TriangleSoup s;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const Point a = at(i, j, bottom + thick), b = at(i + 1, j, bottom + thick),
                        cc = at(i + 1, j + 1, bottom + thick), d = at(i, j + 1, bottom + thick);
            s.push_back({{a, b, cc}});
            s.push_back({{a, cc, d}});
            const Point e = at(i, j, bottom), f = at(i + 1, j, bottom), g = at(i + 1, j + 1, bottom),
                        h = at(i, j + 1, bottom);
            const double len = pendant[static_cast<std::size_t>(i * n + j)];
            if (len == 0.0) {
                s.push_back({{e, h, g}});
                s.push_back({{e, g, f}});
            } else {
                const Point tip{c * (i + 0.5), c * (j + 0.5), bottom - len};
                s.push_back({{e, h, tip}});
                s.push_back({{h, g, tip}});
                s.push_back({{g, f, tip}});
                s.push_back({{f, e, tip}});
            }
        }
    // Side walls along the border, counter-clockwise seen from above.
    std::vector<std::pair<int, int>> border;
    for (int i = 0; i < n; ++i)
        border.push_back({i, 0});
    for (int j = 0; j < n; ++j)
        border.push_back({n, j});
    for (int i = n; i > 0; --i)
        border.push_back({i, n});
    for (int j = n; j > 0; --j)
        border.push_back({0, j});
    for (std::size_t k = 0; k < border.size(); ++k) {
        const auto p = border[k], q = border[(k + 1) % border.size()];
        const Point p0 = at(p.first, p.second, bottom), q0 = at(q.first, q.second, bottom);
        const Point p1 = at(p.first, p.second, bottom + thick), q1 = at(q.first, q.second, bottom + thick);
        s.push_back({{p0, q0, q1}});
        s.push_back({{p0, q1, p1}});
    }
    return outward(std::move(s));
}

} // namespace

TriangleSoup slab(int n, const std::function<double(int, int)>& bottom, double top) {
    auto low = [&](int i, int j) { return Point{double(i), double(j), bottom(i, j)}; };
    auto high = [&](int i, int j) { return Point{double(i), double(j), top}; };
    TriangleSoup s;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            s.push_back({{high(i, j), high(i + 1, j), high(i + 1, j + 1)}});
            s.push_back({{high(i, j), high(i + 1, j + 1), high(i, j + 1)}});
            s.push_back({{low(i, j), low(i + 1, j + 1), low(i + 1, j)}});
            s.push_back({{low(i, j), low(i, j + 1), low(i + 1, j + 1)}});
        }
    for (int k = 0; k < n; ++k) {
        // Each wall cell counter-clockwise seen from outside.
        const std::pair<int, int> walls[4][2] = {
            {{k, 0}, {k + 1, 0}}, {{n, k}, {n, k + 1}}, {{k + 1, n}, {k, n}}, {{0, k + 1}, {0, k}}};
        for (const auto& w : walls) {
            const Point a = low(w[0].first, w[0].second), b = low(w[1].first, w[1].second);
            const Point c = high(w[1].first, w[1].second), d = high(w[0].first, w[0].second);
            s.push_back({{a, b, c}});
            s.push_back({{a, c, d}});
        }
    }
    return outward(std::move(s));
}

namespace {

Point rotate(const Point& p, const Point& k, double radians) {
    const double c = std::cos(radians), s = std::sin(radians);
    const double d = k[0] * p[0] + k[1] * p[1] + k[2] * p[2];
    const Point x{k[1] * p[2] - k[2] * p[1], k[2] * p[0] - k[0] * p[2], k[0] * p[1] - k[1] * p[0]};
    Point r;
    for (int i = 0; i < 3; ++i)
        r[i] = p[i] * c + x[i] * s + k[i] * d * (1.0 - c);
    return r;
}

} // namespace

TriangleSoup turned(const TriangleSoup& soup, const Point& axis, double degrees) {
    TriangleSoup out = soup;
    double low = std::numeric_limits<double>::max();
    for (mf::Facet& f : out)
        for (Point& p : f.v) {
            p = rotate(p, axis, degrees * kPi / 180.0);
            low = std::min(low, p[2]);
        }
    return mf::translated(std::move(out), {0.0, 0.0, -low});
}

std::vector<Shape> all() {
    return {
        {"sphere", turned(mf::uvSphere(10.0, 32, 16), {1, 0, 0}, 0.0)},
        {"torus", turned(mf::torus(12.0, 4.0, 36, 16), {1, 0, 0}, 90.0)},
        {"arch", arch()},
        {"bridge", extruded({{0, 0}, {5, 0}, {5, 12}, {25, 12}, {25, 0}, {30, 0}, {30, 16}, {0, 16}}, 8.0)},
        {"cone", downwardCone()},
        {"keel", extruded({{-8, 10}, {0, 0}, {8, 10}}, 20.0)},
        {"ledge", extruded({{0, 0}, {6, 0}, {6, 10}, {16, 10}, {16, 13}, {6, 13}, {6, 20}, {0, 20}}, 8.0)},
        {"stalactites", turned(stalactites(), {1, 0, 0}, 0.0)},
    };
}

std::vector<Rotation> randomRotations(int count, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> angle(0.0, 360.0);
    std::vector<Rotation> out;
    for (int i = 0; i < count; ++i) {
        Point k{normal(random), normal(random), normal(random)};
        const double l = std::sqrt(k[0] * k[0] + k[1] * k[1] + k[2] * k[2]);
        for (double& c : k)
            c /= l;
        out.push_back({k, angle(random)});
    }
    return out;
}

} // namespace islandshapes
