// fuzz_seeds DIR: writes valid inputs for each fuzz target into
// DIR/stl_binary, DIR/stl_ascii and DIR/vgeo.
#include "tests/fileIo/MemoryStream.h"
#include "tests/fileIo/StlFixtures.h"

#include "app/MemoryCheck.h"
#include "fileIo/StlFileHandling.h"
#include "fileIo/VGeoFileHandling.h"
#include "topolib/StlObject.h"

#include <QDir>

#include <sstream>

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    for (const char* sub : {"stl_binary", "stl_ascii", "vgeo"})
        dir.mkpath(sub);
    installMemoryCheck([](const uint64_t&) { return true; });
    const float a[3] = {0, 0, 0}, b[3] = {1, 0, 0}, c[3] = {0, 1, 0};
    const std::vector<std::vector<stlfixtures::Facet>> meshes = {
        stlfixtures::cube(), stlfixtures::torus(4, 3), {stlfixtures::makeFacet(a, b, c)}};
    int n = 0;
    for (const auto& facets : meshes) {
        ++n;
        const std::string binary = stlfixtures::binaryStl(facets);
        stlfixtures::writeFile(dir.filePath(QString("stl_binary/%1").arg(n)).toStdString(), binary);
        stlfixtures::writeFile(dir.filePath(QString("stl_ascii/%1").arg(n)).toStdString(),
                               stlfixtures::asciiStl(facets));
        topolib::StlObject mesh;
        fileIo::StlFileHandling reader;
        reader.setTarget(&mesh);
        std::istringstream in(binary);
        if (reader.readBinaryFrom(in) != fileIo::kSuccess)
            return 1;
        mesh.buildEdges(false, 60, 25);
        mesh.findShells(false, 85);
        MemoryStream out;
        fileIo::VGeoFileHandling writer;
        writer.setTarget(&mesh);
        writer.writeStream(&out);
        stlfixtures::writeFile(dir.filePath(QString("vgeo/%1").arg(n)).toStdString(), out.bytes());
    }
    return 0;
}
