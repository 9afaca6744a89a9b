#include "export/ExportStl.h"

#include "export/XyCalibrationProfile.h"
#include "fileIo/StlWriter.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <QCoreApplication>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace gcodeexport {

namespace {

constexpr size_t kPrefetchAhead = 16;

// The unit normal of the corners (p1 - p0) x (p2 - p0); zero when degenerate.
void facetNormal(const double p[3][3], double n[3]) {
    const double u[3] = {p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
    const double v[3] = {p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
    n[0] = u[1] * v[2] - u[2] * v[1];
    n[1] = u[2] * v[0] - u[0] * v[2];
    n[2] = u[0] * v[1] - u[1] * v[0];
    const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    for (int i = 0; i < 3; ++i)
        n[i] = len > 0.0 ? n[i] / len : 0.0;
}

} // namespace

bool writeExportStl(const QString& path, const std::vector<ExportPiece>& pieces,
                    const XyCalibration* calibration, QString* error) {
    uint64_t count = 0;
    for (const ExportPiece& piece : pieces)
        count += piece.triangles.size();
    if (count == 0) {
        *error = QCoreApplication::translate("ExportStl", "There is no triangle to export.");
        return false;
    }
    if (count > std::numeric_limits<uint32_t>::max()) {
        *error =
            QCoreApplication::translate("ExportStl", "The scene has too many triangles for one STL file.");
        return false;
    }
    fileIo::BinaryStlWriter writer(path.toStdWString());
    if (!writer.isOpen()) {
        *error = QCoreApplication::translate("ExportStl", "Cannot create the file %1.").arg(path);
        return false;
    }
    writer.begin(std::string("Save by Velar3D"), static_cast<uint32_t>(count));
    for (const ExportPiece& piece : pieces) {
        const bool correct = calibration && piece.calibrated;
        const size_t n = piece.triangles.size();
        for (size_t i = 0; i < n; ++i) {
            // Vertices lie anywhere in memory: ask for the corners of a
            // triangle some way ahead while this one is written.
            if (i + kPrefetchAhead < n) {
                const topolib::StlTriangle* ahead = piece.triangles[i + kPrefetchAhead];
                for (int k = 0; k < 3; ++k)
                    __builtin_prefetch(ahead->vertices[k]);
            }
            const topolib::StlTriangle* t = piece.triangles[i];
            if (!correct) {
                writer.addFacet(t->normalData(), t->vertices[0]->pos.data(), t->vertices[1]->pos.data(),
                                t->vertices[2]->pos.data());
                continue;
            }
            double p[3][3];
            // Corrected per corner: the vertex was just loaded for the
            // triangle, and a per-vertex table would cost a cache miss more.
            for (int k = 0; k < 3; ++k)
                calibration->correct(t->vertices[k]->pos.data(), p[k]);
            double n[3];
            facetNormal(p, n);
            writer.addFacet(n, p[0], p[1], p[2]);
        }
    }
    if (!writer.finish()) {
        *error = QCoreApplication::translate("ExportStl", "Writing the file %1 failed.").arg(path);
        return false;
    }
    return true;
}

} // namespace gcodeexport
