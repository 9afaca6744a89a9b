#include "MeshFixtures.h"

#include "topolib/ImportSession.h"
#include "topolib/StlObject.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <utility>

namespace meshfixtures {

namespace {

constexpr double kPi = 3.14159265358979323846;

Point add(const Point& a, const Point& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }

// Quad a-b-c-d (counter-clockwise from outside) as two facets.
void pushQuad(TriangleSoup& s, const Point& a, const Point& b, const Point& c, const Point& d) {
    s.push_back({{a, b, c}});
    s.push_back({{a, c, d}});
}

Point normalised(const Point& p) {
    const double l = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    return {p[0] / l, p[1] / l, p[2] / l};
}

} // namespace

TriangleSoup box(const Point& size, const Point& o) {
    const double x0 = o[0], y0 = o[1], z0 = o[2];
    const double x1 = o[0] + size[0], y1 = o[1] + size[1], z1 = o[2] + size[2];
    TriangleSoup s;
    pushQuad(s, {x0, y0, z0}, {x0, y1, z0}, {x1, y1, z0}, {x1, y0, z0}); // bottom, -z
    pushQuad(s, {x0, y0, z0}, {x1, y0, z0}, {x1, y0, z1}, {x0, y0, z1}); // front, -y
    pushQuad(s, {x1, y0, z0}, {x1, y1, z0}, {x1, y1, z1}, {x1, y0, z1}); // right, +x
    pushQuad(s, {x1, y1, z0}, {x0, y1, z0}, {x0, y1, z1}, {x1, y1, z1}); // back, +y
    pushQuad(s, {x0, y1, z0}, {x0, y0, z0}, {x0, y0, z1}, {x0, y1, z1}); // left, -x
    pushQuad(s, {x0, y0, z1}, {x1, y0, z1}, {x1, y1, z1}, {x0, y1, z1}); // top, +z
    return s;
}

TriangleSoup cube(double size, const Point& origin) { return box({size, size, size}, origin); }

TriangleSoup openBox(double size, const Point& origin) {
    TriangleSoup s = cube(size, origin);
    s.resize(s.size() - 2); // the top face is the last quad
    return s;
}

TriangleSoup overlappingCubes(double size, const Point& origin) {
    const double h = size / 2.0;
    return concatenated(cube(size, origin), cube(size, add(origin, {h, h, h})));
}

TriangleSoup uvSphere(double radius, int slices, int stacks, const Point& c) {
    // Rows i = 0 .. stacks from the north pole; the poles are single points.
    auto at = [&](int i, int j) -> Point {
        if (i == 0)
            return {c[0], c[1], c[2] + radius};
        if (i == stacks)
            return {c[0], c[1], c[2] - radius};
        const double theta = kPi * i / stacks;
        const double phi = 2.0 * kPi * (j % slices) / slices;
        return {c[0] + radius * std::sin(theta) * std::cos(phi), c[1] + radius * std::sin(theta) * std::sin(phi),
                c[2] + radius * std::cos(theta)};
    };
    TriangleSoup s;
    for (int i = 0; i < stacks; ++i) {
        for (int j = 0; j < slices; ++j) {
            const Point a = at(i, j), b = at(i + 1, j), cc = at(i + 1, j + 1), d = at(i, j + 1);
            if (i != stacks - 1)
                s.push_back({{a, b, cc}});
            if (i != 0)
                s.push_back({{a, cc, d}});
        }
    }
    return s;
}

namespace {

// Subdivided icosahedron on the unit sphere: `split` places the new point of
// each edge (once per edge) from its two ends.
TriangleSoup subdividedIcosahedron(double radius, int level, const Point& centre,
                                   const std::function<Point(const Point&, const Point&)>& split) {
    const double t = (1.0 + std::sqrt(5.0)) / 2.0;
    std::vector<Point> v = {{-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0}, {0, -1, t}, {0, 1, t},
                            {0, -1, -t}, {0, 1, -t}, {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}};
    for (Point& p : v)
        p = normalised(p);
    std::vector<std::array<int, 3>> f = {{0, 11, 5}, {0, 5, 1},  {0, 1, 7},   {0, 7, 10}, {0, 10, 11},
                                         {1, 5, 9},  {5, 11, 4}, {11, 10, 2}, {10, 7, 6}, {7, 1, 8},
                                         {3, 9, 4},  {3, 4, 2},  {3, 2, 6},   {3, 6, 8},  {3, 8, 9},
                                         {4, 9, 5},  {2, 4, 11}, {6, 2, 10},  {8, 6, 7},  {9, 8, 1}};
    for (int l = 0; l < level; ++l) {
        std::map<std::pair<int, int>, int> mid;
        auto midpoint = [&](int a, int b) {
            const auto key = std::make_pair(std::min(a, b), std::max(a, b));
            const auto it = mid.find(key);
            if (it != mid.end())
                return it->second;
            v.push_back(split(v[a], v[b]));
            const int idx = static_cast<int>(v.size()) - 1;
            mid.emplace(key, idx);
            return idx;
        };
        std::vector<std::array<int, 3>> next;
        next.reserve(f.size() * 4);
        for (const auto& tri : f) {
            const int a = midpoint(tri[0], tri[1]), b = midpoint(tri[1], tri[2]), c = midpoint(tri[2], tri[0]);
            next.push_back({tri[0], a, c});
            next.push_back({tri[1], b, a});
            next.push_back({tri[2], c, b});
            next.push_back({a, b, c});
        }
        f.swap(next);
    }
    TriangleSoup s;
    s.reserve(f.size());
    for (const auto& tri : f) {
        Facet facet;
        for (int k = 0; k < 3; ++k) {
            const Point& p = v[static_cast<std::size_t>(tri[k])];
            facet.v[k] = {centre[0] + radius * p[0], centre[1] + radius * p[1], centre[2] + radius * p[2]};
        }
        s.push_back(facet);
    }
    return s;
}

} // namespace

TriangleSoup icosphere(double radius, int level, const Point& centre) {
    return subdividedIcosahedron(radius, level, centre, [](const Point& a, const Point& b) {
        return normalised({(a[0] + b[0]) / 2, (a[1] + b[1]) / 2, (a[2] + b[2]) / 2});
    });
}

TriangleSoup irregularIcosphere(double radius, int level, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> along(0.2, 0.8), jitter(0.98, 1.02);
    return subdividedIcosahedron(radius, level, {0.0, 0.0, 0.0}, [&](const Point& a, const Point& b) {
        const double f = along(random);
        const Point p = normalised({a[0] + f * (b[0] - a[0]), a[1] + f * (b[1] - a[1]), a[2] + f * (b[2] - a[2])});
        const double r = jitter(random);
        return Point{p[0] * r, p[1] * r, p[2] * r};
    });
}

TriangleSoup bumpyHead(double size, int level) {
    TriangleSoup soup = icosphere(1.0, level);
    const Point ears[2] = {normalised({0.35, 0.15, 1.0}), normalised({-0.35, 0.15, 1.0})};
    auto dot = [](const Point& a, const Point& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; };
    // A corner's place depends on its position only, so shared corners stay shared.
    auto place = [&](const Point& u) {
        double r = 1.0 + 0.06 * std::sin(5.0 * u[0] + 1.0) * std::sin(4.0 * u[1]) + 0.04 * std::cos(7.0 * u[2] + 2.0 * u[0]);
        for (const Point& e : ears) {
            // Flat top of angular radius 0.13, falling off over 0.05.
            const double a = std::acos(std::max(-1.0, std::min(1.0, dot(u, e))));
            const double fall = a < 0.13 ? 1.0 : a < 0.18 ? (0.18 - a) / 0.05 : 0.0;
            r += 0.9 * fall * fall;
        }
        Point q{u[0] * r, u[1] * r, u[2] * r};
        for (const Point& e : ears) {
            // Across the ear's axis, scaled by 1 - 0.75 g: one to one, since
            // |p| (1 - 0.75 g(|p|)) grows with |p| for a Gaussian g.
            const double z = dot(q, e);
            const Point p{q[0] - z * e[0], q[1] - z * e[1], q[2] - z * e[2]};
            const double s = 1.0 - 0.75 * std::exp(-std::pow((z - 1.12) / 0.08, 2.0) - dot(p, p) / 0.0625);
            q = {z * e[0] + s * p[0], z * e[1] + s * p[1], z * e[2] + s * p[2]};
        }
        return q;
    };
    for (Facet& f : soup)
        for (Point& p : f.v)
            p = place(p);
    return fitted(std::move(soup), size);
}

TriangleSoup torus(double R, double r, int major, int minor, const Point& c) {
    auto at = [&](int i, int j) -> Point {
        const double u = 2.0 * kPi * (i % major) / major;
        const double w = 2.0 * kPi * (j % minor) / minor;
        const double ring = R + r * std::cos(w);
        return {c[0] + ring * std::cos(u), c[1] + ring * std::sin(u), c[2] + r * std::sin(w)};
    };
    TriangleSoup s;
    s.reserve(2 * static_cast<std::size_t>(major) * static_cast<std::size_t>(minor));
    for (int i = 0; i < major; ++i)
        for (int j = 0; j < minor; ++j)
            pushQuad(s, at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1));
    return s;
}

TriangleSoup cylinder(double radius, const Point& p0, const Point& p1, int sides) {
    const double ax[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
    const double len = std::sqrt(ax[0] * ax[0] + ax[1] * ax[1] + ax[2] * ax[2]);
    const double w[3] = {ax[0] / len, ax[1] / len, ax[2] / len};
    // u: any unit vector across the axis; v = w × u completes a right-handed frame.
    double u[3] = {0.0, 0.0, 0.0};
    u[std::fabs(w[0]) < 0.9 ? 0 : 1] = 1.0;
    const double d = u[0] * w[0] + u[1] * w[1] + u[2] * w[2];
    for (int k = 0; k < 3; ++k)
        u[k] -= d * w[k];
    const double ul = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
    for (double& c : u)
        c /= ul;
    const double v[3] = {w[1] * u[2] - w[2] * u[1], w[2] * u[0] - w[0] * u[2], w[0] * u[1] - w[1] * u[0]};
    auto rim = [&](const Point& c, int i) -> Point {
        const double a = 2.0 * kPi * (i % sides) / sides;
        const double ca = radius * std::cos(a), sa = radius * std::sin(a);
        return {c[0] + ca * u[0] + sa * v[0], c[1] + ca * u[1] + sa * v[1], c[2] + ca * u[2] + sa * v[2]};
    };
    TriangleSoup s;
    for (int i = 0; i < sides; ++i) {
        const Point a0 = rim(p0, i), a1 = rim(p0, i + 1), b0 = rim(p1, i), b1 = rim(p1, i + 1);
        s.push_back({{a0, a1, b1}});
        s.push_back({{a0, b1, b0}});
        s.push_back({{p0, a1, a0}});
        s.push_back({{p1, b0, b1}});
    }
    return s;
}

TriangleSoup cone(int blades, double radius, double height, const Point& baseCentre) {
    const Point tip = {baseCentre[0], baseCentre[1], baseCentre[2] + height};
    auto rim = [&](int i) -> Point {
        const double a = 2.0 * kPi * (i % blades) / blades;
        return {baseCentre[0] + radius * std::cos(a), baseCentre[1] + radius * std::sin(a), baseCentre[2]};
    };
    TriangleSoup s;
    for (int i = 0; i < blades; ++i) {
        s.push_back({{tip, rim(i), rim(i + 1)}});
        s.push_back({{baseCentre, rim(i + 1), rim(i)}});
    }
    return s;
}

TriangleSoup screw(int sides, int rowsPerPitch) {
    const double core = 3.0, depth = 3.0, pitch = 2.5, shank = 42.5, head = 10.0, top = 50.0;
    // The thread's radius at angle a and height z: a trapezoid over one turn.
    auto threadRadius = [&](double a, double z) {
        double u = z / pitch - a / (2.0 * kPi);
        u -= std::floor(u);
        const double rise = std::clamp((std::min(u, 1.0 - u) - 0.1) / 0.3, 0.0, 1.0);
        return core + depth * rise;
    };
    // Rows of the surface from the bottom pole over the shank, the ledge and the
    // head's side to the top pole; each gives radius and height by angle.
    struct Row {
        double z;
        int kind; // 0 pole, 1 thread, 2 head rim
    };
    std::vector<Row> rows{{0.0, 0}};
    const int shankRows = static_cast<int>(std::lround(shank / pitch)) * rowsPerPitch;
    for (int j = 0; j <= shankRows; ++j)
        rows.push_back({shank * j / shankRows, 1});
    rows.push_back({shank, 2});
    rows.push_back({top, 2});
    rows.push_back({top, 0});
    auto at = [&](const Row& row, int i) -> Point {
        const double a = 2.0 * kPi * (i % sides) / sides;
        const double r = row.kind == 0 ? 0.0 : (row.kind == 1 ? threadRadius(a, row.z) : head);
        return {r * std::cos(a), r * std::sin(a), row.z};
    };
    TriangleSoup s;
    for (std::size_t j = 0; j + 1 < rows.size(); ++j) {
        for (int i = 0; i < sides; ++i) {
            const Point a = at(rows[j], i), b = at(rows[j], i + 1);
            const Point c = at(rows[j + 1], i + 1), d = at(rows[j + 1], i);
            if (rows[j].kind != 0)
                s.push_back({{a, b, c}});
            if (rows[j + 1].kind != 0)
                s.push_back({{a, c, d}});
        }
    }
    return s;
}

TriangleSoup singleFacet(double size) { return {{{{0, 0, 0}, {size, 0, 0}, {0, size, 0}}}}; }

TriangleSoup fan(int blades, double radius, double spanDegrees) {
    const bool closed = spanDegrees >= 360.0;
    auto rim = [&](int i) -> Point {
        if (closed)
            i %= blades;
        const double a = spanDegrees * kPi / 180.0 * i / blades;
        return {radius * std::cos(a), radius * std::sin(a), 0.0};
    };
    TriangleSoup s;
    for (int i = 0; i < blades; ++i)
        s.push_back({{{0.0, 0.0, 0.0}, rim(i), rim(i + 1)}});
    return s;
}

TriangleSoup translated(TriangleSoup soup, const Point& d) {
    for (Facet& f : soup)
        for (Point& p : f.v)
            p = add(p, d);
    return soup;
}

TriangleSoup machinedHousing() {
    TriangleSoup s;
    auto add = [&s](const TriangleSoup& part) { s = concatenated(s, part); };
    add(cylinder(60, {0, 0, 0}, {0, 0, 6}, 48));
    add(cylinder(60, {0, 0, 14}, {0, 0, 20}, 48));
    add(box({20, 120, 8}, {-70, -60, 6}));
    add(cylinder(45, {0, 0, 20}, {0, 0, 80}, 48));
    add(cylinder(70, {0, 0, 78}, {0, 0, 82}, 64));
    add(cylinder(55, {0, 0, 120}, {0, 0, 123}, 48));
    add(cylinder(30, {0, 0, 80}, {0, 0, 180}, 32));
    add(box({200, 30, 10}, {-100, -15, 150}));
    add(box({10, 30, 50}, {-100, -15, 100}));
    add(box({10, 30, 50}, {90, -15, 100}));
    return s;
}

TriangleSoup machinedBracket() {
    TriangleSoup s;
    auto add = [&s](const TriangleSoup& part) { s = concatenated(s, part); };
    add(box({180, 120, 8}));
    add(box({8, 120, 140}));
    add(box({60, 120, 8}, {0, 0, 132}));
    add(box({2, 120, 12}, {58, 0, 120}));
    for (double y : {10.0, 55.0, 100.0})
        add(box({60, 6, 6}, {8, y, 8}));
    add(cylinder(30, {120, 60, 8}, {120, 60, 48}, 40));
    add(cylinder(38, {120, 60, 48}, {120, 60, 51}, 40));
    return s;
}

TriangleSoup fitted(TriangleSoup soup, double size) {
    Point lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
    for (const Facet& f : soup)
        for (const Point& p : f.v)
            for (int k = 0; k < 3; ++k) {
                lo[k] = std::min(lo[k], p[k]);
                hi[k] = std::max(hi[k], p[k]);
            }
    const double scale = size / std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
    for (Facet& f : soup)
        for (Point& p : f.v)
            for (int k = 0; k < 3; ++k)
                p[k] = (p[k] - lo[k]) * scale;
    return soup;
}

TriangleSoup flipped(TriangleSoup soup, long i) {
    for (std::size_t k = 0; k < soup.size(); ++k)
        if (i < 0 || static_cast<std::size_t>(i) == k)
            std::swap(soup[k].v[1], soup[k].v[2]);
    return soup;
}

TriangleSoup concatenated(TriangleSoup a, const TriangleSoup& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Point facetCross(const Facet& f) {
    const Point& a = f.v[0];
    const Point& b = f.v[1];
    const Point& c = f.v[2];
    const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const double w[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    return {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
}

std::vector<std::array<float, 12>> toStlFacets(const TriangleSoup& soup) {
    std::vector<std::array<float, 12>> out;
    out.reserve(soup.size());
    for (const Facet& f : soup) {
        Point n = facetCross(f);
        const double l = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        if (l > 0)
            for (double& x : n)
                x /= l;
        std::array<float, 12> facet;
        for (int k = 0; k < 3; ++k) {
            facet[static_cast<std::size_t>(k)] = static_cast<float>(n[k]);
            for (int v = 0; v < 3; ++v)
                facet[static_cast<std::size_t>(3 + 3 * v + k)] = static_cast<float>(f.v[v][static_cast<std::size_t>(k)]);
        }
        out.push_back(facet);
    }
    return out;
}

void fillMesh(topolib::StlObject& mesh, const TriangleSoup& soup, BuildSteps steps,
              topolib::ImportSession* scratch) {
    topolib::ImportSession own;
    topolib::ImportSession* const session = scratch ? scratch : &own;
    const auto facets = toStlFacets(soup);
    std::vector<topolib::FacetCorner> corners;
    corners.reserve(3 * facets.size());
    mesh.reserveTriangles(static_cast<uint32_t>(facets.size()));
    double reference[3] = {0.0, 0.0, 0.0};
    if (!facets.empty())
        for (int k = 0; k < 3; ++k)
            reference[k] = facets.front()[static_cast<std::size_t>(3 + k)];
    double lo[3], hi[3];
    for (int k = 0; k < 3; ++k) {
        lo[k] = std::numeric_limits<double>::max();
        hi[k] = -std::numeric_limits<double>::max();
    }
    uint32_t counter = 0;
    for (const auto& f : facets) {
        mesh.addFacet(&counter, reference, f.data(), corners, true);
        for (int v = 0; v < 3; ++v)
            for (int k = 0; k < 3; ++k) {
                const double c = f[static_cast<std::size_t>(3 + 3 * v + k)];
                lo[k] = std::min(lo[k], c);
                hi[k] = std::max(hi[k], c);
            }
    }
    mesh.weldFacetCorners(corners, nullptr, session);
    mesh.setArea(mesh.area() / 2.0);
    mesh.setVolume(mesh.volume() / 6.0);
    mesh.setVolumeReference(reference);
    if (!facets.empty()) {
        mesh.setBoundingBox(lo, hi);
        mesh.setLoadedBox(lo, hi);
    }
    // As an import: the shell search right after the edges takes the table
    // the edge build leaves for it.
    if (steps.edges)
        mesh.buildEdges(false, 60, 25, nullptr,
                        steps.shells ? topolib::StlObject::AfterEdges::FindShells
                                     : topolib::StlObject::AfterEdges::Nothing,
                        session);
    if (steps.edges && steps.shells)
        mesh.findShells(false, 85, nullptr, session);
}

std::unique_ptr<topolib::StlObject> buildMesh(const TriangleSoup& soup, BuildSteps steps) {
    auto mesh = std::make_unique<topolib::StlObject>();
    fillMesh(*mesh, soup, steps);
    return mesh;
}

std::unique_ptr<topolib::StlObject> buildMeshWithOctree(const TriangleSoup& soup) {
    auto mesh = buildMesh(soup);
    mesh->rebuildOctree();
    return mesh;
}

} // namespace meshfixtures
