// Hash set of points for de-duplicating ray hits within a tolerance.

#include "topolib/PointHashTable.h"

#include <cmath>
#include <cstring>

namespace topolib {

namespace {

constexpr double kNearTolerance = 1e-6;

double roundTo5Decimals(double c) {
    const double scale = std::pow(10.0, 5);
    const double r = std::floor(scale * c + 0.5) / scale;
    return r == 0.0 ? 0.0 : r;
}

std::uint64_t fnv1a(double v) {
    unsigned char bytes[sizeof v];
    std::memcpy(bytes, &v, sizeof v);
    std::uint64_t h = 14695981039346656037ull;
    // Byte order of the value in memory, least significant first (the hash
    // is only ever computed on little-endian machines).
    for (unsigned char b : bytes)
        h = (h ^ b) * 1099511628211ull;
    return h;
}

int bucketOfRounded(double rx, double ry, double rz) {
    const std::uint64_t sum = fnv1a(rx) + fnv1a(ry) + fnv1a(rz);
    return static_cast<int>(sum % PointHashTable::kBuckets);
}

} // namespace

int PointHashTable::bucketOf(const double p[3]) {
    return bucketOfRounded(roundTo5Decimals(p[0]), roundTo5Decimals(p[1]), roundTo5Decimals(p[2]));
}

void PointHashTable::insert(const double p[3]) {
    m_buckets[bucketOf(p)].push_back(Vector3D(p));
    ++m_count;
}

const Vector3D* PointHashTable::findNear(const double p[3]) const {
    // Rounding is monotone and the tolerance is far below the rounding step, so
    // a point within the tolerance rounds, on each axis, to the value of p - tol
    // or of p + tol: at most two candidates per axis.
    // The tolerance follows the tolerance scale of the points' mesh (at most 1,
    // so it stays below the rounding step).
    const double tol = kNearTolerance * m_lengthScale;
    double candidates[3][2];
    int counts[3];
    for (int a = 0; a < 3; ++a) {
        candidates[a][0] = roundTo5Decimals(p[a] - tol);
        candidates[a][1] = roundTo5Decimals(p[a] + tol);
        counts[a] = candidates[a][1] == candidates[a][0] ? 1 : 2;
    }
    const Vector3D target(p);
    std::uint64_t searched = 0; // bit per bucket already scanned
    for (int i = 0; i < counts[0]; ++i)
        for (int j = 0; j < counts[1]; ++j)
            for (int k = 0; k < counts[2]; ++k) {
                const int b = bucketOfRounded(candidates[0][i], candidates[1][j], candidates[2][k]);
                if (searched & (std::uint64_t(1) << b))
                    continue;
                searched |= std::uint64_t(1) << b;
                for (const Vector3D& q : m_buckets[b])
                    if (std::fabs(q.x - target.x) <= tol && std::fabs(q.y - target.y) <= tol &&
                        std::fabs(q.z - target.z) <= tol)
                        return &q;
            }
    return nullptr;
}

void PointHashTable::clear() {
    for (auto& bucket : m_buckets)
        bucket.clear();
}

} // namespace topolib
