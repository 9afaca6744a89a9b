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

TriangleSoup lathe(const std::vector<std::array<double, 2>>& profile, int sides) {
    auto at = [&](std::size_t i, int k) {
        const double a = 2.0 * kPi * (k % sides) / sides, r = profile[i][0];
        return Point{r * std::cos(a), r * std::sin(a), profile[i][1]};
    };
    TriangleSoup s;
    const std::size_t n = profile.size();
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t j = (i + 1) % n;
        for (int k = 0; k < sides; ++k) {
            // A point on the axis is one corner, not two.
            if (profile[i][0] > 0.0)
                s.push_back({{at(i, k), at(i, k + 1), at(j, k + 1)}});
            if (profile[j][0] > 0.0)
                s.push_back({{at(i, k), at(j, k + 1), at(j, k)}});
        }
    }
    return outward(std::move(s));
}

TriangleSoup blocks(const std::vector<Block>& boxes) {
    std::array<std::vector<double>, 3> lines;
    for (const Block& b : boxes)
        for (int k = 0; k < 3; ++k) {
            lines[k].push_back(b[0][k]);
            lines[k].push_back(b[1][k]);
        }
    for (auto& l : lines) {
        std::sort(l.begin(), l.end());
        l.erase(std::unique(l.begin(), l.end()), l.end());
    }
    const int n[3] = {int(lines[0].size()) - 1, int(lines[1].size()) - 1, int(lines[2].size()) - 1};
    auto filled = [&](int i, int j, int k) {
        if (i < 0 || j < 0 || k < 0 || i >= n[0] || j >= n[1] || k >= n[2])
            return false;
        const Point c{(lines[0][i] + lines[0][i + 1]) / 2, (lines[1][j] + lines[1][j + 1]) / 2,
                      (lines[2][k] + lines[2][k + 1]) / 2};
        for (const Block& b : boxes)
            if (c[0] > b[0][0] && c[0] < b[1][0] && c[1] > b[0][1] && c[1] < b[1][1] && c[2] > b[0][2] &&
                c[2] < b[1][2])
                return true;
        return false;
    };
    TriangleSoup s;
    for (int i = 0; i < n[0]; ++i)
        for (int j = 0; j < n[1]; ++j)
            for (int k = 0; k < n[2]; ++k) {
                if (!filled(i, j, k))
                    continue;
                const int cell[3] = {i, j, k};
                for (int axis = 0; axis < 3; ++axis)
                    for (int side = 0; side < 2; ++side) {
                        int next[3] = {i, j, k};
                        next[axis] += side == 0 ? -1 : 1;
                        if (filled(next[0], next[1], next[2]))
                            continue;
                        // The face's corners counter-clockwise seen from outside.
                        const int u = (axis + 1) % 3, v = (axis + 2) % 3;
                        auto corner = [&](int du, int dv) {
                            Point p;
                            p[axis] = lines[axis][cell[axis] + side];
                            p[u] = lines[u][cell[u] + du];
                            p[v] = lines[v][cell[v] + dv];
                            return p;
                        };
                        Point q[4] = {corner(0, 0), corner(1, 0), corner(1, 1), corner(0, 1)};
                        if (side == 0)
                            std::swap(q[1], q[3]);
                        s.push_back({{q[0], q[1], q[2]}});
                        s.push_back({{q[0], q[2], q[3]}});
                    }
            }
    return s;
}

TriangleSoup metricScrew() {
    const double pitch = 1.5, major = 5.0, minor = major - 0.625 * 0.866025 * pitch, shank = 30.0;
    const double head = 6.4, flats = 8.0;
    const int sides = 96, rowsPerPitch = 12;
    // The thread's radius at angle a and height z over one turn of the profile.
    auto thread = [&](double a, double z) {
        double u = z / pitch - a / (2.0 * kPi);
        u -= std::floor(u);
        double r = minor;
        if (u < 0.125)
            r = major;
        else if (u < 0.4375)
            r = major - (major - minor) * (u - 0.125) / 0.3125;
        else if (u >= 0.6875)
            r = minor + (major - minor) * (u - 0.6875) / 0.3125;
        return z < 1.0 ? std::min(r, minor + (major - minor) * z) : r;
    };
    struct Row {
        double z;
        int kind; // 0 pole, 1 thread, 2 head
    };
    std::vector<Row> rows{{0.0, 0}};
    const int threadRows = static_cast<int>(std::lround(shank / pitch)) * rowsPerPitch;
    for (int j = 0; j <= threadRows; ++j)
        rows.push_back({shank * j / threadRows, 1});
    rows.push_back({shank, 2});
    rows.push_back({shank + head, 2});
    rows.push_back({shank + head, 0});
    auto at = [&](const Row& row, int i) -> Point {
        const double a = 2.0 * kPi * (i % sides) / sides;
        double r = 0.0;
        if (row.kind == 1)
            r = thread(a, row.z);
        else if (row.kind == 2)
            r = flats / std::cos(std::fmod(a, kPi / 3.0) - kPi / 6.0);
        return {r * std::cos(a), r * std::sin(a), row.z};
    };
    TriangleSoup s;
    for (std::size_t j = 0; j + 1 < rows.size(); ++j)
        for (int i = 0; i < sides; ++i) {
            const Point a = at(rows[j], i), b = at(rows[j], i + 1);
            const Point c = at(rows[j + 1], i + 1), d = at(rows[j + 1], i);
            if (rows[j].kind != 0)
                s.push_back({{a, b, c}});
            if (rows[j + 1].kind != 0)
                s.push_back({{a, c, d}});
        }
    return outward(std::move(s));
}

std::vector<Block> bracketBlocks() {
    return {
        // Walls under a top plate, and the plate.
        {{{2, 2, 0}, {5, 38, 16}}},
        {{{55, 2, 0}, {58, 38, 16}}},
        {{{5, 2, 0}, {55, 5, 16}}},
        {{{5, 35, 0}, {55, 38, 16}}},
        {{{2, 2, 16}, {58, 38, 20}}},
        // A flange round the walls.
        {{{0, 0, 6}, {2, 40, 8}}},
        {{{58, 0, 6}, {60, 40, 8}}},
        {{{2, 0, 6}, {58, 2, 8}}},
        {{{2, 38, 6}, {58, 40, 8}}},
        // Bosses hanging from the ceiling, a rail along one inner wall.
        {{{12, 14, 9}, {18, 20, 16}}},
        {{{42, 20, 9}, {48, 26, 16}}},
        {{{5, 5, 11}, {55, 7, 13}}},
        // A square collar on top with a lip round its top.
        {{{22, 12, 20}, {38, 16, 24}}},
        {{{22, 24, 20}, {38, 28, 24}}},
        {{{22, 16, 20}, {26, 24, 24}}},
        {{{34, 16, 20}, {38, 24, 24}}},
        {{{20, 10, 22}, {22, 30, 24}}},
        {{{38, 10, 22}, {40, 30, 24}}},
        {{{22, 10, 22}, {38, 12, 24}}},
        {{{22, 28, 22}, {38, 30, 24}}},
    };
}

std::vector<Shape> machinedParts() {
    // The housing's half section: counterbore from below, bore with a ring,
    // body with a flange and a rim at the top.
    const std::vector<std::array<double, 2>> housing{
        {22, 0},  {27, 0},  {27, 12}, {30, 12}, {30, 16}, {27, 16}, {27, 26}, {29, 26},
        {29, 30}, {10, 30}, {10, 22}, {8, 22},  {8, 18},  {10, 18}, {10, 10}, {22, 10}};
    return {{"housing", lathe(housing, 96)}, {"bracket", blocks(bracketBlocks())}};
}

std::vector<Pose> machinedPoses() {
    return {{"up", {}},
            {"down", {{{1, 0, 0}, 180.0}}},
            {"x90", {{{1, 0, 0}, 90.0}}},
            {"y90", {{{0, 1, 0}, 90.0}}},
            {"tilt", {{{1, 0, 0}, 30.0}, {{0, 1, 0}, 20.0}}}};
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
