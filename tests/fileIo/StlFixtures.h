#pragma once
// Generated STL content for the file-layer tests, benchmarks and fuzz seeds:
// facets as twelve floats (normal, three corners) and their binary and ASCII
// file bytes. Nothing here uses the file layer itself, so the tests read
// bytes that an independent writer produced.

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <csignal>
#include <sys/resource.h>

namespace stlfixtures {

using Facet = std::array<float, 12>;

inline Facet makeFacet(const float* a, const float* b, const float* c) {
    const double u[3] = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
    const double v[3] = {double(c[0]) - a[0], double(c[1]) - a[1], double(c[2]) - a[2]};
    double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (len > 0)
        for (double& x : n)
            x /= len;
    return {float(n[0]), float(n[1]), float(n[2]), a[0], a[1], a[2], b[0], b[1], b[2], c[0], c[1], c[2]};
}

// A closed torus of 2 × ringSegments × tubeSegments facets, outward wound:
// ringSegments × tubeSegments vertices and 3 × ringSegments × tubeSegments
// edges, one shell, no boundary.
inline std::vector<Facet> torus(int ringSegments, int tubeSegments, float ringRadius = 100.f,
                                float tubeRadius = 30.f) {
    const double twoPi = 6.283185307179586;
    std::vector<float> grid(size_t(ringSegments) * tubeSegments * 3);
    for (int i = 0; i < ringSegments; ++i)
        for (int j = 0; j < tubeSegments; ++j) {
            const double a = twoPi * i / ringSegments, b = twoPi * j / tubeSegments;
            float* p = &grid[(size_t(i) * tubeSegments + j) * 3];
            p[0] = float((ringRadius + tubeRadius * std::cos(b)) * std::cos(a));
            p[1] = float((ringRadius + tubeRadius * std::cos(b)) * std::sin(a));
            p[2] = float(tubeRadius * std::sin(b));
        }
    auto at = [&](int i, int j) {
        return &grid[(size_t((i + ringSegments) % ringSegments) * tubeSegments + (j + tubeSegments) % tubeSegments) *
                     3];
    };
    std::vector<Facet> facets;
    facets.reserve(size_t(2) * ringSegments * tubeSegments);
    for (int i = 0; i < ringSegments; ++i)
        for (int j = 0; j < tubeSegments; ++j) {
            facets.push_back(makeFacet(at(i, j), at(i + 1, j), at(i + 1, j + 1)));
            facets.push_back(makeFacet(at(i, j), at(i + 1, j + 1), at(i, j + 1)));
        }
    return facets;
}

// The torus with about `facets` facets (rounded to a grid of 2:1 proportions).
inline std::vector<Facet> torusOfAbout(uint32_t facets) {
    const int tube = std::max(3, int(std::lround(std::sqrt(facets / 4.0))));
    const int ring = std::max(3, int(facets / 2 / uint32_t(tube)));
    return torus(ring, tube);
}

// Axis-aligned cube [0, size]^3 of 12 outward facets.
inline std::vector<Facet> cube(float size = 10.f) {
    const float s = size;
    const float p[8][3] = {{0, 0, 0}, {s, 0, 0}, {s, s, 0}, {0, s, 0}, {0, 0, s}, {s, 0, s}, {s, s, s}, {0, s, s}};
    const int tri[12][3] = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
                            {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};
    std::vector<Facet> facets;
    for (const auto& t : tri)
        facets.push_back(makeFacet(p[t[0]], p[t[1]], p[t[2]]));
    return facets;
}

inline void putU32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out += char((v >> (8 * i)) & 0xff);
}

inline void putF32(std::string& out, float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    putU32(out, bits);
}

// Binary STL bytes; `count` overrides the header's facet count when given.
inline std::string binaryStl(const std::vector<Facet>& facets, const std::string& header = "fixture",
                             long long count = -1) {
    std::string out(80, '\0');
    out.replace(0, std::min<size_t>(header.size(), 80), header.substr(0, 80));
    putU32(out, count >= 0 ? uint32_t(count) : uint32_t(facets.size()));
    out.reserve(84 + facets.size() * 50);
    for (const Facet& f : facets) {
        for (float x : f)
            putF32(out, x);
        out += std::string(2, '\0');
    }
    return out;
}

// ASCII STL text; numbers are written locale-free with nine digits after the
// point, so the floats read back exactly.
inline std::string asciiStl(const std::vector<Facet>& facets, const std::string& name = "fixture") {
    std::string out = "solid " + name + "\n";
    out.reserve(facets.size() * 260);
    auto triple = [&out](const char* lead, const float* v) {
        out += lead;
        for (int k = 0; k < 3; ++k) {
            char text[32];
            out.append(text, std::to_chars(text, text + sizeof text, double(v[k]), std::chars_format::scientific, 9).ptr);
            out += k < 2 ? ' ' : '\n';
        }
    };
    for (const Facet& f : facets) {
        triple("  facet normal ", &f[0]);
        out += "    outer loop\n";
        for (int v = 0; v < 3; ++v)
            triple("      vertex ", &f[3 + 3 * v]);
        out += "    endloop\n  endfacet\n";
    }
    return out + "endsolid " + name + "\n";
}

inline bool writeFile(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// While alive, writes beyond `bytes` bytes of one file fail as on a full disk
// (the file size limit of the process).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = SIG_DFL;
};

} // namespace stlfixtures
