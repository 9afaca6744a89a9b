// meshinfo FILE --support [--zoffset Z] [--type 0|1] [--base 0|1|2] [--out FILE] [--contacts FILE]:
// imports the file as the application does (read, edges, shells, octree), lifts
// the model so that its lowest point lies at Z (default 5), generates supports
// with the support panel's default parameters and prints one line
//   support result= areas= cones= live= links= bars= triangles= closed_cones= islands= unsupported= ms=
//   hanging_mm2= unreached_mm2=
// result 1 when the generation ran; cones counts every cone of every region, live
// the cones not deleted, links the distinct links of live and deleted cones, bars
// the bars of those links; triangles is what SupportGen::appendAllTriangles
// gives; closed_cones counts the live cones whose own mesh uses every edge exactly
// twice, once in each direction; islands counts the model's regions that rest
// on no model region of the layer below when model and supports are sliced at
// 0.05 mm, unsupported those of them that no support reaches either (regions
// within 0.2 mm touch; see IslandCheck.h); ms is the generation alone; hanging_mm2 is
// the area of the layers that hangs more than 1 mm past the layer below (slices
// 0.05 mm apart, cells of 0.1 mm or a 500th of the model's width), unreached_mm2
// the part of it with no cone's contact within 5 mm. With --out the model
// and its supports are written as one binary STL file (the model's facets
// first); with --contacts the live cones' contact points as lines "x y z"
// (for checks outside the program, scripts/overhang_check.py). A refused or failed
// generation also writes its reason to stderr, and a model that is not closed
// says so there before the generation.

#include "IslandCheck.h"
#include "fileIo/MeshFileLoad.h"
#include "fileIo/PathEncoding.h"
#include "fileIo/StlFileHandling.h"
#include "support/ColumnLink.h"
#include "support/ConeShape.h"
#include "support/ShapeMesh.h"
#include "support/SupportGen.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"

#include <QString>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

bool parseNumber(const char* text, double* out) {
    char* end = nullptr;
    *out = std::strtod(text, &end);
    return end != text && *end == '\0';
}

} // namespace

int runSupport(int argc, char** argv) {
    double zOffset = 5.0, type = 1.0, base = 0.0;
    std::string outPath, contactsPath;
    bool ok = argc >= 3;
    for (int i = 3; ok && i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--zoffset") == 0 && hasValue)
            ok = parseNumber(argv[++i], &zOffset);
        else if (std::strcmp(argv[i], "--type") == 0 && hasValue)
            ok = parseNumber(argv[++i], &type) && (type == 0.0 || type == 1.0);
        else if (std::strcmp(argv[i], "--base") == 0 && hasValue)
            ok = parseNumber(argv[++i], &base) && (base == 0.0 || base == 1.0 || base == 2.0);
        else if (std::strcmp(argv[i], "--out") == 0 && hasValue)
            outPath = argv[++i];
        else if (std::strcmp(argv[i], "--contacts") == 0 && hasValue)
            contactsPath = argv[++i];
        else
            ok = false;
    }
    if (!ok) {
        std::fprintf(stderr,
                     "usage: meshinfo FILE --support [--zoffset Z] [--type 0|1] [--base 0|1|2] [--out FILE] "
                     "[--contacts FILE]\n");
        return 2;
    }
    topolib::StlObject mesh;
    if (fileIo::loadMeshFile(mesh, fileIo::decodePath(argv[1])).result != topolib::LoadResult::Success) {
        std::printf("support result=0 areas=0 cones=0 live=0 links=0 bars=0 triangles=0 closed_cones=0 "
                    "islands=0 unsupported=0 ms=0 hanging_mm2=0.00 unreached_mm2=0.00\n");
        return 1;
    }
    mesh.computeBoundingBox();
    mesh.setBoundingBox(mesh.bboxMin(), mesh.bboxMax());
    mesh.rebuildOctree();
    const double lift[3] = {0.0, 0.0, zOffset - mesh.bboxMin()[2]};
    mesh.translate(lift);
    mesh.resetTriangleGroups();

    // The support panel's preset: sizes are diameters, halved on the way in.
    support::SupportGen gen(&mesh);
    gen.setTipRadius(1.0 / 2);
    gen.setTrunkRadius(2.0 / 2);
    gen.setBranchRadius(1.2 / 2);
    gen.setHeadExtend(2.5);
    gen.setBaseSize(4.0);
    gen.setBaseThickness(1.0);
    gen.setDensity(5.0);
    gen.setMaxAngle(46.0);
    gen.setRemoveInternal(false);
    // Both numbers were checked above.
    gen.setSupportType(support::supportTypeFromFlag(static_cast<int>(type)), false);
    gen.setBaseType(*support::baseTypeFromStored(static_cast<int>(base)), false);

    if (const std::string open = gen.openSurfaceText(); !open.empty())
        std::fprintf(stderr, "%s\n", open.c_str());
    const auto start = std::chrono::steady_clock::now();
    const bool generated = gen.generate();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();

    unsigned long cones = 0, live = 0, bars = 0, closed = 0;
    std::set<const support::AbtShape*> links;
    for (const support::SupportAreaAbs* area : gen.areas) {
        for (const support::AbtShape* shape : area->shapes) {
            const support::ConeShape* cone = shape->asCone();
            if (cone == nullptr)
                continue;
            ++cones;
            if (!cone->isDeleted()) {
                ++live;
                closed += support::isClosedShapeMesh(cone->triangles) ? 1 : 0;
            }
            for (const support::AbtShape* l : cone->links) {
                if (links.insert(l).second)
                    bars += static_cast<const support::ColumnLink*>(l)->bars.size();
            }
        }
    }
    if (!generated)
        std::fprintf(stderr, "%s\n", gen.failureText().c_str());
    std::vector<topolib::StlTriangle*> triangles;
    gen.appendAllTriangles(triangles);
    const islandcheck::Result islands = islandcheck::findIslands(mesh, triangles);
    std::vector<std::array<double, 3>> contacts;
    for (const support::SupportAreaAbs* area : gen.areas) {
        for (const support::AbtShape* shape : area->shapes) {
            if (const support::ConeShape* cone = shape->asCone(); cone != nullptr && !cone->isDeleted())
                contacts.push_back({cone->ContactPoint.x, cone->ContactPoint.y, cone->ContactPoint.z});
        }
    }
    // Cells of at least 0.1 mm, coarser on a wide model.
    islandcheck::OverhangSettings hanging;
    hanging.cell = std::max(
        0.1, std::max(mesh.bboxMax()[0] - mesh.bboxMin()[0], mesh.bboxMax()[1] - mesh.bboxMin()[1]) / 500.0);
    const islandcheck::Overhangs overhangs = islandcheck::findUnreachedOverhangs(mesh, contacts, hanging);
    std::printf(
        "support result=%d areas=%lu cones=%lu live=%lu links=%lu bars=%lu triangles=%lu closed_cones=%lu "
        "islands=%d unsupported=%d ms=%.1f hanging_mm2=%.2f unreached_mm2=%.2f\n",
        generated ? 1 : 0, static_cast<unsigned long>(gen.areas.size()), cones, live,
        static_cast<unsigned long>(links.size()), bars, static_cast<unsigned long>(triangles.size()), closed,
        islands.islands, islands.unsupported, ms, overhangs.hangingArea, overhangs.unreachedArea);
    if (overhangs.unreachedArea > 0.0)
        std::fprintf(stderr, "overhang without a contact within 5 mm at %.3f %.3f %.3f\n", overhangs.x,
                     overhangs.y, overhangs.z);
    for (const islandcheck::Island& i : islands.list) {
        if (!i.supported)
            std::fprintf(stderr, "unsupported island at %.3f %.3f %.3f\n", i.x, i.y, i.z);
    }
    if (!outPath.empty()) {
        std::vector<topolib::StlTriangle*> all;
        for (topolib::StlTriangle* t : mesh.triangles()) {
            if (!t->isDeleted())
                all.push_back(t);
        }
        all.insert(all.end(), triangles.begin(), triangles.end());
        if (fileIo::exportBinaryStl(fileIo::decodePath(outPath), all) != 1) {
            std::fprintf(stderr, "could not write %s\n", outPath.c_str());
            return 1;
        }
    }
    if (!contactsPath.empty()) {
        std::FILE* f = std::fopen(contactsPath.c_str(), "w");
        bool written = f != nullptr;
        for (std::size_t i = 0; written && i < contacts.size(); ++i)
            written = std::fprintf(f, "%.6f %.6f %.6f\n", contacts[i][0], contacts[i][1], contacts[i][2]) > 0;
        if (f != nullptr && std::fclose(f) != 0)
            written = false;
        if (!written) {
            std::fprintf(stderr, "could not write %s\n", contactsPath.c_str());
            return 1;
        }
    }
    return generated ? 0 : 1;
}
