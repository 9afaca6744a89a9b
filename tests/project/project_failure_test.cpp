// A failed save leaves the previous project byte for byte and no temporary
// file; a damaged or hostile archive fails with its code, adds nothing to the
// scene and leaks nothing (the suite also runs under AddressSanitizer with
// leak detection).
#include "ProjectTestSupport.h"
#include "SmallDisk.h"

#include "project/ProjectArchiveReader.h"
#include "project/ProjectArchiveWriter.h"
#include "project/VlrProjectFileHandling.h"

#include "app/MemoryCheck.h"
#include "app/Platform.h"
#include "app/ProgressReport.h"
#include "fileIo/ReplacementFile.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "support/SupportGen.h"
#include "topolib/Matrix4D.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <quazip/quazip.h>
#include <quazip/quazipfile.h>

#include <csignal>
#include <cstring>
#include <limits>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace projecttest;
using meshfixtures::TriangleSoup;

namespace {

const QString kName = QStringLiteral("scene.vpf");

class ProjectFailureTest : public ::testing::Test {
protected:
    void SetUp() override {
        clearScene();
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(kName);
    }
    void TearDown() override { clearScene(); }
    // A scene of n objects (spheres, so that entries are far above a few kB).
    void fillScene(int n) {
        clearScene();
        for (int k = 0; k < n; ++k)
            ObjectTable::instance()->addObject(
                makeObject(meshfixtures::uvSphere(8, 48, 24, {20.0 * k, 0, 10}), QStringLiteral("s%1").arg(k)));
    }
    int save() { return VlrProjectFileHandling::instance()->save(path); }
    int open() {
        clearScene();
        return VlrProjectFileHandling::instance()->open(0, path, ObjectTable::instance());
    }

    QTemporaryDir dir;
    QString path;
};

} // namespace

TEST_F(ProjectFailureTest, failedSavesLeaveTheOldProjectAndNoTemporaryFile) {
    ObjectTable::instance()->addObject(makeObject(meshfixtures::cube(), QStringLiteral("old")));
    ASSERT_EQ(save(), 0);
    EXPECT_EQ(QFile::permissions(path) & (QFile::ReadOther | QFile::ReadGroup | QFile::WriteOwner),
              QFile::ReadOther | QFile::ReadGroup | QFile::WriteOwner)
        << "a new project is a normal document, not a private temporary file";
    const QByteArray before = fileBytes(path);
    ASSERT_FALSE(before.isEmpty());
    fillScene(3);

    // Injected failure: the third entry (second geometry entry) cannot be opened.
    {
        int opened = 0;
        project::ProjectArchiveWriter refusing(path, [&opened](const QString&) { return opened++ < 2; });
        EXPECT_EQ(VlrProjectFileHandling::instance()->save(refusing), 3);
        EXPECT_EQ(opened, 3);
    }
    EXPECT_EQ(fileBytes(path), before);
    EXPECT_TRUE(strayFiles(dir.path(), {kName}).isEmpty()) << strayFiles(dir.path(), {kName}).join(' ').toStdString();

    // A file size limit far below the new archive: writes fail with EFBIG.
    {
        struct sigaction ignore = {}, old = {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &old);
        rlimit saved = {};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = 8192;
        setrlimit(RLIMIT_FSIZE, &small);
        const int r = save();
        setrlimit(RLIMIT_FSIZE, &saved);
        sigaction(SIGXFSZ, &old, nullptr);
        EXPECT_EQ(r, 2);
        EXPECT_EQ(VlrProjectFileHandling::instance()->lastReason(),
                  QStringLiteral("The file would exceed the file size limit."));
    }
    EXPECT_EQ(fileBytes(path), before);
    EXPECT_TRUE(strayFiles(dir.path(), {kName}).isEmpty());

    // A project the user marked read-only is kept, also by root, whom the
    // system would let write it.
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    EXPECT_EQ(save(), 2);
    EXPECT_EQ(VlrProjectFileHandling::instance()->lastReason(),
              QStringLiteral("The file is read-only; it was left as it was."));
    EXPECT_EQ(fileBytes(path), before);
    EXPECT_TRUE(strayFiles(dir.path(), {kName}).isEmpty());
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                                QFile::ReadOther));

    // A folder the user may not write into (as root, in a child that gives up
    // root first, since root writes anywhere).
    ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                                      QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
    int r = -1;
    if (geteuid() == 0) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0)
                _exit(100);
            _exit(save());
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        r = WEXITSTATUS(status);
    } else {
        r = save();
    }
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(r, 2);
    EXPECT_EQ(fileBytes(path), before);
    EXPECT_TRUE(strayFiles(dir.path(), {kName}).isEmpty());

    // And the same scene saves once nothing is in the way.
    EXPECT_EQ(save(), 0);
    EXPECT_NE(fileBytes(path), before);
    EXPECT_TRUE(strayFiles(dir.path(), {kName}).isEmpty());
    EXPECT_EQ(open(), 0);
    EXPECT_EQ(ObjectTable::instance()->count(), 3);
}

// A project that holds objects beyond the coordinate limit (written by an
// earlier version or by another program) opens without them: the others
// come, each with its own supports, and the ones left out are named.
TEST_F(ProjectFailureTest, objectsBeyondTheCoordinateLimitAreLeftOutAndNamed) {
    // A supported plate as this version saves it, then put last in an archive
    // whose objects before it lie beyond the limit.
    ObjectEx* plate = makeObject(meshfixtures::box({20, 20, 2}, {0, 0, 5}), QStringLiteral("plate"));
    ObjectTable::instance()->addObject(plate);
    ASSERT_TRUE(plate->generateSupport());
    auto liveCones = [](const ObjectEx& o) {
        size_t n = 0;
        if (const auto& gen = o.supportGenIfAny())
            for (const support::SupportAreaAbs* area : gen->areas)
                for (const support::AbtShape* s : area->shapes)
                    n += s && s->asCone() && !s->isDeleted();
        return n;
    };
    const size_t cones = liveCones(*plate);
    ASSERT_GT(cones, 0u);
    ASSERT_EQ(save(), 0);
    auto entry = [&](const QString& name) {
        QuaZip zip(path);
        EXPECT_TRUE(zip.open(QuaZip::mdUnzip) && zip.setCurrentFile(name));
        QuaZipFile file(&zip);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    };
    const QByteArray plateGeometry = entry(QStringLiteral("ObjGeo/0.vsg"));
    const QByteArray plateSupports = entry(QStringLiteral("Support/0.xml"));
    const std::vector<std::pair<QString, QByteArray>> inside = {
        {"ObjGeo/0.vsg", geometryEntry(meshfixtures::cube(10.0))},
        {"ObjGeo/3.vsg", plateGeometry},
        {"Support/3.xml", plateSupports}};
    // {objects 1 and 2, objects that open, what the note names}
    const struct {
        const char* what;
        TriangleSoup first, second;
        int opened;
        QStringList named;
    } cases[] = {
        {"beside and far above",
         meshfixtures::box({10, 10, 10}, {0, -1000005, 0}),
         meshfixtures::box({10, 10, 3e6}, {0, 0, -1.5e6}),
         2,
         {"part1", "part2"}},
        {"one beyond", meshfixtures::cube(10.0), meshfixtures::box({10, 10, 10}, {1e6, 0, 0}), 3, {"part2"}},
        {"all inside", meshfixtures::cube(10.0), meshfixtures::box({10, 10, 10}, {0, -999995, 0}), 4, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::pair<QString, QByteArray>> entries = inside;
        entries.insert(entries.begin(), {{"VlrProDesc.xml", descriptorEntry(4)},
                                         {"ObjGeo/1.vsg", geometryEntry(c.first)},
                                         {"ObjGeo/2.vsg", geometryEntry(c.second)}});
        writeArchive(path, entries);
        ASSERT_EQ(open(), 0);
        const VlrProjectFileHandling* files = VlrProjectFileHandling::instance();
        EXPECT_TRUE(files->lastReason().isEmpty());
        ASSERT_EQ(ObjectTable::instance()->count(), c.opened);
        QStringList names;
        for (const ObjectEx* o : ObjectTable::instance()->objects()) {
            names << o->name();
            EXPECT_TRUE(ObjectTable::staysWithinLimit(o, topolib::Matrix4D()));
        }
        EXPECT_EQ(names.first(), QStringLiteral("part0"));
        EXPECT_EQ(names.last(), QStringLiteral("part3"));
        EXPECT_EQ(liveCones(*ObjectTable::instance()->objects().back()), cones)
            << "the plate keeps its supports";
        EXPECT_EQ(files->openNote().isEmpty(), c.named.isEmpty()) << files->openNote().toStdString();
        for (const QString& name : c.named) {
            EXPECT_FALSE(names.contains(name));
            EXPECT_TRUE(files->openNote().contains(QStringLiteral("'%1'").arg(name))) << name.toStdString();
        }
        EXPECT_EQ(files->openNote().contains(QStringLiteral("1000000 mm")), !c.named.isEmpty());
    }
}

TEST_F(ProjectFailureTest, aSaveWritesOnlyWhatItsReaderReadsBack) {
    ObjectTable::instance()->addObject(makeObject(meshfixtures::cube(), QStringLiteral("old")));
    ASSERT_EQ(save(), 0);
    const QByteArray before = fileBytes(path);
    const struct {
        const char* what;
        meshfixtures::TriangleSoup soup;
        double offset[3];
        const char* reason;
    } cases[] = {
        // Placed on the platform its top goes to 6e38, beyond float range.
        {"beyond float range", meshfixtures::box({10, 10, 6e38}, {0, 0, -3e38}), {0, 0, 3e38}, "1000000 mm"},
        // Beyond the one coordinate limit, which STL files cannot cross either.
        {"beyond the limit", meshfixtures::box({10, 10, 10}, {0, 0, 0}), {999995, 0, 0}, "1000000 mm"},
        // Moved to the platform's middle its corners fall together.
        {"too small to keep an area", meshfixtures::cube(1e-30), {60, 60, 0}, "too small"},
    };
    for (const auto& c : cases) {
        fillScene(1);
        ObjectEx* o = makeObject(c.soup, QStringLiteral("odd"));
        o->translate(c.offset);
        ObjectTable::instance()->addObject(o);
        EXPECT_EQ(save(), 7) << c.what;
        EXPECT_TRUE(VlrProjectFileHandling::instance()->lastReason().contains(QLatin1String(c.reason)))
            << c.what << ": " << VlrProjectFileHandling::instance()->lastReason().toStdString();
        EXPECT_EQ(fileBytes(path), before) << c.what;
        EXPECT_TRUE(strayFiles(dir.path(), {kName}).isEmpty());
    }
    EXPECT_EQ(open(), 0);
    EXPECT_EQ(ObjectTable::instance()->count(), 1);
}

TEST_F(ProjectFailureTest, savesFollowLinksNameAFullDiskAndSweepUpWhatKilledSavesLeft) {
    fillScene(2);
    // A symbolic link to the project stays a link; the project it names is replaced.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("real")));
    const QString real = dir.filePath(QStringLiteral("real/target.vpf"));
    ASSERT_TRUE(QFile::link(real, path));
    EXPECT_EQ(save(), 0);
    EXPECT_TRUE(QFileInfo(path).isSymLink());
    EXPECT_TRUE(QFileInfo(real).isFile());
    EXPECT_EQ(open(), 0);
    EXPECT_EQ(ObjectTable::instance()->count(), 2);
    ASSERT_TRUE(QFile::remove(path));

    // Ten saves killed after their geometry entries, each in a process of its own.
    fillScene(3);
    for (int k = 0; k < 10; ++k) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            setProgressCallback([](int value, unsigned, const std::wstring&, const std::wstring&,
                                   const std::wstring&) {
                if (value == 90)
                    raise(SIGKILL);
            });
            save();
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));
    }
    // Each save swept up what the killed one before it had left.
    const QStringList left = strayFiles(dir.path(), {QStringLiteral("real")});
    ASSERT_EQ(left.size(), 1) << left.join(' ').toStdString();
    // What a save still running and another host's save have: never touched.
    const QString running = QStringLiteral(".scene.vpf") + QString::fromStdString(
        fileIo::temporaryPrefix("").substr(1)) + QStringLiteral("abcdef");
    const QString otherHost = QStringLiteral(".scene.vpf.velar-zzzzzzzz-1_1-abcdef");
    for (const QString& name : {running, otherHost}) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    EXPECT_EQ(save(), 0);
    EXPECT_EQ(strayFiles(dir.path(), {kName, QStringLiteral("real")}), QStringList({running, otherHost}));
    QFile::remove(dir.filePath(running));
    QFile::remove(dir.filePath(otherHost));

    // A full disk: the old project stays and the reason is the disk, not the
    // entry that met it.
    const QString small = dir.filePath(QStringLiteral("small"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("small")));
    testsupport::SmallDisk disk(small.toStdString(), 96);
    if (!disk.mounted())
        GTEST_SKIP() << testsupport::SmallDisk::skipReason();
    path = small + QStringLiteral("/") + kName;
    fillScene(1);
    ASSERT_EQ(save(), 0);
    const QByteArray before = fileBytes(path);
    fillScene(12);
    EXPECT_EQ(save(), 2);
    EXPECT_EQ(VlrProjectFileHandling::instance()->lastReason(), QStringLiteral("The disk is full."));
    EXPECT_EQ(fileBytes(path), before);
    EXPECT_TRUE(strayFiles(small, {kName}).isEmpty());
}

TEST_F(ProjectFailureTest, damagedArchivesFailWithTheirCodeAndAddNothing) {
    const QByteArray cube = geometryEntry(meshfixtures::cube());
    const QByteArray sphere = geometryEntry(meshfixtures::uvSphere(5, 64, 32, {0, 0, 5}));
    QByteArray hugeVertices = cube;
    const int vertexCountAt = 256 + 4 + 24 + 256;
    std::memset(hugeVertices.data() + vertexCountAt, 0xFF, 4);
    // A stored box of NaN (the octree would divide it for ever) and a vertex
    // at infinity.
    auto putFloat = [](QByteArray& bytes, int at, float v) {
        char raw[4];
        std::memcpy(raw, &v, 4);
        bytes.replace(at, 4, raw, 4);
    };
    QByteArray nanBox = sphere, infiniteVertex = sphere;
    for (int k = 0; k < 6; ++k)
        putFloat(nanBox, 256 + 4 + 4 * k, std::numeric_limits<float>::quiet_NaN());
    putFloat(infiniteVertex, vertexCountAt + 4 + 12 * 3 + 4, std::numeric_limits<float>::infinity());
    // The last edge record points past the vertices: the fault shows after
    // the triangles were read, when the object's octree build has started.
    QByteArray badLastEdge = sphere;
    std::memset(badLastEdge.data() + badLastEdge.size() - 4, 0xFF, 4);

    QByteArray looseVertices(256 + 4 + 24 + 256, '\0');
    {
        const uint32_t counts[2] = {1, 70000};
        looseVertices.replace(256, 4, reinterpret_cast<const char*>(&counts[0]), 4);
        looseVertices.append(reinterpret_cast<const char*>(&counts[1]), 4);
        looseVertices.append(QByteArray(12 * 70000 + 12 + 256 + 4 + 256 + 4, '\0'));
    }

    struct Case {
        const char* what;
        std::vector<std::pair<QString, QByteArray>> entries;
        int code;
        int objects;
    };
    const QString desc = QStringLiteral("VlrProDesc.xml");
    const Case cases[] = {
        {"valid", {{desc, descriptorEntry(2)}, {"ObjGeo/0.vsg", cube}, {"ObjGeo/1.VSG", sphere}}, 0, 2},
        {"entry name with letters", {{desc, descriptorEntry(1)}, {"ObjGeo/abc.vsg", cube}}, 8, 0},
        {"negative number", {{desc, descriptorEntry(1)}, {"ObjGeo/-1.vsg", cube}}, 8, 0},
        {"duplicate numbers", {{desc, descriptorEntry(2)}, {"ObjGeo/0.vsg", cube}, {"ObjGeo/00.VSG", cube}}, 8, 0},
        {"same name twice", {{desc, descriptorEntry(2)}, {"ObjGeo/1.vsg", cube}, {"ObjGeo/1.vsg", cube}}, 8, 0},
        {"numbers not 0..n-1", {{desc, descriptorEntry(2)}, {"ObjGeo/0.vsg", cube}, {"ObjGeo/5.vsg", cube}}, 8, 0},
        {"record without object", {{desc, descriptorEntry(2)}, {"ObjGeo/0.vsg", cube}}, 8, 0},
        {"object without record", {{desc, descriptorEntry(0)}, {"ObjGeo/0.vsg", cube}}, 8, 0},
        {"missing descriptor", {{"ObjGeo/0.vsg", cube}}, 8, 0},
        {"two descriptors", {{desc, descriptorEntry(1)}, {desc, descriptorEntry(1)}, {"ObjGeo/0.vsg", cube}}, 8, 0},
        {"descriptor without view", {{desc, "<Project><Objects/></Project>"}}, 8, 0},
        {"bad version", {{desc, "<Project><DocVersion>x</DocVersion></Project>"}}, 4, 0},
        {"vertex count 0xFFFFFFFF", {{desc, descriptorEntry(1)}, {"ObjGeo/0.vsg", hugeVertices}}, 6, 0},
        {"box not finite", {{desc, descriptorEntry(1)}, {"ObjGeo/0.vsg", nanBox}}, 0, 1},
        {"vertex not finite", {{desc, descriptorEntry(1)}, {"ObjGeo/0.vsg", infiniteVertex}}, 6, 0},
        {"empty geometry", {{desc, descriptorEntry(1)}, {"ObjGeo/0.vsg", QByteArray()}}, 6, 0},
        {"geometry cut short", {{desc, descriptorEntry(1)}, {"ObjGeo/0.vsg", sphere.left(sphere.size() / 2)}}, 6, 0},
        {"bad last edge record", {{desc, descriptorEntry(1)}, {"ObjGeo/0.vsg", badLastEdge}}, 6, 0},
        {"a bad entry after a good one",
         {{desc, descriptorEntry(2)}, {"ObjGeo/0.vsg", sphere}, {"ObjGeo/1.vsg", cube.left(600)}},
         6,
         0},
        // The descriptor counts each object's triangles.
    {"geometry entry of zeros", {{desc, descriptorEntry(1, {12})}, {"ObjGeo/0.vsg", QByteArray(600, '\0')}}, 6, 0},
    {"more triangles than declared", {{desc, descriptorEntry(1, {11})}, {"ObjGeo/0.vsg", cube}}, 6, 0},
    {"as many as declared", {{desc, descriptorEntry(1, {12})}, {"ObjGeo/0.vsg", cube}}, 0, 1},
    // 70,000 vertices of zeros for one triangle.
    {"vertices beyond three per triangle", {{desc, descriptorEntry(1)}, {"ObjGeo/0.vsg", looseVertices}}, 6, 0},
    // Support entries never fail an open.
        {"hostile support entries",
         {{desc, descriptorEntry(1)},
          {"ObjGeo/0.vsg", cube},
          {"Support/0.xml", "<SupportGen><General BaseType=\"-9\" MaxAngle=\"inf\"/><AreaList><AreaSupport "
                            "AreaType=\"0\" AreaID=\"3\" NumTriangle=\"99\" TriangleMeshIndexs=\"1;-4;77777;2\">"
                            "<ConeSupport ContactPoint=\"5;5;0\" ContactRadius=\"nan\" BottomRadius=\"1e99\"/>"
                            "</AreaSupport><AreaSupport AreaType=\"1\" AreaID=\"2\" VertexID=\"123456\"/><AreaSupp"},
          {"Support/7.xml", "<SupportGen/>"},
          {"Support/x.xml", "garbage"}},
         0,
         1},
    };
    for (const Case& c : cases) {
        writeArchive(path, c.entries);
        EXPECT_EQ(open(), c.code) << c.what;
        EXPECT_EQ(ObjectTable::instance()->count(), c.objects) << c.what;
    }

    // A support entry of an object that does not exist is passed over unread:
    // damage in it (a flipped byte, a CRC error once read) does not show.
    {
        QByteArray xml = "<SupportGen><AreaList>";
        for (int k = 0; k < 200; ++k)
            xml += "<AreaSupport AreaType=\"1\" AreaID=\"" + QByteArray::number(k) + "\" VertexID=\"1\"/>";
        xml += "</AreaList></SupportGen>";
        writeArchive(path, {{desc, descriptorEntry(1)}, {"ObjGeo/0.vsg", cube}, {"Support/3.xml", xml}});
        QByteArray bytes = fileBytes(path);
        const int at = bytes.indexOf("Support/3.xml") + 13 + 40;
        bytes[at] = char(bytes[at] ^ 0x5a);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        EXPECT_EQ(open(), 0) << "support entry of no object";
        EXPECT_EQ(ObjectTable::instance()->count(), 1);
        // The same damage in the object's own entry is read, and ends the open.
        writeArchive(path, {{desc, descriptorEntry(1)}, {"ObjGeo/0.vsg", cube}, {"Support/0.xml", xml}});
        bytes = fileBytes(path);
        const int own = bytes.indexOf("Support/0.xml") + 13 + 40;
        bytes[own] = char(bytes[own] ^ 0x5a);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        EXPECT_EQ(open(), 3) << "damaged support entry of the object";
        EXPECT_EQ(ObjectTable::instance()->count(), 0);
    }

    // The cones' meshes are asked for before anything reaches the scene.
    {
        QByteArray xml = "<SupportGen><AreaList><AreaSupport AreaType=\"1\" AreaID=\"1\" VertexID=\"0\">";
        for (int k = 0; k < 5; ++k)
            xml += "<ConeSupport ContactPoint=\"" + QByteArray::number(k) + ";0;0\"/>";
        xml += "</AreaSupport></AreaList></SupportGen>";
        writeArchive(path, {{desc, descriptorEntry(1)}, {"ObjGeo/0.vsg", cube}, {"Support/0.xml", xml}});
        MemoryCheckFunction kept = MemoryCheckCallback;
        MemoryCheckCallback = [](const uint64_t& bytes) { return bytes < 3 * project::kConeMeshBytes; };
        EXPECT_EQ(open(), 5) << "five cones, room for three";
        EXPECT_EQ(ObjectTable::instance()->count(), 0);
        MemoryCheckCallback = [](const uint64_t& bytes) { return bytes < 6 * project::kConeMeshBytes; };
        EXPECT_EQ(open(), 0) << "five cones, room for six";
        MemoryCheckCallback = kept;
    }

    // So are the bars stored with the cones, as they are read: a few bytes
    // of text each, seventeen cones of 4,000 bars ask for a hundred
    // megabytes and more.
    {
        QByteArray bars = "0;0;1;1;1;2";
        bars = bars.append(";").repeated(1000);
        bars.chop(1);
        QByteArray xml = "<SupportGen><AreaList><AreaSupport AreaType=\"1\" AreaID=\"1\" VertexID=\"0\">";
        for (int k = 0; k < 17; ++k)
            xml += "<ConeSupport ContactPoint=\"" + QByteArray::number(k) +
                   ";0;5\" TipCentre=\"0;0;5\" HeadEnd=\"0;0;4\" TrunkFoot=\"0;0;0\" FootTipCentre=\"0;0;0\" "
                   "FootPoint=\"0;0;0\" FootNormal=\"0;0;1\" FootZ=\"-1\" Links=\"1;2;3;4\" "
                   "LinkCarriers=\"1;1;1;1\" BarCounts=\"1000;1000;1000;1000\" Bars=\"" +
                   bars + ";" + bars + ";" + bars + ";" + bars + "\"/>";
        xml += "</AreaSupport></AreaList></SupportGen>";
        writeArchive(path, {{desc, descriptorEntry(1)}, {"ObjGeo/0.vsg", cube}, {"Support/0.xml", xml}});
        MemoryCheckFunction kept = MemoryCheckCallback;
        MemoryCheckCallback = [](const uint64_t& bytes) { return bytes < (50u << 20); };
        EXPECT_EQ(open(), 5) << "68,000 bars, room for 50 MB";
        EXPECT_EQ(ObjectTable::instance()->count(), 0);
        MemoryCheckCallback = kept;
    }

    // The memory check refusing a geometry entry gives 5.
    writeArchive(path, {{desc, descriptorEntry(1)}, {"ObjGeo/0.vsg", sphere}});
    MemoryCheckFunction saved = MemoryCheckCallback;
    MemoryCheckCallback = [](const uint64_t&) { return false; };
    EXPECT_EQ(open(), 5);
    MemoryCheckCallback = saved;
    EXPECT_EQ(ObjectTable::instance()->count(), 0);

    // Damage to the archive file itself.
    writeArchive(path, {{desc, descriptorEntry(2)}, {"ObjGeo/0.vsg", sphere}, {"ObjGeo/1.vsg", cube}});
    const QByteArray good = fileBytes(path);
    auto rewrite = [&](const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    };
    rewrite(good.left(good.size() / 2));
    EXPECT_EQ(open(), 3) << "truncated archive";
    EXPECT_EQ(ObjectTable::instance()->count(), 0);

    // A flipped byte in the middle of the first geometry entry's compressed data.
    const int nameAt = good.indexOf("ObjGeo/0.vsg");
    ASSERT_GT(nameAt, 30);
    const int header = nameAt - 30;
    ASSERT_EQ(good.mid(header, 4), QByteArray("PK\x03\x04", 4));
    auto u16 = [&](int at) { return int(uchar(good[at])) | int(uchar(good[at + 1])) << 8; };
    const int dataAt = nameAt + u16(header + 26) + u16(header + 28);
    const int compressed = u16(header + 18) | u16(header + 20) << 16;
    ASSERT_GT(compressed, 100);
    for (int offset : {compressed / 2, compressed / 3, compressed - 5}) {
        QByteArray flipped = good;
        flipped[dataAt + offset] = char(flipped[dataAt + offset] ^ 0x10);
        rewrite(flipped);
        EXPECT_EQ(open(), 3) << "flipped byte at " << offset;
        EXPECT_EQ(ObjectTable::instance()->count(), 0);
    }
}

TEST_F(ProjectFailureTest, progressIsWeightedByTrianglesAndAnEmptySceneDividesByNothing) {
    std::vector<int> values;
    setProgressCallback([&values](int value, unsigned, const std::wstring&, const std::wstring&,
                                  const std::wstring&) { values.push_back(value); });
    // An empty scene: only the descriptor, and it opens. Each ends the
    // progress it showed (-1).
    EXPECT_EQ(save(), 0);
    EXPECT_EQ(values, (std::vector<int>{-2, 0, 1, 10, 90, 98, -1}));
    values.clear();
    EXPECT_EQ(open(), 0);
    EXPECT_EQ(values, (std::vector<int>{-2, 0, 90, -1}));

    // 100 and 300 triangles: 80 points shared 20 : 60 on save, 90 shared
    // 22.5 : 67.5 (summed, then truncated) on open.
    ObjectTable::instance()->addObject(makeObject(meshfixtures::uvSphere(3, 10, 6, {0, 0, 5}), QStringLiteral("a")));
    ObjectTable::instance()->addObject(makeObject(meshfixtures::uvSphere(3, 30, 6, {9, 0, 5}), QStringLiteral("b")));
    values.clear();
    EXPECT_EQ(save(), 0);
    EXPECT_EQ(values, (std::vector<int>{-2, 0, 1, 10, 30, 90, 90, 98, -1}));
    values.clear();
    EXPECT_EQ(open(), 0);
    EXPECT_EQ(values, (std::vector<int>{-2, 0, 22, 90, 90, -1}));
    setProgressCallback({});
}

// An object of a few triangles costs what the memory check is asked for it
// (its records, octree and the object around them), and a project of more
// such objects than the memory holds is refused before any of them is made.
TEST_F(ProjectFailureTest, smallObjectsCostNoMoreThanTheMemoryCheckIsAskedFor) {
    constexpr int kObjects = 1000;
    const QByteArray cube = geometryEntry(meshfixtures::cube(1.0));
    std::vector<std::pair<QString, QByteArray>> entries{
        {QStringLiteral("VlrProDesc.xml"), descriptorEntry(kObjects, std::vector<unsigned>(kObjects, 12))}};
    for (int k = 0; k < kObjects; ++k)
        entries.emplace_back(QStringLiteral("ObjGeo/%1.vsg").arg(k), cube);
    writeArchive(path, entries);
    entries.clear();

    // The requests for single objects are the promise for each object.
    MemoryCheckFunction saved = MemoryCheckCallback;
    uint64_t promised = 0;
    installMemoryCheck([&promised](const uint64_t& bytes) {
        promised += bytes < (1u << 20) ? bytes : 0;
        return true;
    });
    const uint64_t before = platform::processPrivateBytes();
    ASSERT_EQ(open(), 0);
    const uint64_t used = platform::processPrivateBytes() - before;
    EXPECT_EQ(ObjectTable::instance()->count(), kObjects);
    // A sanitizer's shadow memory and red zones are not the program's.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LE(used, promised) << used / kObjects << " bytes per object, " << promised / kObjects << " promised";
#else
    static_cast<void>(used);
#endif
    clearScene();

    // Memory for a few objects only: refused before the first is made.
    installMemoryCheck([](const uint64_t& bytes) { return bytes < (1u << 20); });
    int made = 0;
    project::ProjectContents contents;
    EXPECT_EQ(project::readProjectArchive(
                  path, [&made] { return ++made, std::unique_ptr<topolib::StlObject>(new ObjectEx()); }, contents),
              IO_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(made, 0);
    installMemoryCheck(saved);
}
