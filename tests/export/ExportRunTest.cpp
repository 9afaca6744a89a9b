// Whole export runs: the real slicer on generated scenes, and stand-in
// slicers for every way a run can fail.
#include "ExportFixtures.h"

#include "app/Log.h"
#include "app/Settings.h"
#include "export/GcodeOutput.h"
#include "export/ExportStl.h"
#include "export/XyCalibrationProfile.h"
#include "scene/ObjectEx.h"
#ifdef VELAR_HAVE_LCM
#include "src/Features/lcm/HollowContext.h"
#endif
#include "scene/ObjectTable.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cmath>
#include <cstring>
#include <limits>

using namespace exporttest;
using gcodeexport::GcodeExportRequest;

namespace {

class ExportRun : public ::testing::Test {
protected:
    void SetUp() override {
        ObjectTable::instance()->deleteAllObjects();
        ASSERT_TRUE(m_dir.isValid());
        m_appDir = makeApplicationDir(m_appTemp);
        m_target = QDir(m_dir.path()).filePath("part.gcode");
    }
    void TearDown() override { ObjectTable::instance()->deleteAllObjects(); }

    GcodeExportRequest request(const QString& calibration = QString()) const {
        GcodeExportRequest r;
        r.applicationDir = m_appDir;
        r.profilePath = gcodeexport::GcodeExport::profilePath(m_appDir, "Tarn_0.05mm");
        if (!calibration.isEmpty())
            r.calibrationPath = gcodeexport::GcodeExport::calibrationPath(m_appDir, calibration);
        r.targetPath = m_target;
        return r;
    }

    QTemporaryDir m_dir;
    QTemporaryDir m_appTemp;
    QString m_appDir;
    QString m_target;
};

int countLines(const QByteArray& text, const QByteArray& prefix) {
    int n = 0;
    for (const QByteArray& line : text.split('\n'))
        n += line.startsWith(prefix) ? 1 : 0;
    return n;
}

// The extruding moves of one layer, from the previous position to the move's.
struct Segment {
    double x0, y0, x1, y1;
};

std::vector<Segment> extrusionSegments(const QByteArray& gcode, int layer) {
    std::vector<Segment> out;
    const QByteArray mark = ";LAYER:" + QByteArray::number(layer);
    bool inside = false;
    double x = 0, y = 0;
    for (const QByteArray& line : gcode.split('\n')) {
        if (line.startsWith(";LAYER:")) {
            inside = line.trimmed() == mark;
            continue;
        }
        if (!(line.startsWith("G0 ") || line.startsWith("G1 ")))
            continue;
        double nx = x, ny = y;
        bool extrudes = false;
        for (const QByteArray& word : line.split(' ')) {
            if (word.startsWith('X'))
                nx = word.mid(1).toDouble();
            else if (word.startsWith('Y'))
                ny = word.mid(1).toDouble();
            else if (word.startsWith('E'))
                extrudes = true;
        }
        if (inside && extrudes)
            out.push_back({x, y, nx, ny});
        x = nx;
        y = ny;
    }
    return out;
}

// Whether a move passes through the open square (lo, hi)^2 (sampled finely).
bool anyCrosses(const std::vector<Segment>& moves, double lo, double hi) {
    for (const Segment& m : moves)
        for (int k = 0; k <= 100; ++k) {
            const double px = m.x0 + (m.x1 - m.x0) * k / 100.0, py = m.y0 + (m.y1 - m.y0) * k / 100.0;
            if (px > lo && px < hi && py > lo && py < hi)
                return true;
        }
    return false;
}

// Extents of the X and Y coordinates of the extruding moves of one layer.
struct Extent {
    double minX = std::numeric_limits<double>::max(), maxX = -std::numeric_limits<double>::max();
    double minY = std::numeric_limits<double>::max(), maxY = -std::numeric_limits<double>::max();
};

Extent layerExtent(const QByteArray& gcode, int layer) {
    Extent e;
    for (const Segment& m : extrusionSegments(gcode, layer))
        for (const double x : {m.x0, m.x1}) {
            e.minX = std::min(e.minX, x);
            e.maxX = std::max(e.maxX, x);
        }
    for (const Segment& m : extrusionSegments(gcode, layer))
        for (const double y : {m.y0, m.y1}) {
            e.minY = std::min(e.minY, y);
            e.maxY = std::max(e.maxY, y);
        }
    return e;
}

// A stand-in slicer: records its "-l" path in <dir>/stlpath (and a copy of the
// STL in <dir>/copy.stl), then runs body with $out the "-o" path.
QString fakeSlicer(const QTemporaryDir& dir, const QString& name, const QString& body) {
    const QString path = QDir(dir.path()).filePath(name);
    writeScript(path, QStringLiteral("out=''; stl=''; prev=''\n"
                                     "for a in \"$@\"; do\n"
                                     "  case \"$prev\" in -o) out=\"$a\";; -l) stl=\"$a\";; esac\n"
                                     "  prev=\"$a\"\n"
                                     "done\n"
                                     "printf '%s' \"$stl\" > '%1/stlpath'\n"
                                     "cp \"$stl\" '%1/copy.stl'\n"
                                     "printf '%s\\n' \"$@\" > '%1/args'\n")
                              .arg(dir.path()) +
                          body);
    return path;
}

const char* const kGoodOutput =
    "printf ';FLAVOR:Marlin\\n;LAYER_COUNT:2\\n;LAYER:0\\nG1 X1\\n;LAYER:1\\n;End of Gcode\\n' > \"$out\"\n";

} // namespace

TEST_F(ExportRun, twentyMillimetreCubeAtLayerHeight005Gives400Layers) {
    SlicerOverride slicer{QString()}; // the installed CuraEngine
    addSceneObject(meshfixtures::cube(20.0, {55.0, 55.0, 0.0}));
    const std::vector<double> before = sceneVertexCoordinates();

    const RunRecord run = runExport(request());
    ASSERT_TRUE(run.started);
    ASSERT_TRUE(run.result.success) << run.result.message.toStdString();
    const QByteArray gcode = readFileBytes(m_target);
    EXPECT_EQ(countLines(gcode, ";LAYER_COUNT:400"), 1);
    EXPECT_EQ(countLines(gcode, ";LAYER:"), 400);
    EXPECT_EQ(run.result.layerCount, 400);
    EXPECT_EQ(run.result.bytes, gcode.size());
    EXPECT_TRUE(run.messages.isEmpty());
    // The header holds the slicer's figures, not the placeholders it writes
    // before slicing: a print time, the material and the bounds of the cube.
    const QList<QByteArray> lines = gcode.left(1000).split('\n');
    const auto headerValue = [&](const QByteArray& key) {
        for (const QByteArray& line : lines)
            if (line.startsWith(key))
                return line.mid(key.size()).trimmed();
        return QByteArray();
    };
    EXPECT_GT(headerValue(";TIME:").toInt(), 0);
    EXPECT_NE(headerValue(";TIME:"), "6666");
    EXPECT_NE(headerValue(";Filament used:"), "0m");
    EXPECT_NEAR(headerValue(";MAXZ:").toDouble(), 20.0, 0.1);
    EXPECT_LT(headerValue(";MINX:").toDouble(), headerValue(";MAXX:").toDouble());
    // The G-code's coordinates are the platform's: the cube's walls lie
    // within its 55..75 footprint.
    const Extent e = layerExtent(gcode, 200);
    EXPECT_GT(e.minX, 55.0);
    EXPECT_LT(e.maxX, 75.0);
    ASSERT_FALSE(run.progress.empty());
    EXPECT_EQ(run.progress.front(), -2);
    EXPECT_EQ(run.progress.back(), -1);
    EXPECT_EQ(sceneVertexCoordinates(), before);
}

// A cone standing on its base: the slicer counts the slices up to its tip but
// writes no layer for the top ones, too thin to print. The G-code is whole
// and replaces the previous file (it was taken for one cut short by a full disk).
TEST_F(ExportRun, coneWhoseTipLayersAreEmptyGivesAWholeGcode) {
    SlicerOverride slicer{QString()}; // the installed CuraEngine
    addSceneObject(meshfixtures::cone(64, 10.0, 10.0, {65.0, 65.0, 0.0}));
    writeTextFile(m_target, "previous G-code\n");
    const RunRecord run = runExport(request());
    ASSERT_TRUE(run.started);
    ASSERT_TRUE(run.result.success) << run.result.message.toStdString();
    const QByteArray gcode = readFileBytes(m_target);
    EXPECT_EQ(countLines(gcode, ";LAYER_COUNT:200"), 1);
    const int layers = countLines(gcode, ";LAYER:");
    EXPECT_LT(layers, 200);
    EXPECT_GT(layers, 150);
    EXPECT_TRUE(gcode.trimmed().endsWith(";End of Gcode"));
    EXPECT_TRUE(run.messages.isEmpty());
}

TEST_F(ExportRun, calibrationMovesTheSlicedCoordinatesAndLeavesTheSceneBitIdentical) {
    SlicerOverride slicer{QString()};
    // Corrections: X -0.1 at the origin (x = 65), -0.2 from x = 115 on; Y -0.3.
    writeTextFile(m_appDir + "/calib/measured.vcp", "Xval 0 0.1\nXval 50 50.2\nYval 0 0.3\n");
    addSceneObject(meshfixtures::cube(20.0, {65.0, 65.0, 0.0}));
    std::vector<double> before = sceneVertexCoordinates();
    std::vector<uint64_t> beforeBits(before.size());
    std::memcpy(beforeBits.data(), before.data(), before.size() * sizeof(double));

    const RunRecord plain = runExport(request());
    ASSERT_TRUE(plain.result.success) << plain.result.message.toStdString();
    const QByteArray plainGcode = readFileBytes(m_target);
    const RunRecord corrected = runExport(request("measured"));
    ASSERT_TRUE(corrected.result.success) << corrected.result.message.toStdString();
    EXPECT_TRUE(corrected.messages.isEmpty());
    const QByteArray correctedGcode = readFileBytes(m_target);

    // The cube's left side at x = 65 moves by -0.1; its right side at x = 85
    // (0.4 of the way to the second entry) by 0.6 x -0.1 + 0.4 x -0.2 = -0.14.
    const Extent a = layerExtent(plainGcode, 200);
    const Extent b = layerExtent(correctedGcode, 200);
    EXPECT_NEAR(b.minX - a.minX, -0.1, 0.0015);
    EXPECT_NEAR(b.maxX - a.maxX, -0.14, 0.0015);
    EXPECT_NEAR(b.minY - a.minY, -0.3, 0.0015);
    EXPECT_NEAR(b.maxY - a.maxY, -0.3, 0.0015);

    const std::vector<double> after = sceneVertexCoordinates();
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(std::memcmp(after.data(), beforeBits.data(), after.size() * sizeof(double)), 0);
}

TEST_F(ExportRun, hollowCubeKeepsItsCavityInTheMiddleLayer) {
    SlicerOverride slicer{QString()};
    // A 20 mm cube with a closed 10 mm cavity (its faces turned inwards).
    addSceneObject(
        meshfixtures::concatenated(meshfixtures::cube(20.0, {55.0, 55.0, 0.0}),
                                   meshfixtures::flipped(meshfixtures::cube(10.0, {60.0, 60.0, 5.0}))));
    const RunRecord run = runExport(request());
    ASSERT_TRUE(run.result.success) << run.result.message.toStdString();

    // In layer 200 (z = 10) no extruding move crosses the cavity, and the
    // cavity's outline is printed: one move along each of its four sides,
    // half a line width into the material.
    const std::vector<Segment> moves = extrusionSegments(readFileBytes(m_target), 200);
    EXPECT_FALSE(anyCrosses(moves, 60.5, 69.5));
    int outline = 0;
    for (const Segment& m : moves) {
        const bool alongX = m.y0 == m.y1 && (std::fabs(m.y0 - 59.8) < 0.05 || std::fabs(m.y0 - 70.2) < 0.05);
        const bool alongY = m.x0 == m.x1 && (std::fabs(m.x0 - 59.8) < 0.05 || std::fabs(m.x0 - 70.2) < 0.05);
        outline += (alongX && std::fabs(m.x1 - m.x0) > 9.0) || (alongY && std::fabs(m.y1 - m.y0) > 9.0);
    }
    EXPECT_EQ(outline, 4);
}

#ifdef VELAR_HAVE_LCM
TEST_F(ExportRun, hollowedDrainedCubeKeepsItsCavity) {
    SlicerOverride slicer{QString()};
    ObjectEx* cube = addSceneObject(meshfixtures::cube(20.0, {55.0, 55.0, 0.0}));
    cube->rebuildOctree();
    // A 2 mm wall and a drain hole down through the middle of the top.
    lcm::HollowContext hollow;
    hollow.setModel(cube);
    ASSERT_EQ(hollow.createPreview(2.0, 50), lcm::HollowStatus::Ok) << hollow.message();
    const double at[3] = {65.0, 65.0, 20.0}, into[3] = {0.0, 0.0, -1.0};
    hollow.setPendingHole(at, into, 1.5, 2.0, 0.0);
    hollow.commitPendingHole();
    ASSERT_EQ(hollow.applyHollow(), lcm::HollowStatus::Ok) << hollow.message();
    ASSERT_GT(hollow.innerTriangleCount(), 0u);
    ASSERT_TRUE(hollow.warnings().empty()); // the hole reached the cavity

    const RunRecord run = runExport(request());
    ASSERT_TRUE(run.result.success) << run.result.message.toStdString();
    const QByteArray gcode = readFileBytes(m_target);
    EXPECT_EQ(run.result.layerCount, 400);
    // In the middle layer nothing is printed inside the cavity (about 57..73),
    // but the wall around it is: moves run within 1 mm of the cavity's sides.
    const std::vector<Segment> moves = extrusionSegments(gcode, 200);
    EXPECT_FALSE(anyCrosses(moves, 58.5, 71.5));
    int nearCavity = 0;
    for (const Segment& m : moves)
        nearCavity +=
            (std::fabs(m.x0 - 57.0) < 1.0 && std::fabs(m.x1 - 57.0) < 1.0 && std::fabs(m.y1 - m.y0) > 8.0);
    EXPECT_GE(nearCavity, 1);
    // Near the top, where the drain hole runs, the hole is left open.
    EXPECT_FALSE(anyCrosses(extrusionSegments(gcode, 390), 64.5, 65.5));
}
#endif

TEST(ExportStl, calibrationCorrectsObjectCornersButNotSupports) {
    QTemporaryDir dir;
    const auto object = meshfixtures::buildMesh(meshfixtures::box({30.0, 10.0, 5.0}, {60.0, 64.0, 0.0}));
    const auto support = meshfixtures::buildMesh(meshfixtures::box({2.0, 2.0, 3.0}, {70.0, 66.0, -3.0}));
    gcodeexport::XyCalibration cal;
    QString error;
    ASSERT_TRUE(gcodeexport::XyCalibration::parse("Xval 0 0.1 Xval 50 50.2 Yval -10 -9.5 Yval 10 10.5", &cal,
                                                  &error));
    auto live = [](const topolib::StlObject& m) {
        std::vector<const topolib::StlTriangle*> out;
        for (const topolib::StlTriangle* t : m.triangles())
            if (!t->isDeleted())
                out.push_back(t);
        return out;
    };
    const std::vector<gcodeexport::ExportPiece> pieces{{live(*object), true}, {live(*support), false}};
    const QString path = QDir(dir.path()).filePath("stl2gcode.stl");
    ASSERT_TRUE(gcodeexport::writeExportStl(path, pieces, &cal, &error)) << error.toStdString();

    const QByteArray bytes = readFileBytes(path);
    const size_t n = pieces[0].triangles.size() + pieces[1].triangles.size();
    ASSERT_EQ(static_cast<size_t>(bytes.size()), 84 + 50 * n);
    uint32_t count = 0;
    std::memcpy(&count, bytes.constData() + 80, 4);
    EXPECT_EQ(count, n);
    size_t facet = 0;
    for (const gcodeexport::ExportPiece& piece : pieces) {
        for (const topolib::StlTriangle* t : piece.triangles) {
            const char* record = bytes.constData() + 84 + 50 * facet++;
            float stored[12];
            std::memcpy(stored, record, sizeof stored);
            double corners[3][3];
            for (int k = 0; k < 3; ++k) {
                if (piece.calibrated)
                    cal.correct(t->vertices[k]->pos.data(), corners[k]);
                else
                    std::memcpy(corners[k], t->vertices[k]->pos.data(), sizeof corners[k]);
                for (int c = 0; c < 3; ++c)
                    EXPECT_EQ(stored[3 + 3 * k + c], static_cast<float>(corners[k][c]));
            }
            // The normal of the written corners (all faces are axis-aligned
            // boxes, and a shear in XY keeps the side normals horizontal).
            const double u[3] = {corners[1][0] - corners[0][0], corners[1][1] - corners[0][1],
                                 corners[1][2] - corners[0][2]};
            const double v[3] = {corners[2][0] - corners[0][0], corners[2][1] - corners[0][1],
                                 corners[2][2] - corners[0][2]};
            const double cz = u[0] * v[1] - u[1] * v[0];
            if (std::fabs(cz) > 1e-9) {
                EXPECT_NEAR(stored[2], cz > 0 ? 1.0f : -1.0f, 1e-6f);
            }
        }
    }
    // Nothing to write is refused.
    EXPECT_FALSE(gcodeexport::writeExportStl(path, {}, nullptr, &error));
}

TEST_F(ExportRun, failedSlicerRunsEndWithAMessageAndKeepThePreviousGcode) {
    QTemporaryDir scripts;
    struct Case {
        const char* name;
        QString body;        // empty: the slicer is missing
        const char* message; // must appear in the message
    };
    const Case cases[] = {
        // These two leave a G-code file that looks complete: only the exit
        // tells them from a success.
        {"exit1",
         QString(kGoodOutput) +
             "echo '[ERROR] first problem' >&2\necho '[ERROR] fatal: printer unknown' >&2\nexit 1\n",
         "fatal: printer unknown"},
        {"crash", QString(kGoodOutput) + "echo 'slicing layer 3' >&2\nkill -SEGV $$\n", "slicing layer 3"},
        {"emptyResult",
         "echo \"[ERROR] Trying to retrieve setting with no value given: 'foo'\" >&2\n"
         "printf ';FLAVOR:Marlin\\n;TIME:0\\n' > \"$out\"\nexit 0\n",
         "no value given: 'foo'"},
        {"missing", QString(), "could not be started"},
    };
    addSceneObject(meshfixtures::cube(10.0, {60.0, 60.0, 0.0}));
    const std::vector<double> before = sceneVertexCoordinates();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(QDir(scripts.path()).filePath("stlpath"));
        writeTextFile(m_target, "previous G-code\n");
        const QString program = c.body.isEmpty() ? QDir(scripts.path()).filePath("no/such/CuraEngine")
                                                 : fakeSlicer(scripts, c.name, c.body);
        SlicerOverride slicer(program);
        const RunRecord run = runExport(request());
        ASSERT_TRUE(run.started);
        EXPECT_FALSE(run.result.success);
        ASSERT_EQ(run.messages.size(), 1);
        EXPECT_TRUE(run.messages[0].contains(c.message)) << run.messages[0].toStdString();
        EXPECT_EQ(run.messages[0], run.result.message);
        EXPECT_EQ(readFileBytes(m_target), QByteArray("previous G-code\n"));
        // The progress dialog was opened and closed again.
        ASSERT_FALSE(run.progress.empty());
        EXPECT_EQ(run.progress.back(), -1);
        // Nothing is left beside the target, and the work folder is gone.
        EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"part.gcode"});
        const QByteArray stlPath = readFileBytes(QDir(scripts.path()).filePath("stlpath"));
        if (!c.body.isEmpty()) {
            ASSERT_FALSE(stlPath.isEmpty());
            EXPECT_TRUE(stlPath.endsWith("/stl2gcode.stl"));
            EXPECT_FALSE(QFileInfo::exists(QFileInfo(QString::fromLocal8Bit(stlPath)).path()));
        }
    }
    EXPECT_EQ(sceneVertexCoordinates(), before);
}

// Runs that end without a whole G-code file, or do not end by themselves: the
// previous file stays, and only a run the user stopped ends without a message.
TEST_F(ExportRun, unfinishedRunsKeepThePreviousGcode) {
    QTemporaryDir scripts;
    // A file cut short as on a full disk: the header counts 800 layers.
    const QString cutShort = "{ printf ';FLAVOR:Marlin\\n;LAYER_COUNT:800\\n'\n"
                             "  i=0; while [ $i -lt 252 ]; do printf ';LAYER:%d\\nG1 X1\\n' $i; i=$((i+1)); done\n"
                             "} > \"$out\"\n";
    // Two megabytes of layers, written past a one-megabyte file size limit
    // that the stand-in lifts for itself but that the export's copy keeps.
    const QString big = "ulimit -f unlimited\n"
                        "{ printf ';LAYER_COUNT:20000\\n'\n"
                        "  i=0; while [ $i -lt 20000 ]; do\n"
                        "    printf ';LAYER:%d\\nG1 X1.000000000 Y1.000000000 Z1.000000000 E1.00000000000000000000000000000000\\n' $i\n"
                        "    i=$((i+1)); done\n"
                        "  printf ';End of Gcode\\n'; } > \"$out\"\n";
    struct Case {
        const char* name;
        QString body;
        const char* message; // empty: the run ends quietly
        std::function<void(gcodeexport::GcodeExport&)> setUp;
        bool limitFileSize;
    };
    const Case cases[] = {
        {"cutShort", cutShort, "252 of 800 layers", {}, false},
        {"noEndMark", "printf ';LAYER_COUNT:1\\n;LAYER:0\\nG1 X1\\n' > \"$out\"\n", "no end mark", {}, false},
        // One of the announced layers, with the end mark.
        {"oneLayerOfMany", "printf ';LAYER_COUNT:260\\n;LAYER:0\\nG1 X1\\n;End of Gcode\\n' > \"$out\"\n",
         "1 of 260 layers", {}, false},
        // A layer left out in the middle although the slicer said nothing of it.
        {"gap",
         "echo '[WARNING] Layer 3 is empty (or it has empty extruder plans).' >&2\n"
         "printf ';LAYER_COUNT:4\\n;LAYER:0\\n;LAYER:2\\n;End of Gcode\\n' > \"$out\"\n",
         "2 of 4 layers", {}, false},
        {"silent", QString("exec sleep 30\n"), "wrote nothing",
         [](gcodeexport::GcodeExport& e) { e.slicer()->setSilenceLimit(300); }, false},
        {"cancelled", QString("exec sleep 30\n"), "",
         [](gcodeexport::GcodeExport& e) { QTimer::singleShot(300, &e, [&e] { e.cancel(); }); }, false},
        {"fileSizeLimit", big, "could not be saved", {}, true},
        // Outputs that are no file to copy: a link to a device without end, a
        // pipe that no one writes, a link even to a whole G-code file.
        {"linkToDevZero", "ln -s /dev/zero \"$out\"\n", "not a regular file", {}, false},
        {"pipe", "mkfifo \"$out\"\n", "not a regular file", {}, false},
        {"linkToGcode", QString(kGoodOutput).replace("\"$out\"", "\"$out.real\"") + "ln -s \"$out.real\" \"$out\"\n",
         "not a regular file", {}, false},
    };
    addSceneObject(meshfixtures::cube(10.0, {60.0, 60.0, 0.0}));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeTextFile(m_target, "previous G-code\n");
        SlicerOverride slicer(fakeSlicer(scripts, c.name, c.body));
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        if (c.limitFileSize) {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit small = old;
            small.rlim_cur = 1 << 20;
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        QElapsedTimer clock;
        clock.start();
        const RunRecord run = runExport(request(), false, c.setUp);
        setrlimit(RLIMIT_FSIZE, &old);
        ASSERT_TRUE(run.started);
        EXPECT_FALSE(run.result.success);
        EXPECT_LT(clock.elapsed(), 20000) << "the stand-in was not stopped";
        EXPECT_TRUE(run.result.message.contains(c.message)) << run.result.message.toStdString();
        EXPECT_EQ(run.messages.size(), *c.message ? 1 : 0);
        EXPECT_EQ(readFileBytes(m_target), QByteArray("previous G-code\n"));
        EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"part.gcode"});
        ASSERT_FALSE(run.progress.empty());
        EXPECT_EQ(run.progress.back(), -1);
    }
}

// A slicer that floods its output without line ends, then prints the header
// it computed and the empty layers at the top: the run succeeds, the header
// reaches the file, and the run log keeps only the first and last part of
// the flood, saying how much it left out.
TEST_F(ExportRun, floodedOutputAndTheSlicedHeader) {
    QTemporaryDir scripts;
    const QString body = "head -c 5000000 /dev/zero | tr '\\0' x >&2\n"
                         "printf '\\nGcode header after slicing:\\n;TIME:42\\n;MINX:1.5\\nEnd of gcode header.\\n' >&2\n"
                         "echo '[WARNING] Layer 1 is empty (or it has empty extruder plans).' >&2\n"
                         "echo '[WARNING] Layer 2 is empty (or it has empty extruder plans).' >&2\n"
                         "printf ';FLAVOR:Marlin\\n;TIME:6666\\n;MINX:2.14748e+06\\n;Layer height: 0.05\\n\\n"
                         ";LAYER_COUNT:3\\n;LAYER:0\\n;TIME:7\\n;End of Gcode\\n' > \"$out\"\n";
    SlicerOverride slicer(fakeSlicer(scripts, "flood", body));
    addSceneObject(meshfixtures::cube(10.0, {60.0, 60.0, 0.0}));
    const QString logPath = QDir(m_dir.path()).filePath("run.log");
    logStream().close();
    ASSERT_TRUE(logOpen(logPath.toStdString()));
    const RunRecord run = runExport(request());
    logStream().close();
    ASSERT_TRUE(run.result.success) << run.result.message.toStdString();
    // Only the header block is rewritten; a later line with the same key stays.
    EXPECT_EQ(readFileBytes(m_target), QByteArray(";FLAVOR:Marlin\n;TIME:42\n;MINX:1.5\n;Layer height: 0.05\n\n"
                                                  ";LAYER_COUNT:3\n;LAYER:0\n;TIME:7\n;End of Gcode\n"));
    EXPECT_EQ(run.result.bytes, readFileBytes(m_target).size());
    const QByteArray log = readFileBytes(logPath);
    EXPECT_LT(log.size(), 2 * 1024 * 1024);
    EXPECT_TRUE(log.contains("of the slicer's output left out")) << log.right(2000).toStdString();
    EXPECT_TRUE(log.contains("End of gcode header."));
}

// A G-code line far longer than any real one is copied, not read whole: the
// copy's memory does not grow with it.
TEST_F(ExportRun, anEndlessGcodeLineIsCopiedInBoundedMemory) {
    const QString source = QDir(m_dir.path()).filePath("long.gcode");
    constexpr int kLineMegabytes = 96;
    {
        QFile f(source);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(";LAYER_COUNT:1\n;LAYER:0\nG1 X");
        const QByteArray piece(1 << 20, '1');
        for (int k = 0; k < kLineMegabytes; ++k)
            ASSERT_EQ(f.write(piece), piece.size());
        f.write("\n;End of Gcode\n");
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        gcodeexport::GcodeFileCheck check;
        QString error;
        const bool ok = gcodeexport::installGcode(source, m_target, {}, {}, &check, &error);
        getrusage(RUSAGE_SELF, &after);
        const long grownKb = after.ru_maxrss - before.ru_maxrss;
        _exit(!ok ? 2 : grownKb > 16 * 1024 ? 3 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2: the copy failed, 3: its memory grew with the line";
    EXPECT_EQ(QFileInfo(m_target).size(), QFileInfo(source).size());
}

// A named pipe as the target is refused for what it is, and nothing is
// written into it.
TEST_F(ExportRun, aPipeAsTheTargetIsRefusedAsNotARegularFile) {
    QTemporaryDir scripts;
    SlicerOverride slicer(fakeSlicer(scripts, "good", kGoodOutput));
    addSceneObject(meshfixtures::cube(10.0, {60.0, 60.0, 0.0}));
    ASSERT_EQ(::mkfifo(QFile::encodeName(m_target).constData(), 0644), 0);
    const RunRecord run = runExport(request());
    EXPECT_FALSE(run.result.success);
    EXPECT_TRUE(run.result.message.contains("not a regular file")) << run.result.message.toStdString();
    EXPECT_TRUE(QFileInfo(m_target).exists() && !QFileInfo(m_target).isFile());
}

TEST_F(ExportRun, successfulRunReplacesTheTargetAndReportsProgressTicks) {
    QTemporaryDir scripts;
    SlicerOverride slicer(fakeSlicer(scripts, "slow", QStringLiteral("sleep 0.6\n") + kGoodOutput));
    addSceneObject(meshfixtures::cube(10.0, {60.0, 60.0, 0.0}));
    writeTextFile(m_target, "previous G-code\n");
    // A custom printer: the slicer's machine is its build volume.
    setGeneralInt(GENERAL_CURRENT_PRINTER, 2);
    setGeneralDouble(GENERAL_CURRENT_BUILD_SIZE_X, 150.5);
    setGeneralDouble(GENERAL_CURRENT_BUILD_SIZE_Y, 99.0);
    setGeneralDouble(GENERAL_CURRENT_BUILD_SIZE_Z, 320.0);
    const RunRecord run = runExport(request());
    ASSERT_TRUE(run.result.success) << run.result.message.toStdString();
    EXPECT_TRUE(readFileBytes(m_target).startsWith(";FLAVOR:Marlin\n;LAYER_COUNT:2\n"));
    EXPECT_EQ(run.result.layerCount, 2);
    EXPECT_GE(run.result.totalMs, run.result.slicerMs);
    EXPECT_GE(run.result.slicerMs, 500);

    // The argument list as the slicer received it.
    const QStringList args = QString::fromLocal8Bit(readFileBytes(scripts.path() + "/args")).split('\n');
    const QString work = QFileInfo(QString::fromLocal8Bit(readFileBytes(scripts.path() + "/stlpath"))).path();
    ASSERT_GE(args.size(), 5);
    EXPECT_EQ(args.mid(0, 4),
              (QStringList{"slice", "-v", "-j", m_appDir + "/definitions/norvane_tarn.def.json"}));
    // printf ends every argument with a line feed: the last part is empty.
    EXPECT_EQ(args.mid(args.size() - 6, 5),
              (QStringList{"-o", work + "/stl2gcode.gcode", "-e0", "-l", work + "/stl2gcode.stl"}));
    EXPECT_TRUE(args.contains("layer_height=0.05"));
    // After the profile's settings, so that the printer has the last word.
    const int machine = args.indexOf("machine_width=150.5");
    EXPECT_GT(machine, args.indexOf("layer_height=0.05"));
    EXPECT_EQ(args.mid(machine - 1, 6), (QStringList{"-s", "machine_width=150.5", "-s", "machine_depth=99",
                                                     "-s", "machine_height=320"}));
    EXPECT_FALSE(QFileInfo::exists(work));

    // -2 (text "Exporting to gcode..."), 0, 1 after the STL, then ticks from
    // 2 upwards, never beyond 97, and -1 at the end.
    ASSERT_GE(run.progress.size(), 5u);
    EXPECT_EQ((std::vector<int>(run.progress.begin(), run.progress.begin() + 3)),
              (std::vector<int>{-2, 0, 1}));
    EXPECT_EQ(run.progress[3], 2);
    for (size_t i = 4; i + 1 < run.progress.size(); ++i) {
        EXPECT_EQ(run.progress[i], run.progress[i - 1] + 1);
        EXPECT_LE(run.progress[i], 97);
    }
    EXPECT_EQ(run.progress.back(), -1);
}

TEST_F(ExportRun, refusedRunsWriteAndStartNothing) {
    QTemporaryDir scripts;
    SlicerOverride slicer(fakeSlicer(scripts, "good", kGoodOutput));
    writeTextFile(m_target, "previous G-code\n");

    // An empty scene.
    RunRecord run = runExport(request());
    EXPECT_FALSE(run.started);
    ASSERT_EQ(run.messages.size(), 1);
    EXPECT_EQ(run.messages[0].toStdString(), "There is no object to export.");

    // A profile that cannot be read, with objects present.
    addSceneObject(meshfixtures::cube(10.0, {60.0, 60.0, 0.0}));
    GcodeExportRequest r = request();
    r.profilePath = m_appDir + "/profile/missing.vfg";
    run = runExport(r);
    EXPECT_FALSE(run.started);
    EXPECT_EQ(run.messages.size(), 1);
    EXPECT_TRUE(run.progress.empty());
    EXPECT_FALSE(QFileInfo::exists(scripts.path() + "/stlpath"));
    EXPECT_EQ(readFileBytes(m_target), QByteArray("previous G-code\n"));

    // A folder where the profile should be.
    r.profilePath = m_appDir + "/profile";
    run = runExport(r);
    EXPECT_FALSE(run.started);
    EXPECT_EQ(run.messages.size(), 1);

    // Selected objects only, with none selected.
    ObjectTable::instance()->objectAt(0)->setSelected(false);
    run = runExport(request(), true);
    EXPECT_FALSE(run.started);
    EXPECT_EQ(run.messages.size(), 1);

    // An unusable calibration profile is reported; the export goes on without it.
    writeTextFile(m_appDir + "/calib/broken.vcp", "Xval 0 0.1\n");
    run = runExport(request("broken"));
    EXPECT_TRUE(run.started);
    EXPECT_TRUE(run.result.success);
    ASSERT_EQ(run.messages.size(), 1);
    EXPECT_TRUE(run.messages[0].contains("Yval"));
}
