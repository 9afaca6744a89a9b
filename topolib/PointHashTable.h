#pragma once

#include "topolib/Vector3D.h"

#include <array>
#include <cstdint>
#include <vector>

namespace topolib {

// A small set of 3D points for recognising a point met before within 1e-6 on
// every axis (Vector3D::isNear), times the tolerance scale of the mesh the
// points lie on. Meant for the handful of hit points of one ray:
// 64 fixed buckets keyed by the coordinates rounded to 5 decimals, linear search
// inside a bucket, no resizing.
class PointHashTable {
public:
    static constexpr int kBuckets = 64;

    // lengthScale: the tolerance scale of the points' mesh
    // (StlObject::toleranceScale, at most 1), which findNear's tolerance follows.
    explicit PointHashTable(double lengthScale = 1.0) : m_lengthScale(lengthScale) {}

    // The bucket of p: each coordinate rounded to 5 decimals (a zero of either
    // sign as +0.0), hashed with 64-bit FNV-1a over its little-endian bytes, the
    // three hashes summed modulo 64.
    static int bucketOf(const double p[3]);

    // Appends p to its bucket without looking for a duplicate; the caller looks
    // first with findNear.
    void insert(const double p[3]);

    // The first stored point q (in insertion order) with isNear(q, p), or null.
    // Two points closer than the tolerance can round to neighbouring 5-decimal
    // values and so land in different buckets; every bucket that such a point
    // could have been filed under is searched, so no equal point is missed.
    const Vector3D* findNear(const double p[3]) const;

    // Empties the buckets; the count of insertions is kept.
    void clear();

    std::uint64_t count() const { return m_count; }

private:
    std::array<std::vector<Vector3D>, kBuckets> m_buckets;
    std::uint64_t m_count = 0;
    double m_lengthScale;
};

} // namespace topolib
