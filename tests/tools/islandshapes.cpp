// islandshapes DIR: writes the island test models as binary STL files into
// DIR: for each shape NAME, NAME_r0.stl as made and NAME_r1.stl to
// NAME_r3.stl turned by the rotations the support tests use, and an inside-out
// copy of each (NAME_rK_inside_out.stl); then screw.stl, a screw hanging from
// its head (MeshFixtures' screw), and screw_tilted.stl, the same turned 45
// degrees about x and then y; mscrew.stl, a metric screw hanging from its
// head (IslandShapes' metricScrew), mscrew_tilted.stl the same turned 45
// degrees about x and then y, mscrew_standing_tilted.stl standing on its head
// and so tilted; last the machined parts in their poses
// (NAME_POSE.stl, e.g. housing_down.stl). Lines "wrote PATH" go to stdout.

#include "IslandShapes.h"
#include "MeshFixtures.h"
#include "fileIo/StlFileHandling.h"
#include "topolib/StlObject.h"

#include <QString>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: islandshapes DIR\n");
        return 2;
    }
    namespace mf = meshfixtures;
    const std::string dir = argv[1];
    std::vector<islandshapes::Rotation> rotations{{{1, 0, 0}, 0.0}};
    for (const islandshapes::Rotation& r : islandshapes::randomRotations(3, islandshapes::kRotationSeed))
        rotations.push_back(r);
    for (const islandshapes::Shape& shape : islandshapes::all()) {
        for (std::size_t k = 0; k < rotations.size(); ++k) {
            const mf::TriangleSoup soup =
                islandshapes::turned(shape.soup, rotations[k].axis, rotations[k].degrees);
            for (bool insideOut : {false, true}) {
                const std::string path = dir + "/" + shape.name + "_r" + std::to_string(k) +
                                         (insideOut ? "_inside_out" : "") + ".stl";
                auto mesh = mf::buildMesh(insideOut ? mf::flipped(soup) : soup, mf::BuildSteps{false, false});
                std::vector<topolib::StlTriangle*> triangles(mesh->triangles().begin(),
                                                             mesh->triangles().end());
                if (fileIo::exportBinaryStl(QString::fromLocal8Bit(path.c_str()).toStdWString(), triangles) !=
                    1) {
                    std::fprintf(stderr, "could not write %s\n", path.c_str());
                    return 1;
                }
                std::printf("wrote %s\n", path.c_str());
            }
        }
    }
    // The screws hanging from their heads and turned; the machined parts in
    // their poses.
    const mf::TriangleSoup screw = mf::screw();
    const mf::TriangleSoup metric = islandshapes::metricScrew();
    std::vector<std::pair<std::string, mf::TriangleSoup>> singles{
        {"screw", screw},
        {"screw_tilted", islandshapes::turned(islandshapes::turned(screw, {1, 0, 0}, 45.0), {0, 1, 0}, 45.0)},
        {"mscrew", metric},
        {"mscrew_tilted",
         islandshapes::turned(islandshapes::turned(metric, {1, 0, 0}, 45.0), {0, 1, 0}, 45.0)},
        {"mscrew_standing_tilted",
         islandshapes::turned(islandshapes::turned(metric, {1, 0, 0}, 225.0), {0, 1, 0}, 45.0)}};
    for (const islandshapes::Shape& part : islandshapes::machinedParts())
        for (const islandshapes::Pose& pose : islandshapes::machinedPoses()) {
            mf::TriangleSoup soup = islandshapes::turned(part.soup, {1, 0, 0}, 0.0);
            for (const islandshapes::Rotation& r : pose.turns)
                soup = islandshapes::turned(soup, r.axis, r.degrees);
            singles.emplace_back(part.name + "_" + pose.name, std::move(soup));
        }
    for (const auto& [name, soup] : singles) {
        const std::string path = dir + "/" + name + ".stl";
        auto mesh = mf::buildMesh(soup, mf::BuildSteps{false, false});
        std::vector<topolib::StlTriangle*> triangles(mesh->triangles().begin(), mesh->triangles().end());
        if (fileIo::exportBinaryStl(QString::fromLocal8Bit(path.c_str()).toStdWString(), triangles) != 1) {
            std::fprintf(stderr, "could not write %s\n", path.c_str());
            return 1;
        }
        std::printf("wrote %s\n", path.c_str());
    }
    return 0;
}
