// The closed meshes of the cones: circular columns of ten sides (cylinder
// supports) and two crossed plates (cross supports), each on the platform or on
// the model. Vertex and triangle orders are fixed: projects and tests rely on the
// counts and the drawing on the winding (counter-clockwise seen from outside).
#include "support/ConeShape.h"
#include "support/ShapeMesh.h"
#include "topolib/GeometricPredicates.h"
#include "topolib/StlVertex.h"

#include <cmath>
#include <initializer_list>

namespace support {

using topolib::StlVertex;
using topolib::Vector3D;

namespace {

constexpr int kSides = 10;
constexpr double kStep = 0.6283185306; // 36 degrees

using Ring = StlVertex* [kSides];

bool tilted(const Vector3D& d) { return std::fabs(d.x) >= 1e-6 || std::fabs(d.y) >= 1e-6; }

Vector3D unit(Vector3D v) {
    v.unitize();
    return v;
}

Vector3D ringPoint(const Vector3D& o, double r, const Vector3D& e1, const Vector3D& e2, int k) {
    const double th = k * kStep;
    return o + (e1 * std::cos(th) + e2 * std::sin(th)) * r;
}

void makeRing(std::vector<StlVertex*>& vs, Ring ring, const Vector3D& o, double r, const Vector3D& e1,
              const Vector3D& e2, ShapeMemoryCheck* check) {
    for (int k = 0; k < kSides; ++k)
        ring[k] = addShapeVertex(vs, ringPoint(o, r, e1, e2, k), check);
}

// Moves x along the line from its partner y through x onto the plane (point p,
// normal nu). A line (almost) parallel to the plane is left as it is.
void mitre(StlVertex* x, const StlVertex* y, const Vector3D& p, const Vector3D& nu) {
    const Vector3D dir = x->pos - y->pos;
    const double den = dir.dot(nu);
    if (std::fabs(den) < 1e-12)
        return;
    x->pos += dir * ((p - x->pos).dot(nu) / den);
}

// Moves every vertex of ring x along the line from its partner in ring y onto
// the plane (point p, normal nu).
void mitreRing(Ring x, Ring y, const Vector3D& p, const Vector3D& nu) {
    for (int k = 0; k < kSides; ++k)
        mitre(x[k], y[k], p, nu);
}

// Side band between two rings: lower ring a, upper ring b (outward winding for
// rings that run counter-clockwise about the upward axis).
void band(std::vector<topolib::StlTriangle*>& ts, Ring a, Ring b, int k, ShapeMemoryCheck* check) {
    const int k1 = (k + 1) % kSides;
    addShapeTriangle(ts, a[k], a[k1], b[k1], check);
    addShapeTriangle(ts, a[k], b[k1], b[k], check);
}

// The triangles of a closed column of rings listed from the bottom up: for each
// k in turn the fan from `foot` to the bottom ring, the bands between
// consecutive rings, and the fan from the top ring to `top`.
void closedColumn(std::vector<topolib::StlTriangle*>& ts, StlVertex* foot,
                  std::initializer_list<StlVertex**> rings, StlVertex* top, ShapeMemoryCheck* check) {
    StlVertex** const bottom = *rings.begin();
    StlVertex** const last = *(rings.end() - 1);
    for (int k = 0; k < kSides; ++k) {
        const int k1 = (k + 1) % kSides;
        addShapeTriangle(ts, foot, bottom[k1], bottom[k], check);
        for (auto r = rings.begin(); r + 1 != rings.end(); ++r)
            band(ts, r[0], r[1], k, check);
        addShapeTriangle(ts, top, last[k], last[k1], check);
    }
}

// The frames of a cylinder support on the platform: head rings lie across the
// head axis in (a, b), trunk rings horizontal in (a, c). A tilted head meets the
// vertical trunk at a mitre.
struct PlatformFrame {
    Vector3D m; // into the model
    Vector3D a{1, 0, 0}, b{0, 1, 0}, c{0, 1, 0};
    bool tilt = false;

    // Normal of the mitre plane through the head end, which halves the angle
    // between the head axis and the vertical trunk.
    Vector3D mitreNormal() const { return unit(Vector3D(m - Vector3D(0, 0, 1))).cross(a); }
};

PlatformFrame platformFrame(const Vector3D& contactNormal) {
    PlatformFrame f;
    f.m = unit(-contactNormal);
    f.tilt = tilted(contactNormal);
    if (f.tilt) {
        f.a = unit(Vector3D(-f.m.y, f.m.x, 0.0));
        f.b = unit(f.m.cross(f.a));
        f.c = unit(f.a.cross(Vector3D(0, 0, -1)));
    }
    return f;
}

} // namespace

void ConeShape::buildCylinderOnPlatform() {
    ShapeMemoryCheck* const check = shapeMemoryCheck();
    const PlatformFrame frame = platformFrame(ContactNormal);
    const Vector3D Ta = ContactPoint + frame.m * 0.1;
    Ring B, N, H, T;
    makeRing(vertices, B, Vector3D(FootPoint.x, FootPoint.y, 0.0), BottomRadius, frame.a, frame.c, check);
    makeRing(vertices, N, HeadEnd, NeckRadius, frame.a, frame.c, check);
    if (frame.tilt)
        mitreRing(N, B, HeadEnd, frame.mitreNormal());
    makeRing(vertices, H, TipCentre, HeadRadius, frame.a, frame.b, check);
    makeRing(vertices, T, Ta, ContactRadius, frame.a, frame.b, check);
    StlVertex* ta = addShapeVertex(vertices, Ta, check);
    StlVertex* fc = addShapeVertex(vertices, FootPoint, check);
    closedColumn(triangles, fc, {B, N, H, T}, ta, check);
}

void ConeShape::buildCylinderWithBase() {
    ShapeMemoryCheck* const check = shapeMemoryCheck();
    if (HeadEnd.z < 2.1 * BaseThickness) {
        buildCylinderOnPlatform();
        return;
    }
    const PlatformFrame frame = platformFrame(ContactNormal);
    const Vector3D &a = frame.a, &b = frame.b, &c = frame.c;
    double f = 2.0 * BottomRadius;
    if (HeadEnd.z < 3.0 * BottomRadius)
        f = (HeadEnd.z - BaseThickness) * 0.5;
    const double zc = f + BaseThickness;
    const Vector3D centre(FootPoint.x, FootPoint.y, 0.0);
    const Vector3D Ta = ContactPoint + frame.m * 0.1;

    Ring T, H, N, B, P[5];
    makeRing(vertices, T, Ta, ContactRadius, a, b, check);
    makeRing(vertices, H, TipCentre, HeadRadius, a, b, check);
    makeRing(vertices, N, HeadEnd, NeckRadius, a, c, check);
    makeRing(vertices, B, Vector3D(centre.x, centre.y, zc), BottomRadius, a, c, check);
    if (frame.tilt)
        mitreRing(N, B, HeadEnd, frame.mitreNormal());
    for (int j = 0; j < 3; ++j) {
        const double phi = (j + 1) * 0.5235987755;
        makeRing(vertices, P[j], Vector3D(centre.x, centre.y, zc - f * std::sin(phi)),
                 (f - f * std::cos(phi)) + BottomRadius, a, c, check);
    }
    makeRing(vertices, P[3], Vector3D(centre.x, centre.y, BaseThickness), BaseSize, a, c, check);
    makeRing(vertices, P[4], centre, BaseSize, a, c, check);
    StlVertex* ta = addShapeVertex(vertices, Ta, check);
    StlVertex* fc = addShapeVertex(vertices, FootPoint, check);
    for (int k = 0; k < kSides; ++k) {
        const int k1 = (k + 1) % kSides;
        addShapeTriangle(triangles, ta, T[k], T[k1], check);
        band(triangles, H, T, k, check);
        band(triangles, N, H, k, check);
        band(triangles, B, N, k, check);
        for (int j = 0; j < 5; ++j)
            band(triangles, P[j], j == 0 ? B : P[j - 1], k, check);
        addShapeTriangle(triangles, fc, P[4][k1], P[4][k], check);
    }
}

bool ConeShape::trunkRunsBack() const {
    Vector3D head = HeadEnd;
    const double top = FootZ - 0.1 + 2.5 * ContactRadius;
    if (head.z < top + 0.001)
        head.z = ((head.z + top) * 0.5 - 0.001) + 0.002; // as the mesh raises it
    const Vector3D t = unit(TrunkFoot - head);
    return t.dot(unit(-ContactNormal)) > 0.0 || t.dot(FootNormal) > 0.0;
}

void ConeShape::buildCylinderOnModel() {
    ShapeMemoryCheck* const check = shapeMemoryCheck();
    const bool runsBack = trunkRunsBack();
    FootPoint.z = FootZ - 0.1;
    double top = FootPoint.z + 2.5 * ContactRadius;
    if (HeadEnd.z < top + 0.001) {
        top = (HeadEnd.z + top) * 0.5 - 0.001;
        HeadEnd.z = top + 0.002;
    }
    if (runsBack) {
        deleted = 1;
        return;
    }
    const Vector3D m = unit(-ContactNormal);
    const Vector3D t = unit(TrunkFoot - HeadEnd);
    Vector3D e1(1, 0, 0), b(0, 1, 0), c(0, 1, 0), headNu;
    const bool headMitre = tilted(ContactNormal);
    if (headMitre) {
        e1 = unit(m.cross(t));
        if (e1.lengthSquared() == 0.0) // trunk along the head axis: any side will do
            e1 = std::fabs(m.x) < 0.9 ? unit(m.cross(Vector3D(1, 0, 0))) : unit(m.cross(Vector3D(0, 1, 0)));
        b = unit(m.cross(e1));
        c = unit(e1.cross(t));
        headNu = unit(unit(t + m).cross(e1));
    }
    const Vector3D& F = FootNormal;
    Vector3D p = e1, q = c, footNu;
    const bool footMitre = tilted(F);
    if (footMitre) {
        const Vector3D probe = TrunkFoot + e1 * 10.0;
        Vector3D proj;
        topolib::projectPointOnPlane(probe.data(), TrunkFoot.data(), F.data(), proj.data());
        p = unit(proj - TrunkFoot);
        q = unit(F.cross(p));
        footNu = unit((t + F).cross(t.cross(F)));
    }
    const Vector3D Ta = ContactPoint + m * 0.1;
    Ring F1, F2, F3, N, H, T;
    makeRing(vertices, F1, FootPoint, ContactRadius, p, q, check);
    makeRing(vertices, F2, FootTipCentre, HeadRadius, p, q, check);
    makeRing(vertices, F3, TrunkFoot, NeckRadius, p, q, check);
    if (footMitre)
        mitreRing(F3, F2, TrunkFoot, footNu);
    makeRing(vertices, N, HeadEnd, NeckRadius, e1, b, check);
    makeRing(vertices, H, TipCentre, HeadRadius, e1, b, check);
    if (headMitre)
        mitreRing(N, H, HeadEnd, headNu);
    makeRing(vertices, T, Ta, ContactRadius, e1, b, check);
    StlVertex* ta = addShapeVertex(vertices, Ta, check);
    StlVertex* fa = addShapeVertex(vertices, FootPoint, check);
    closedColumn(triangles, fa, {F1, F2, F3, N, H, T}, ta, check);
}

void ConeShape::addRingTube(StlVertex* const* u, int n) {
    ShapeMemoryCheck* const check = shapeMemoryCheck();
    addShapeTriangle(triangles, u[0], u[1], u[2], check);
    addShapeTriangle(triangles, u[0], u[2], u[3], check);
    for (int i = 4; i < n; ++i) {
        if (i % 4 < 3) {
            addShapeTriangle(triangles, u[i], u[i + 1], u[i - 3], check);
            addShapeTriangle(triangles, u[i], u[i - 3], u[i - 4], check);
        } else {
            addShapeTriangle(triangles, u[i], u[i - 3], u[i - 7], check);
            addShapeTriangle(triangles, u[i], u[i - 7], u[i - 4], check);
        }
    }
    addShapeTriangle(triangles, u[n - 1], u[n - 2], u[n - 3], check);
    addShapeTriangle(triangles, u[n - 1], u[n - 3], u[n - 4], check);
}

namespace {

// The frames of a cross support: A across the head axis (horizontal), B across it
// in the vertical plane of the lean, V horizontal along the lean.
struct CrossFrame {
    Vector3D A{1, 0, 0}, B{0, 1, 0}, V{0, 1, 0}, m;
    bool tilt = false;
};

CrossFrame crossFrame(const Vector3D& contactNormal) {
    CrossFrame f;
    f.m = unit(-contactNormal);
    f.tilt = tilted(contactNormal);
    if (f.tilt) {
        f.A = unit(Vector3D(f.m.y, -f.m.x, 0.0));
        f.B = unit(f.m.cross(f.A));
        f.V = unit(Vector3D(-f.A.y, f.A.x, 0.0));
    }
    return f;
}

// The four corners of one plate ring, in the order of plate 1 or plate 2.
void plateRing(Vector3D out[4], int plate, const Vector3D& o, double R, const Vector3D& L, const Vector3D& S,
               double w) {
    const Vector3D l = L * R, s = S * (w / 2.0);
    if (plate == 1) {
        out[0] = o + l + s;
        out[1] = o + l - s;
        out[2] = o - l - s;
        out[3] = o - l + s;
    } else {
        out[0] = o + l - s;
        out[1] = o + l + s;
        out[2] = o - l + s;
        out[3] = o - l - s;
    }
}

} // namespace

// The corner rings of one plate from the tip down to the neck (12 corners).
static void crossHead(Vector3D* out, int plate, const ConeShape& c, const CrossFrame& f) {
    const double w = c.CrossRadius;
    const Vector3D tip = c.ContactPoint - c.ContactNormal * 0.1;
    const Vector3D& L = plate == 1 ? f.B : f.A;
    const Vector3D& S = plate == 1 ? f.A : f.B;
    plateRing(out, plate, tip, c.ContactRadius, L, S, w);
    plateRing(out + 4, plate, c.TipCentre, c.HeadRadius, L, S, w);
    const double R = c.NeckRadius;
    if (!f.tilt) {
        if (plate == 1)
            plateRing(out + 8, 1, c.HeadEnd, R, f.V, f.A, w);
        else
            plateRing(out + 8, 2, c.HeadEnd, R, f.A, f.B, w);
        return;
    }
    const Vector3D wv = unit(f.m - Vector3D(0, 0, 1));
    if (plate == 1) {
        // The two points along the lean, lifted onto the mitre plane.
        const Vector3D nu = f.A.cross(wv);
        Vector3D ends[2];
        for (int i = 0; i < 2; ++i) {
            const double sign = i == 0 ? 1.0 : -1.0;
            Vector3D p(c.HeadEnd.x + sign * R * f.V.x, c.HeadEnd.y + sign * R * f.V.y, c.HeadEnd.z);
            if (std::fabs(nu.z) >= 1e-12)
                p.z = c.HeadEnd.z - (nu.x * (p.x - c.HeadEnd.x) + nu.y * (p.y - c.HeadEnd.y)) / nu.z;
            ends[i] = p;
        }
        const Vector3D s = f.A * (w / 2.0);
        out[8] = ends[0] + s;
        out[9] = ends[0] - s;
        out[10] = ends[1] - s;
        out[11] = ends[1] + s;
    } else {
        plateRing(out + 8, 2, c.HeadEnd, R, f.A, wv, w);
    }
}

static void crossRings(ConeShape& c, std::vector<StlVertex*>& vs, const Vector3D* corners, int n,
                       StlVertex** u) {
    for (int i = 0; i < n; ++i)
        u[i] = addShapeVertex(vs, corners[i], c.shapeMemoryCheck());
}

void ConeShape::buildCrossOnPlatform() {
    const CrossFrame f = crossFrame(ContactNormal);
    for (int plate = 1; plate <= 2; ++plate) {
        Vector3D corners[16];
        crossHead(corners, plate, *this, f);
        const Vector3D& L = plate == 1 ? f.V : f.A;
        const Vector3D& S = plate == 1 ? f.A : f.V;
        plateRing(corners + 12, plate, FootPoint, BottomRadius, L, S, CrossRadius);
        StlVertex* u[16];
        crossRings(*this, vertices, corners, 16, u);
        addRingTube(u, 16);
    }
}

void ConeShape::addCrossDisc() {
    ShapeMemoryCheck* const check = shapeMemoryCheck();
    if (!GenerateBase)
        return;
    const Vector3D ex(1, 0, 0), ey(0, 1, 0);
    Ring D, U;
    makeRing(vertices, D, Vector3D(FootPoint.x, FootPoint.y, 0.0), BaseSize, ex, ey, check);
    makeRing(vertices, U, Vector3D(FootPoint.x, FootPoint.y, BaseThickness), BaseSize, ex, ey, check);
    StlVertex* uc = addShapeVertex(vertices, Vector3D(FootPoint.x, FootPoint.y, BaseThickness), check);
    StlVertex* dc = addShapeVertex(vertices, FootPoint, check);
    closedColumn(triangles, dc, {D, U}, uc, check);
}

void ConeShape::buildCrossOnModel() {
    FootPoint.z = FootZ - 0.1;
    double top = FootPoint.z + 2.5 * ContactRadius;
    const double low = FootPoint.z + 0.5 * ContactRadius + 0.1;
    if (HeadEnd.z < top + 0.001) {
        top = (HeadEnd.z + top) * 0.5 - 0.001;
        HeadEnd.z = top + 0.002;
    }
    const CrossFrame f = crossFrame(ContactNormal);
    for (int plate = 1; plate <= 2; ++plate) {
        Vector3D corners[24];
        crossHead(corners, plate, *this, f);
        const Vector3D& L = plate == 1 ? f.V : f.A;
        const Vector3D& S = plate == 1 ? f.A : f.V;
        if (tilted(FootNormal)) {
            // On a slope the plates lean off it along the foot's normal, as a
            // cylinder's trunk does: straight up from the foot they would cut
            // into the rising side of the slope.
            plateRing(corners + 12, plate, TrunkFoot, BottomRadius, L, S, CrossRadius);
            plateRing(corners + 16, plate, FootTipCentre, HeadRadius, L, S, CrossRadius);
        } else {
            plateRing(corners + 12, plate, Vector3D(FootPoint.x, FootPoint.y, top), BottomRadius, L, S,
                      CrossRadius);
            plateRing(corners + 16, plate, Vector3D(FootPoint.x, FootPoint.y, low), HeadRadius, L, S,
                      CrossRadius);
        }
        plateRing(corners + 20, plate, FootPoint, ContactRadius, L, S, CrossRadius);
        StlVertex* u[24];
        crossRings(*this, vertices, corners, 24, u);
        addRingTube(u, 24);
    }
}

} // namespace support
