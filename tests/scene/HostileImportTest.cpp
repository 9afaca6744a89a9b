// Files a user may hand the importer that are not what they seem, imported
// through the object list as the window does: each either becomes an object
// or is refused with a message that says what was found.
#include "SceneTestHost.h"
#include "tests/fileIo/StlFixtures.h"

#include "fileIo/PathEncoding.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <quazip/quazip.h>
#include <quazip/quazipfile.h>

#include <algorithm>
#include <cstdio>
#include <random>

namespace {

using stlfixtures::Facet;

std::string randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out(n, '\0');
    for (char& c : out)
        c = char(rng() & 0xff);
    return out;
}

// The line (from 1) on which `what` first occurs in `text`.
int lineOf(const std::string& text, const std::string& what) {
    const auto at = text.find(what);
    return int(std::count(text.begin(), text.begin() + std::ptrdiff_t(at), '\n')) + 1;
}

std::string pngBytes() {
    QImage image(64, 64, QImage::Format_RGB32);
    std::mt19937 rng(3);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            image.setPixel(x, y, rng());
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

// A zip archive as a project is: a descriptor and a geometry entry.
std::string zipBytes(const QString& path) {
    {
        QuaZip zip(path);
        zip.setUtf8Enabled(true);
        if (!zip.open(QuaZip::mdCreate))
            return {};
        const std::pair<const char*, std::string> entries[] = {
            {"VlrProDesc.xml", "<?xml version=\"1.0\"?><Project><Object id=\"0\"/></Project>"},
            {"ObjGeo/0.vsg", randomBytes(4000, 9)}};
        for (const auto& entry : entries) {
            QuaZipFile out(&zip);
            if (!out.open(QIODevice::WriteOnly, QuaZipNewInfo(QString::fromLatin1(entry.first))))
                return {};
            out.write(entry.second.data(), qint64(entry.second.size()));
            out.close();
        }
        zip.close();
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().toStdString();
}

std::vector<Facet> translatedCube(float dx) {
    std::vector<Facet> facets = stlfixtures::cube(5.f);
    for (Facet& f : facets)
        for (int c = 3; c < 12; c += 3)
            f[size_t(c)] += dx;
    return facets;
}

TEST_F(SceneTest, hostileFilesImportSoundlyOrAreRefusedWithWhatWasFound) {
    // An executable, an image and an archive renamed; text and random bytes
    // with a huge count; a cut binary file; numbers that are not decimal
    // floats; several solids; facets without area (flat, or in a box of
    // 1e-19 mm); coordinates beyond reach; ASCII text in UTF-16; ASCII files
    // cut inside a facet or with a misspelt keyword; a normal with a comma.
    std::string program;
    {
        QFile self(QCoreApplication::applicationFilePath());
        ASSERT_TRUE(self.open(QIODevice::ReadOnly));
        program = self.read(64 * 1024).toStdString();
    }
    std::string textAndNoise = "This is a note about the part, not a mesh. ";
    textAndNoise.resize(80, '.');
    stlfixtures::putU32(textAndNoise, 0x00ffffffu);
    textAndNoise += randomBytes(52 * 50, 1);

    const auto torus = stlfixtures::torus(20, 10); // 400 facets
    const std::string torn = stlfixtures::binaryStl(torus).substr(0, 84 + 150 * 50 + 17);

    std::string comma = stlfixtures::asciiStl(stlfixtures::cube());
    const std::string zero = "vertex 0.000000000e+00";
    const std::size_t third = comma.find(zero, comma.find(zero, comma.find(zero) + 1) + 1);
    comma.replace(third, zero.size(), "vertex 0,5");
    std::string hex = stlfixtures::asciiStl(stlfixtures::cube());
    hex.replace(hex.rfind(zero), zero.size(), "vertex 0x1p3");

    std::string threeSolids;
    for (int k = 0; k < 3; ++k)
        threeSolids += stlfixtures::asciiStl(translatedCube(10.f * float(k)), "part" + std::to_string(k));

    std::vector<Facet> flat;
    for (int k = 0; k < 6; ++k) {
        const float a[3] = {0, 0, float(k)}, b[3] = {1, 1, float(k)}, c[3] = {3, 3, float(k)};
        flat.push_back(stlfixtures::makeFacet(a, b, c));
    }
    std::vector<Facet> far = stlfixtures::cube();
    far[3][4] = 3e6f;
    far[7][11] = -1e7f;

    // ASCII text saved as UTF-16 (little-endian, with a byte order mark).
    std::string utf16 = "\xFF\xFE";
    for (char c : stlfixtures::asciiStl(stlfixtures::cube()))
        utf16 += std::string{c, '\0'};
    // 34 facets in a box of 1e-19 mm, and a real model of a micrometre.
    std::vector<Facet> tiny(torus.begin(), torus.begin() + 34);
    for (Facet& f : tiny)
        for (std::size_t c = 3; c < 12; ++c)
            f[c] *= 1e-21f;

    // An ASCII file cut inside its facet 150, one with a misspelt keyword in
    // facet 100 (each facet takes seven lines after the solid's), one whose
    // only flaw is a normal written with a decimal comma.
    const std::string torusText = stlfixtures::asciiStl(torus);
    std::size_t facet150 = 0;
    for (int k = 0; k <= 150; ++k)
        facet150 = torusText.find("facet normal", facet150 + 1);
    const std::string cutText = torusText.substr(0, facet150 + 80);
    std::string misspelt = torusText;
    std::size_t loop100 = 0;
    for (int k = 0; k <= 100; ++k)
        loop100 = misspelt.find("outer loop", loop100 + 1);
    misspelt.replace(loop100, 10, "outer lop");
    std::string commaNormal = stlfixtures::asciiStl(stlfixtures::cube());
    const std::size_t normal = commaNormal.find("normal ") + 7;
    commaNormal.replace(commaNormal.find('.', normal), 1, ",");
    const std::string commaToken = commaNormal.substr(normal, commaNormal.find(' ', normal) - normal);

    const QString zipPath = dir.filePath("archive.zip");
    struct Case {
        const char* name;
        std::string bytes;
        uint32_t facets;     // imported facets; 0: refused
        std::string message; // the message shown, "" for none
        bool exact;          // the message whole, or its start
        bool mayBeTaken = false; // or taken as a binary STL whose count disagrees, and told so
    };
    const std::vector<Case> cases = {
        // The test program's own bytes depend on how it was linked: their
        // records may read as too few valid triangles or reach beyond the
        // coordinate limit (refused, for either reason), or as enough valid
        // triangles in a file whose size disagrees with its count (taken, and
        // the user told).
        {"program.stl", program, 0, "Load object fail!\nprogram.stl: ", false, true},
        {"picture.stl", pngBytes(), 0, "Load object fail!\npicture.stl: This is not a binary STL file: it declares ",
         false},
        {"project.stl", zipBytes(zipPath), 0,
         "Load object fail!\nproject.stl: This is not a binary STL file: it declares ", false},
        {"noise.stl", textAndNoise, 0,
         "Load object fail!\nnoise.stl: This is not a binary STL file: it declares 16777215 facets, its size holds "
         "52, and only ",
         false},
        {"torn.stl", torn, 150, "torn.stl: The file declares 400 facets, its size holds 150; 150 facets were read.",
         true},
        {"comma.stl", comma, 0,
         "Load object fail!\ncomma.stl: Line " + std::to_string(lineOf(comma, "0,5")) + ": \"0,5\" is not a number.",
         true},
        {"hex.stl", hex, 0,
         "Load object fail!\nhex.stl: Line " + std::to_string(lineOf(hex, "0x1p3")) + ": \"0x1p3\" is not a number.",
         true},
        {"solids.stl", threeSolids, 36, "", true},
        {"flat.stl", stlfixtures::binaryStl(flat), 0, "Load object fail!\nflat.stl: The file holds no valid facet.",
         true},
        {"flat_ascii.stl", stlfixtures::asciiStl(flat), 0,
         "Load object fail!\nflat_ascii.stl: The file holds no valid facet.", true},
        {"far.stl", stlfixtures::binaryStl(far), 0,
         "Load object fail!\nfar.stl: 2 facets reach beyond the coordinate limit of ±1000000 mm (a corner at -10000000 "
         "mm): the file is refused whole.",
         true},
        {"far_cube.stl", stlfixtures::asciiStl(stlfixtures::cube(2e6f)), 0,
         "Load object fail!\nfar_cube.stl: 12 facets reach beyond the coordinate limit of ±1000000 mm (a corner at "
         "2000000 mm): the file is refused whole.",
         true},
        {"utf16.stl", utf16, 0,
         "Load object fail!\nutf16.stl: The file is ASCII STL saved as UTF-16 text; it can be read when saved as "
         "plain ASCII (or UTF-8) text.",
         true},
        {"tiny.stl", stlfixtures::binaryStl(tiny), 0,
         "Load object fail!\ntiny.stl: The facets enclose no area (", false},
        {"micrometre.stl", stlfixtures::binaryStl(stlfixtures::cube(0.001f)), 12, "", true},
        {"cut.stl", cutText, 150,
         "cut.stl: The data ends inside the facet of line 1052. The 150 facets before it were read.",
         true},
        {"misspelt.stl", misspelt, 100,
         "misspelt.stl: Line 703: \"lop\" where \"loop\" belongs. The 100 facets before it were read; the rest of "
         "the file was left out.",
         true},
        {"comma_normal.stl", commaNormal, 12,
         "comma_normal.stl: 1 facet has a normal that is not a number (Line 2: \"" + commaToken +
             "\"); normals are computed from the corners.",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        commands()->clear();
        table()->deleteAllObjects();
        host->messages.clear();
        ASSERT_FALSE(c.bytes.empty());
        const QString path = dir.filePath(QString::fromLatin1(c.name));
        ASSERT_TRUE(stlfixtures::writeFile(path.toStdString(), c.bytes));
        importAndWait({path});
        if (c.mayBeTaken && table()->count() == 1) {
            ASSERT_EQ(host->messages.size(), 1);
            const std::string shown = host->messages.value(0).toStdString();
            EXPECT_EQ(shown.rfind(std::string(c.name) + ": The file declares ", 0), 0u) << shown;
            continue;
        }
        if (c.message.empty()) {
            EXPECT_TRUE(host->messages.isEmpty()) << host->messages.join(QLatin1Char('|')).toStdString();
        } else {
            EXPECT_EQ(host->messages.size(), 1);
            const std::string shown = host->messages.value(0).toStdString();
            if (c.exact)
                EXPECT_EQ(shown, c.message);
            else
                EXPECT_EQ(shown.substr(0, c.message.size()), c.message) << shown;
        }
        if (c.facets == 0) {
            EXPECT_EQ(table()->count(), 0);
            continue;
        }
        EXPECT_EQ(table()->count(), 1);
        ObjectEx* obj = table()->objectAt(0);
        if (!obj)
            continue;
        obj->waitForJobs();
        EXPECT_EQ(obj->facetCount(), c.facets);
        // Whatever was taken lies within reach and has a sensible size.
        for (int k = 0; k < 3; ++k) {
            EXPECT_LT(std::fabs(obj->bboxMin()[k]), 1e3);
            EXPECT_LT(std::fabs(obj->bboxMax()[k]), 1e3);
        }
        EXPECT_GT(obj->area(), 1e-12);
        EXPECT_LT(obj->area(), 1e6);
    }
}

TEST_F(SceneTest, fileNameThatIsNotUtf8Imports) {
    // The byte 0xff never occurs in UTF-8: the name reaches the scene with
    // that byte escaped and must open as the same file.
    const std::string bytes = dir.path().toStdString() + "/cube\xff.stl";
    ASSERT_TRUE(stlfixtures::writeFile(bytes, stlfixtures::binaryStl(stlfixtures::cube())));
    // Qt's folder listing skips the name, so the temporary folder cannot.
    struct Remove {
        std::string name;
        ~Remove() { std::remove(name.c_str()); }
    } remove{bytes};
    const std::wstring path = fileIo::decodePath(bytes);
    ASSERT_EQ(fileIo::encodePath(path), bytes);
    importAndWait({QString::fromStdWString(path)});
    EXPECT_TRUE(host->messages.isEmpty()) << host->messages.join(QLatin1Char('|')).toStdString();
    ASSERT_EQ(table()->count(), 1);
    EXPECT_EQ(table()->objectAt(0)->facetCount(), 12u);
    EXPECT_EQ(fileIo::encodePath(table()->objectAt(0)->filePath()), bytes);
}

} // namespace
