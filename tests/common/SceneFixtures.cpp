#include "SceneFixtures.h"

#include "fileIo/StlWriter.h"
#include "topolib/StlObject.h"
#include "topolib/StlVertex.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <limits>

namespace scenefixtures {

bool writeBinaryStl(const QString& path, const meshfixtures::TriangleSoup& soup) {
    fileIo::BinaryStlWriter writer(path.toStdWString());
    if (!writer.isOpen())
        return false;
    writer.begin("generated", static_cast<uint32_t>(soup.size()));
    for (const auto& f : meshfixtures::toStlFacets(soup)) {
        const double n[3] = {f[0], f[1], f[2]};
        const double a[3] = {f[3], f[4], f[5]};
        const double b[3] = {f[6], f[7], f[8]};
        const double c[3] = {f[9], f[10], f[11]};
        writer.addFacet(n, a, b, c);
    }
    return writer.finish();
}

const meshfixtures::TriangleSoup& millionFacetTorus() {
    static const meshfixtures::TriangleSoup soup = meshfixtures::torus(40.0, 10.0, 1000, 500);
    return soup;
}

bool runEventsUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents();
        QThread::msleep(1);
    }
    return true;
}

std::vector<std::array<double, 3>> vertexPositions(const topolib::StlObject& mesh) {
    std::vector<std::array<double, 3>> out;
    out.reserve(mesh.vertices().size());
    for (const topolib::StlVertex* v : mesh.vertices())
        out.push_back({v->pos.x, v->pos.y, v->pos.z});
    return out;
}

double maxDifference(const std::vector<std::array<double, 3>>& a, const std::vector<std::array<double, 3>>& b) {
    if (a.size() != b.size())
        return std::numeric_limits<double>::infinity();
    double worst = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i)
        for (int k = 0; k < 3; ++k)
            worst = std::max(worst, std::fabs(a[i][k] - b[i][k]));
    return worst;
}

} // namespace scenefixtures
