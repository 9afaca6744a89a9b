// The geometry format: round trips through a zip entry and a file, and
// entries that are truncated, forged or hostile.

#include "MemoryStream.h"
#include "MeshFixtures.h"
#include "StlFixtures.h"

#include "app/MemoryCheck.h"
#include "app/Platform.h"
#include "fileIo/ByteOrder.h"
#include "fileIo/StlFileHandling.h"
#include "fileIo/VGeoFileHandling.h"
#include "fileIo/VlrZipFile.h"
#include "topolib/MeshOctree.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlVertex.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <quazip/quazip.h>
#include <quazip/quazipnewinfo.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <sstream>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace fileIo;
using namespace stlfixtures;

namespace {

// Imports facets the way a file import does: read, weld, edges, shells.
void buildMesh(const std::vector<Facet>& facets, topolib::StlObject& mesh) {
    installMemoryCheck([](const uint64_t&) { return true; });
    std::istringstream in(binaryStl(facets));
    StlFileHandling reader;
    reader.setTarget(&mesh);
    ASSERT_EQ(reader.readBinaryFrom(in), kSuccess);
    mesh.buildEdges(false, 60, 25);
    mesh.findShells(false, 85);
    installMemoryCheck(nullptr);
}

std::string writeEntry(topolib::StlObject& mesh) {
    MemoryStream out;
    VGeoFileHandling writer;
    writer.setTarget(&mesh);
    EXPECT_EQ(writer.writeStream(&out), kSuccess);
    return out.bytes();
}

int readEntry(const std::string& bytes, topolib::StlObject& mesh) {
    MemoryStream in(bytes);
    VGeoFileHandling reader;
    reader.setTarget(&mesh);
    return reader.readStream(&in);
}

struct Summary {
    uint32_t triangles = 0, vertices = 0, liveEdges = 0, shells = 0, reversed = 0;
    std::map<uint32_t, uint32_t> edgeClasses;
    std::vector<std::pair<size_t, size_t>> shellSizes;
    double area = 0, volume = 0;
};

Summary summarize(const topolib::StlObject& mesh) {
    Summary s;
    s.triangles = mesh.triangleCount();
    s.vertices = static_cast<uint32_t>(mesh.vertices().size());
    for (const topolib::StlEdge* e : mesh.edges())
        if (e->edgeClass != topolib::kEdgeDetached) {
            ++s.liveEdges;
            ++s.edgeClasses[e->edgeClass];
        }
    s.shells = static_cast<uint32_t>(mesh.shells().size());
    for (const auto* sh : mesh.shells())
        s.shellSizes.emplace_back(sh->primaryTriangles.size(), sh->reversedTriangles.size());
    for (const topolib::StlTriangle* t : mesh.triangles())
        s.reversed += t->isReversed() ? 1 : 0;
    s.area = mesh.area();
    s.volume = mesh.volume();
    return s;
}

void expectSameMesh(const topolib::StlObject& a, const topolib::StlObject& b) {
    const Summary x = summarize(a), y = summarize(b);
    EXPECT_EQ(x.triangles, y.triangles);
    EXPECT_EQ(x.vertices, y.vertices);
    EXPECT_EQ(x.liveEdges, y.liveEdges);
    EXPECT_EQ(x.shells, y.shells);
    EXPECT_EQ(x.shellSizes, y.shellSizes);
    EXPECT_EQ(x.reversed, y.reversed);
    // Boundary and non-manifold classes come back; creases are not recomputed
    // by the reader, so 0 and 1 are compared together.
    EXPECT_EQ(x.edgeClasses.count(2) ? x.edgeClasses.at(2) : 0, y.edgeClasses.count(2) ? y.edgeClasses.at(2) : 0);
    EXPECT_EQ(x.edgeClasses.count(3) ? x.edgeClasses.at(3) : 0, y.edgeClasses.count(3) ? y.edgeClasses.at(3) : 0);
    EXPECT_NEAR(x.area, y.area, 1e-4 * std::max(1.0, std::fabs(x.area)));
    // The volume of an open surface depends on the reference point of the sum
    // (the first vertex, which welding and reading choose differently).
    if (x.edgeClasses.count(2) == 0) {
        EXPECT_NEAR(x.volume, y.volume, 1e-4 * std::max(1.0, std::fabs(x.volume)));
    }
    for (size_t i = 0; i < std::min(a.shells().size(), b.shells().size()); ++i) {
        EXPECT_FLOAT_EQ(float(std::fabs(a.shells()[i]->area)), float(b.shells()[i]->area));
        EXPECT_FLOAT_EQ(float(a.shells()[i]->volume), float(b.shells()[i]->volume));
    }
}

// A torus with a few facets wound the wrong way (reversed class) plus a
// separate open strip (boundary edges, a second shell).
std::vector<Facet> mixedMesh() {
    auto facets = torus(12, 8);
    for (int i : {3, 40, 77}) {
        auto& f = facets[i];
        std::swap(f[6], f[9]);
        std::swap(f[7], f[10]);
        std::swap(f[8], f[11]);
    }
    const float a[3] = {500, 0, 0}, b[3] = {510, 0, 0}, c[3] = {510, 10, 0}, d[3] = {500, 10, 0};
    facets.push_back(makeFacet(a, b, c));
    facets.push_back(makeFacet(a, c, d));
    return facets;
}

} // namespace

TEST(VGeo, meshThroughZipEntryComesBackWithCountsMeasuresAndClasses) {
    topolib::StlObject mesh;
    buildMesh(mixedMesh(), mesh);
    ASSERT_EQ(mesh.shells().size(), 2u);
    ASSERT_GT(summarize(mesh).reversed, 0u);

    QTemporaryDir dir;
    const QString zipPath = dir.filePath("project.zip");
    {
        QuaZip zip(zipPath);
        zip.setUtf8Enabled(true);
        ASSERT_TRUE(zip.open(QuaZip::mdCreate));
        VlrZipFile entry(&zip);
        QuaZipNewInfo info("ObjGeo/7.vsg");
        info.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        ASSERT_TRUE(entry.open(QIODevice::WriteOnly, info, nullptr, 0, 8, -1, false, -15, 8, 0));
        VGeoFileHandling writer;
        writer.setTarget(&mesh);
        EXPECT_EQ(writer.writeStream(&entry), kSuccess);
        EXPECT_TRUE(entry.close());
        zip.close();
    }
    QuaZip zip(zipPath);
    ASSERT_TRUE(zip.open(QuaZip::mdUnzip));
    ASSERT_TRUE(zip.goToFirstFile());
    VlrZipFile entry(&zip);
    ASSERT_TRUE(entry.device().open(QIODevice::ReadOnly));
    topolib::StlObject back;
    VGeoFileHandling reader;
    reader.setTarget(&back);
    ASSERT_EQ(reader.readStream(&entry), kSuccess);
    EXPECT_EQ(reader.lastStreamLength(), uint64_t(entry.size()));
    expectSameMesh(mesh, back);
    for (int k = 0; k < 3; ++k)
        EXPECT_FLOAT_EQ(float(back.bboxMax()[k]), float(mesh.bboxMax()[k]));
}

TEST(VGeo, smallMeshesSurviveTheRoundTrip) {
    const float a[3] = {0, 0, 0}, b[3] = {1, 0, 0}, c[3] = {0, 1, 0}, d[3] = {1, 1, 0};
    const std::vector<std::vector<Facet>> cases = {
        {makeFacet(a, b, c)},                     // a single facet
        {makeFacet(a, b, d), makeFacet(a, d, c)}, // a quad
        cube(),
    };
    for (const auto& facets : cases) {
        topolib::StlObject mesh;
        buildMesh(facets, mesh);
        topolib::StlObject back;
        ASSERT_EQ(readEntry(writeEntry(mesh), back), kSuccess) << facets.size();
        expectSameMesh(mesh, back);
        EXPECT_EQ(back.triangleCount(), facets.size());
    }
}

TEST(VGeo, fileRoundTripAndMemoryEstimate) {
    topolib::StlObject mesh;
    buildMesh(cube(), mesh);
    QTemporaryDir dir;
    const std::wstring path = dir.filePath("m.vsg").toStdWString();
    VGeoFileHandling writer;
    writer.setTarget(&mesh);
    writer.setFileName(path);
    ASSERT_EQ(writer.writeBinary(), kSuccess);
    VGeoFileHandling reader;
    topolib::StlObject back;
    reader.setTarget(&back);
    reader.setFileName(path);
    EXPECT_EQ(reader.estimateMemory(nullptr), 12u * 330);
    ASSERT_EQ(reader.load(), kSuccess);
    expectSameMesh(mesh, back);
    MemoryStream stream(writeEntry(mesh));
    EXPECT_EQ(reader.estimateMemory(&stream), 12u * 330);
    EXPECT_EQ(writer.writeFile(L"/dev/full"), kFailure);
    {
        // A failed save leaves the file written before as it was.
        FileSizeLimit limit(300);
        EXPECT_EQ(writer.writeBinary(), kFailure);
    }
    topolib::StlObject again;
    reader.setTarget(&again);
    ASSERT_EQ(reader.load(), kSuccess);
    expectSameMesh(mesh, again);
    EXPECT_EQ(writer.writeFile(dir.filePath("no/dir/m.vsg").toStdWString()), kFailure);
    VGeoFileHandling missing;
    missing.setTarget(&back);
    missing.setFileName(dir.filePath("none.vsg").toStdWString());
    EXPECT_EQ(missing.load(), kFailure);
}

TEST(VGeo, failedStreamWriteIsReported) {
    topolib::StlObject mesh;
    buildMesh(torus(30, 30), mesh);
    MemoryStream full;
    full.setWriteLimit(1000);
    VGeoFileHandling writer;
    writer.setTarget(&mesh);
    EXPECT_EQ(writer.writeStream(&full), kFailure);
    VGeoFileHandling noTarget;
    EXPECT_EQ(noTarget.writeStream(&full), kFailure);
}

TEST(VGeo, deletedTrianglesAndDetachedEdgesAreNotWritten) {
    topolib::StlObject mesh;
    buildMesh(cube(), mesh);
    mesh.triangle(0)->setDeleted(true);
    mesh.edge(0)->edgeClass = topolib::kEdgeDetached;
    const std::string bytes = writeEntry(mesh);
    EXPECT_EQ(loadU32(bytes.data() + 256), 11u);
    // 540: V, then 8 vertices, padding, S, one shell, padding, E.
    const size_t shellAt = 544 + 8 * 12 + 256 + 4;
    EXPECT_EQ(loadU32(bytes.data() + shellAt - 4), 1u);
    const uint32_t primary = loadU32(bytes.data() + shellAt + 11);
    const size_t reversedAt = shellAt + 15 + 12 * primary;
    const uint32_t reversed = loadU32(bytes.data() + reversedAt);
    EXPECT_EQ(primary + reversed, 11u);
    const size_t edgesAt = reversedAt + 4 + 12 * reversed + 256;
    EXPECT_EQ(loadU32(bytes.data() + edgesAt), 17u);
    EXPECT_EQ(bytes.size(), edgesAt + 4 + 17 * 8);
}

TEST(VGeo, trianglesOutsideEveryShellAreWrittenWithoutChangingTheMesh) {
    // No shell search at all: every triangle is a stray.
    topolib::StlObject mesh;
    installMemoryCheck([](const uint64_t&) { return true; });
    std::istringstream in(binaryStl(cube()));
    StlFileHandling reader;
    reader.setTarget(&mesh);
    ASSERT_EQ(reader.readBinaryFrom(in), kSuccess);
    installMemoryCheck(nullptr);
    mesh.buildEdges(false, 60, 25);
    std::string bytes = writeEntry(mesh);
    EXPECT_EQ(loadU32(bytes.data() + 256), 12u);
    EXPECT_TRUE(mesh.shells().empty());
    topolib::StlObject back;
    ASSERT_EQ(readEntry(bytes, back), kSuccess);
    EXPECT_EQ(back.triangleCount(), 12u);

    // Shells held elsewhere and a triangle added after the shell search: the
    // shells keep their records, lists and measures.
    topolib::StlObject model;
    buildMesh(mixedMesh(), model);
    const std::vector<topolib::StlShell*> held(model.shells().begin(), model.shells().end());
    std::vector<std::pair<size_t, size_t>> sizes;
    for (auto* shell : held) {
        shell->area = 123.0;
        sizes.emplace_back(shell->primaryTriangles.size(), shell->reversedTriangles.size());
    }
    topolib::StlVertex* corner[3] = {model.vertices()[0], model.vertices()[5], model.vertices()[9]};
    ASSERT_NE(model.addTriangle(corner[0], corner[1], corner[2]), nullptr);
    const uint32_t valid = model.triangleCount();
    bytes = writeEntry(model);
    EXPECT_EQ(loadU32(bytes.data() + 256), valid);
    ASSERT_EQ(model.shells().size(), held.size());
    for (size_t i = 0; i < held.size(); ++i) {
        EXPECT_EQ(model.shells()[i], held[i]);
        EXPECT_EQ(held[i]->area, 123.0);
        EXPECT_EQ(sizes[i], std::make_pair(held[i]->primaryTriangles.size(), held[i]->reversedTriangles.size()));
    }
    topolib::StlObject again;
    ASSERT_EQ(readEntry(bytes, again), kSuccess);
    EXPECT_EQ(again.triangleCount(), valid);
    EXPECT_EQ(again.shells().size(), held.size() + 1);
}

TEST(VGeo, truncatedEntriesFailAtEveryCut) {
    topolib::StlObject mesh;
    buildMesh(mixedMesh(), mesh);
    const std::string bytes = writeEntry(mesh);
    QTemporaryDir dir;
    const QString path = dir.filePath("cut.vsg");
    for (int sixteenth = 0; sixteenth < 16; ++sixteenth) {
        const std::string cut = bytes.substr(0, bytes.size() * sixteenth / 16);
        topolib::StlObject fromMemory;
        EXPECT_EQ(readEntry(cut, fromMemory), kFailure) << sixteenth;
        // A plain file reports its end only after a read runs past it.
        ASSERT_TRUE(writeFile(path.toStdString(), cut));
        topolib::StlObject fromFile;
        VGeoFileHandling reader;
        reader.setTarget(&fromFile);
        EXPECT_EQ(reader.readFile(path.toStdWString()), kFailure) << sixteenth;
    }
    // Cut inside the last edge record.
    topolib::StlObject back;
    EXPECT_EQ(readEntry(bytes.substr(0, bytes.size() - 1), back), kFailure);
}

TEST(VGeo, forgedCountsAndIndicesFail) {
    topolib::StlObject mesh;
    buildMesh(cube(), mesh);
    const std::string good = writeEntry(mesh);
    const size_t vAt = 540, sAt = 544 + 8 * 12 + 256;
    const size_t pAt = sAt + 4 + 11, firstIndexAt = pAt + 4;
    const uint32_t primary = loadU32(good.data() + pAt);
    const size_t rAt = pAt + 4 + 12 * primary;
    const size_t eAt = rAt + 4 + 12 * loadU32(good.data() + rAt) + 256;
    auto with = [&good](size_t at, uint32_t value) {
        std::string s = good;
        storeU32(&s[at], value);
        return s;
    };
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"huge vertex count", with(vAt, 0xffffffffu)},
        {"vertex count one too many", with(vAt, 9)},
        {"too many shells", with(sAt, 1000001)},
        {"shell count beyond the data", with(sAt, 999999)},
        {"huge primary count", with(pAt, 0x40000000u)},
        {"triangle index equal to V", with(firstIndexAt, 8)},
        {"triangle index huge", with(firstIndexAt + 8, 0xffffffffu)},
        {"triangle with a repeated vertex", with(firstIndexAt, loadU32(good.data() + firstIndexAt + 4))},
        {"huge edge count", with(eAt, 0xfffffff0u)},
        {"edge index out of range", with(eAt + 4, 8)},
        {"empty", std::string()},
        {"padding only", std::string(256, '\0')},
    };
    for (const auto& c : cases) {
        topolib::StlObject back;
        EXPECT_EQ(readEntry(c.bytes, back), kFailure) << c.what;
    }
}

// A stream that claims far more bytes than it holds, as a forged zip header
// does: the read fails at the first count the data cannot back, whatever the
// claimed length, and a whole entry under a too long claim fails at its end.
// It is a damaged entry also where the address space cannot hold the claimed
// length (a limited or crowded process), not a lack of memory.
TEST(VGeo, streamClaimingMoreBytesThanItHoldsFails) {
    class Claiming : public MemoryStream {
    public:
        Claiming(std::string bytes, int64_t claim) : MemoryStream(std::move(bytes)), claim_(claim) {}
        int64_t size() override { return claim_; }

    private:
        int64_t claim_;
    };
    topolib::StlObject mesh;
    buildMesh(cube(), mesh);
    const std::string good = writeEntry(mesh);
    std::string forged = good;
    storeU32(&forged[540], 0x10000000u); // vertex count far beyond the data
    // 0 when both entries read as damaged under the claim, else which did not.
    auto damagedUnder = [&](int64_t claim) {
        VGeoFileHandling reader;
        Claiming in(good, claim);
        topolib::StlObject back;
        reader.setTarget(&back);
        if (int r = reader.readStream(&in); r != kFailure)
            return 10 + r;
        Claiming forgedIn(forged, claim);
        topolib::StlObject none;
        reader.setTarget(&none);
        if (reader.readStream(&forgedIn) != kFailure || !none.vertices().empty())
            return 2;
        return 0;
    };
    for (const int64_t claim : {int64_t(good.size()) + 1, int64_t(3) << 30, int64_t(1) << 40})
        EXPECT_EQ(damagedUnder(claim), 0) << claim;
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    const pid_t child = fork();
    if (child == 0) {
        const uint64_t limit = platform::mappedBytes() + (uint64_t(64) << 20);
        const rlimit tight{rlim_t(limit), rlim_t(limit)};
        _exit(setrlimit(RLIMIT_AS, &tight) == 0 ? damagedUnder(int64_t(1) << 40) : 100);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the whole entry, 2: the forged count, 100: no limit";
#endif
}

TEST(VGeo, badShellKeepsOnlyTheShellsBeforeIt) {
    topolib::StlObject mesh;
    buildMesh(mixedMesh(), mesh);
    ASSERT_EQ(mesh.shells().size(), 2u);
    std::string bytes = writeEntry(mesh);
    const uint32_t v = loadU32(bytes.data() + 540);
    const size_t sAt = 544 + size_t(v) * 12 + 256;
    const size_t p0At = sAt + 4 + 11;
    const size_t r0At = p0At + 4 + 12 * size_t(loadU32(bytes.data() + p0At));
    const size_t shell1At = r0At + 4 + 12 * size_t(loadU32(bytes.data() + r0At));
    storeU32(&bytes[shell1At + 15 + 4], v); // second index of the second shell's first triangle
    topolib::StlObject back;
    EXPECT_EQ(readEntry(bytes, back), kFailure);
    EXPECT_EQ(back.shells().size(), 1u);
    // Every vertex lists only triangles of the kept shell.
    for (const topolib::StlVertex* vertex : back.vertices())
        for (uint32_t i = 0; i < vertex->triangleCount(); ++i)
            EXPECT_EQ(vertex->triangle(i)->shell, back.shells().front());
}

// The hollow byte of a shell (an inner shell made by hollowing) is the third
// spare byte of its record: it comes back, an entry from an older writer (zero
// there) reads as shells without it, and the other spare bytes stay ignored.
TEST(VGeo, hollowByteOfAShellIsKeptInItsRecordsSpareBytes) {
    topolib::StlObject mesh;
    buildMesh(mixedMesh(), mesh);
    ASSERT_EQ(mesh.shells().size(), 2u);
    mesh.shells()[1]->spare = 1;
    std::string bytes = writeEntry(mesh);
    const uint32_t v = loadU32(bytes.data() + 540);
    const size_t shell0At = 544 + size_t(v) * 12 + 256 + 4;
    const size_t p0At = shell0At + 11;
    const size_t r0At = p0At + 4 + 12 * size_t(loadU32(bytes.data() + p0At));
    const size_t shell1At = r0At + 4 + 12 * size_t(loadU32(bytes.data() + r0At));
    EXPECT_EQ(bytes.substr(shell0At, 3), std::string(3, '\0'));
    EXPECT_EQ(bytes.substr(shell1At, 3), std::string("\0\0\1", 3));

    const struct {
        const char* what;
        char spare[3];
        uint8_t hollow;
    } cases[] = {
        {"as written", {0, 0, 1}, 1},
        {"older writer", {0, 0, 0}, 0},
        {"other spare bytes", {7, 9, 0}, 0},
    };
    for (const auto& c : cases) {
        std::string entry = bytes;
        entry.replace(shell1At, 3, c.spare, 3);
        topolib::StlObject back;
        ASSERT_EQ(readEntry(entry, back), kSuccess) << c.what;
        ASSERT_EQ(back.shells().size(), 2u) << c.what;
        EXPECT_EQ(back.shells()[0]->spare, 0) << c.what;
        EXPECT_EQ(back.shells()[1]->spare, c.hollow) << c.what;
        expectSameMesh(mesh, back);
    }
}

// An entry with three vertices, `emptyShells` shell records without triangles
// and, when withTriangle, one last shell holding the facet (0, 1, 2); no edges.
std::string entryWithEmptyShells(uint32_t emptyShells, bool withTriangle) {
    std::string bytes(256, '\0');
    auto u32 = [&bytes](uint32_t v) {
        char b[4];
        storeU32(b, v);
        bytes.append(b, 4);
    };
    auto f32 = [&u32](float f) {
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        u32(bits);
    };
    u32(withTriangle ? 1 : 0);
    bytes.append(24, '\0'); // box
    bytes.append(256, '\0');
    // Vertices only with the triangle that uses them.
    u32(withTriangle ? 3 : 0);
    if (withTriangle)
        for (const float p : {0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 1.f, 0.f})
            f32(p);
    bytes.append(256, '\0');
    u32(emptyShells + (withTriangle ? 1 : 0));
    bytes.reserve(bytes.size() + size_t(emptyShells) * 19 + 300);
    for (uint32_t s = 0; s < emptyShells; ++s) {
        bytes.append(11, '\0');
        u32(0);
        u32(0);
    }
    if (withTriangle) {
        bytes.append(3, '\0');
        f32(0.5f);
        f32(0.f);
        u32(1);
        u32(0);
        u32(1);
        u32(2);
        u32(0);
    }
    bytes.append(256, '\0');
    u32(0);
    return bytes;
}

// Shell records without triangles are read and passed over: they hold nothing,
// and a million of them (19 bytes each in the entry) must not cost gigabytes.
TEST(VGeo, shellRecordsWithoutTrianglesAreSkippedCheaply) {
    const struct {
        uint32_t emptyShells;
        bool withTriangle;
        uint32_t shells, triangles;
    } cases[] = {
        {1000, false, 0, 0},
        {1000000, false, 0, 0},
        {999999, true, 1, 1}, // the most shell records an entry may hold
        {0, true, 1, 1},
    };
    for (const auto& c : cases) {
        topolib::StlObject back;
        EXPECT_EQ(readEntry(entryWithEmptyShells(c.emptyShells, c.withTriangle), back), kSuccess)
            << c.emptyShells;
        EXPECT_EQ(back.shells().size(), c.shells) << c.emptyShells;
        EXPECT_EQ(back.triangleCount(), c.triangles) << c.emptyShells;
        // The facet's sides are linked to new edges when the triangle array is rebuilt.
        EXPECT_EQ(back.edges().size(), c.withTriangle ? 3u : 0u);
        if (c.withTriangle && back.shells().size() == 1) {
            const auto* shell = back.shells().front();
            EXPECT_EQ(shell->triangleCount, 1u);
            EXPECT_FLOAT_EQ(static_cast<float>(shell->area), 0.5f);
            EXPECT_EQ(back.triangles().front()->shell, shell);
        }
    }
}

TEST(VGeo, storedBoxIsNotTrustedAndNonFiniteVerticesAreRefused) {
    topolib::StlObject mesh;
    buildMesh(cube(), mesh);
    const std::string good = writeEntry(mesh);
    // Header: 256 zero bytes, T, six f32 box corners; then 256 zero bytes, V
    // and the vertices from byte 544.
    const size_t boxAt = 260, vertexAt = 544;
    auto withFloat = [&good](size_t at, float value) {
        std::string s = good;
        std::memcpy(&s[at], &value, 4);
        return s;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        const char* what;
        std::string bytes;
        bool read;
    } cases[] = {
        {"NaN box corner", withFloat(boxAt, nan), true},
        {"infinite box corner", withFloat(boxAt + 20, -inf), true},
        {"wrong finite box", withFloat(boxAt + 12, 1e6f), true},
        {"infinite vertex x", withFloat(vertexAt, inf), false},
        {"NaN vertex z", withFloat(vertexAt + 12 * 5 + 8, nan), false},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        const QString path = dir.filePath("case.vsg");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(c.bytes.data(), qint64(c.bytes.size())), qint64(c.bytes.size()));
        file.close();
        topolib::StlObject back;
        VGeoFileHandling reader;
        reader.setTarget(&back);
        reader.setFileName(path.toStdWString());
        if (!c.read) {
            EXPECT_EQ(reader.load(), kFailure) << c.what;
            EXPECT_EQ(reader.lastFailure(), ReadFailure::NotFinite) << c.what;
            continue;
        }
        ASSERT_EQ(reader.load(), kSuccess) << c.what;
        // The box is the vertices' extent, and the octrees over it are built.
        for (int k = 0; k < 3; ++k) {
            double lo = back.vertices().front()->pos[k], hi = lo;
            for (const topolib::StlVertex* v : back.vertices()) {
                lo = std::min(lo, v->pos[k]);
                hi = std::max(hi, v->pos[k]);
            }
            EXPECT_EQ(back.bboxMin()[k], lo) << c.what;
            EXPECT_EQ(back.bboxMax()[k], hi) << c.what;
        }
        EXPECT_EQ(back.buildVertexOctree(true), 0) << c.what;
        EXPECT_EQ(back.buildTriangleOctree(), 0) << c.what;
    }

    // The octree itself refuses items and cubes that are not finite instead of
    // dividing for ever.
    topolib::MeshOctree tree;
    const double origin[3] = {-1, -1, -1};
    topolib::StlTriangle* t = mesh.triangles().front();
    EXPECT_EQ(tree.insertTriangle(0.5, origin, 64.0, t), topolib::MeshOctree::InsertResult::Stored);
    EXPECT_EQ(tree.insertTriangle(0.5, origin, double(inf), t), topolib::MeshOctree::InsertResult::Outside);
    EXPECT_EQ(tree.insertTriangle(0.5, origin, double(nan), t), topolib::MeshOctree::InsertResult::Outside);
    topolib::StlVertex* corner = t->vertices[1];
    for (const double bad : {double(nan), double(inf)}) {
        const topolib::Vector3D kept = corner->pos;
        corner->pos.y = bad;
        EXPECT_EQ(tree.insertTriangle(0.5, origin, 64.0, t), topolib::MeshOctree::InsertResult::Outside) << bad;
        EXPECT_EQ(tree.insertVertex(0.5, origin, 64.0, corner), topolib::MeshOctree::InsertResult::Outside) << bad;
        corner->pos = kept;
    }
}

// A mesh big enough for the reader's threads, with a third of its edge
// records repeated (end points swapped): the links come out as a brute-force
// search defines them. Every vertex lists the triangles that use it in array
// order; every edge lists the live triangles that have its end points as a
// side, in its first end's list order; every side holds the last edge of the
// array between its ends. The hook sees the triangle array and the box final
// and no edge yet, and the entry written back from the result is unchanged.
// The same for a cone whose tip and base are hubs of 20,000 blades, whose
// edges are linked hub by hub.
static void expectLinksOfABruteForceSearch(const std::vector<Facet>& facets) {
    topolib::StlObject mesh;
    buildMesh(facets, mesh);
    const std::string plain = writeEntry(mesh);
    const uint32_t v = loadU32(plain.data() + 540);
    const size_t edgeCountAt = plain.size() - 4 - 8 * size_t(mesh.edges().size());
    ASSERT_EQ(loadU32(plain.data() + edgeCountAt), mesh.edges().size());
    std::string bytes = plain;
    uint32_t edges = static_cast<uint32_t>(mesh.edges().size());
    for (uint32_t i = 0; i < mesh.edges().size(); i += 3) {
        const char* r = plain.data() + edgeCountAt + 4 + 8 * size_t(i);
        char swapped[8];
        std::memcpy(swapped, r + 4, 4);
        std::memcpy(swapped + 4, r, 4);
        bytes.append(swapped, 8);
        ++edges;
    }
    storeU32(&bytes[edgeCountAt], edges);
    ASSERT_GT(edges, 1u << 16);

    topolib::StlObject back;
    MemoryStream in(bytes);
    VGeoFileHandling reader;
    reader.setTarget(&back);
    int hookCalls = 0;
    reader.onTrianglesReady([&] {
        ++hookCalls;
        EXPECT_EQ(back.triangleCount(), mesh.triangleCount());
        EXPECT_EQ(back.edges().size(), 0u);
        EXPECT_EQ(back.vertices().size(), v);
        for (int k = 0; k < 3; ++k)
            EXPECT_FLOAT_EQ(float(back.bboxMax()[k]), float(mesh.bboxMax()[k]));
    });
    ASSERT_EQ(reader.readStream(&in), kSuccess);
    EXPECT_EQ(hookCalls, 1);
    ASSERT_EQ(back.edges().size(), edges);

    auto side = [](const topolib::StlVertex* x, const topolib::StlVertex* y) {
        return std::make_pair(std::min(x->index, y->index), std::max(x->index, y->index));
    };
    std::map<std::pair<int32_t, int32_t>, uint32_t> lastEdge;
    for (const topolib::StlEdge* e : back.edges())
        lastEdge[side(e->vertex(0), e->vertex(1))] = e->index;
    std::vector<std::vector<const topolib::StlTriangle*>> users(v);
    for (const topolib::StlTriangle* t : back.triangles()) {
        ASSERT_EQ(t, back.triangles()[size_t(t->id)]);
        for (int k = 0; k < 3; ++k) {
            users[size_t(t->vertices[k]->index)].push_back(t);
            ASSERT_TRUE(t->edges[k]);
            EXPECT_EQ(t->edges[k]->index, lastEdge.at(side(t->vertices[k], t->vertices[(k + 1) % 3])));
        }
    }
    for (const topolib::StlVertex* vertex : back.vertices())
        EXPECT_TRUE(std::equal(vertex->begin(), vertex->end(), users[size_t(vertex->index)].begin(),
                               users[size_t(vertex->index)].end()));
    // The triangles with a side a-b in a's list order, for every vertex a.
    std::map<std::pair<int32_t, int32_t>, std::vector<const topolib::StlTriangle*>> aroundFirstEnd;
    for (const topolib::StlVertex* a : back.vertices())
        for (const topolib::StlTriangle* t : *a)
            for (int k = 0; k < 3; ++k) {
                const topolib::StlVertex* s0 = t->vertices[k];
                const topolib::StlVertex* s1 = t->vertices[(k + 1) % 3];
                if (s0 == a || s1 == a)
                    aroundFirstEnd[{a->index, (s0 == a ? s1 : s0)->index}].push_back(t);
            }
    for (const topolib::StlEdge* e : back.edges()) {
        const auto found = aroundFirstEnd.find({e->vertex(0)->index, e->vertex(1)->index});
        const std::vector<const topolib::StlTriangle*> none;
        const auto& expected = found == aroundFirstEnd.end() ? none : found->second;
        EXPECT_TRUE(std::equal(e->begin(), e->end(), expected.begin(), expected.end())) << e->index;
    }
    EXPECT_EQ(writeEntry(back), bytes);
}

TEST(VGeo, bigEntryWithRepeatedEdgesLinksAsABruteForceSearch) {
    expectLinksOfABruteForceSearch(torus(220, 160));
    expectLinksOfABruteForceSearch(meshfixtures::toStlFacets(meshfixtures::cone(20000, 10.0, 10.0)));
}
