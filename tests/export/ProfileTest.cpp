// Slicer profiles, the slicer's argument list and calibration profiles, read
// from text as the export reads them from files.
#include "export/GcodeExport.h"
#include "export/SlicerProfile.h"
#include "export/XyCalibrationProfile.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <cmath>

using namespace gcodeexport;

TEST(SlicerProfile, settingLinesAndLayerHeightFollowTheLineRule) {
    struct Case {
        const char* text;
        QStringList lines;
        double layerHeight;
        bool given;
    };
    const Case cases[] = {
        // A note without "=" is skipped; the others pass whole, in order.
        {"layer_height=0.05\nnote line\nspeed=10\n", {"layer_height=0.05", "speed=10"}, 0.05, true},
        // Two equals signs: passed whole, key "a=b".
        {"a=b=c\n", {"a=b=c"}, kDefaultLayerHeight, false},
        // Case and a blank before "=" make other keys.
        {"Layer_height=0.2\nlayer_height =0.2\n",
         {"Layer_height=0.2", "layer_height =0.2"},
         kDefaultLayerHeight,
         false},
        // Blanks around the value are allowed; a later line replaces an earlier.
        {"layer_height= 0.1 \r\nlayer_height=0.025",
         {"layer_height= 0.1 ", "layer_height=0.025"},
         0.025,
         true},
        // Unusable values leave the default.
        {"layer_height=0\n", {"layer_height=0"}, kDefaultLayerHeight, false},
        {"layer_height=abc\n", {"layer_height=abc"}, kDefaultLayerHeight, false},
        {"layer_height=0.1\nlayer_height=\n",
         {"layer_height=0.1", "layer_height="},
         kDefaultLayerHeight,
         false},
        {"layer_height=0,1\n", {"layer_height=0,1"}, kDefaultLayerHeight, false},
        // A lone carriage return does not end a line.
        {"x=1\ry=2\n", {"x=1\ry=2"}, kDefaultLayerHeight, false},
        {"", {}, kDefaultLayerHeight, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const SlicerProfile p = parseSlicerProfile(QString::fromUtf8(c.text));
        EXPECT_EQ(p.settingLines, c.lines);
        EXPECT_DOUBLE_EQ(p.layerHeight, c.layerHeight);
        EXPECT_EQ(p.layerHeightGiven, c.given);
    }
}

TEST(SlicerProfile, argumentListKeepsTheOrderWithTheExtruderNumber) {
    const SlicerProfile p = parseSlicerProfile("layer_height=0.05\n# note\nspeed=10\n");
    const QStringList args = slicerArguments("/app/definitions/norvane_tarn.def.json", p.settingLines,
                                             "/work/out.gcode", "/work/stl2gcode.stl");
    const QStringList expected{"slice",
                               "-v",
                               "-j",
                               "/app/definitions/norvane_tarn.def.json",
                               "-s",
                               "layer_height=0.05",
                               "-s",
                               "speed=10",
                               "-o",
                               "/work/out.gcode",
                               "-e0",
                               "-l",
                               "/work/stl2gcode.stl"};
    EXPECT_EQ(args, expected);
}

TEST(SlicerProfile, progressIntervalIsKeptBetween50And2000Ms) {
    EXPECT_EQ(GcodeExport::progressInterval(100000, 1000), 72);
    EXPECT_EQ(GcodeExport::progressInterval(12, 400), 50);
    EXPECT_EQ(GcodeExport::progressInterval(0, 0), 50);
    EXPECT_EQ(GcodeExport::progressInterval(2000000000, 1000000000), 2000);
}

TEST(XyCalibration, correctionsFollowTheInterpolationExamples) {
    XyCalibration cal;
    QString error;
    // Entries spread over lines and sharing lines; a lower-case keyword and
    // other words are skipped.
    ASSERT_TRUE(
        XyCalibration::parse("Printer test\nXval 0 0.1 xval 1 2\nXval\n50 50.2 Yval 10 10.3", &cal, &error))
        << error.toStdString();
    ASSERT_EQ(cal.xTable().size(), 2u);
    ASSERT_EQ(cal.yTable().size(), 1u);
    struct Case {
        double x, y;   // scene position
        double dx, dy; // expected shift
    };
    const Case cases[] = {
        {65.0, 65.0, -0.1, -0.3},   // on the first entry
        {90.0, 70.0, -0.15, -0.3},  // halfway: the mean of -0.1 and -0.2
        {20.0, 0.0, -0.1, -0.3},    // left of the table: the first correction
        {200.0, 150.0, -0.2, -0.3}, // right of the table: the last correction
        {115.0, 65.0, -0.2, -0.3},  // on the last entry
    };
    for (const Case& c : cases) {
        const double p[3] = {c.x, c.y, 7.5};
        double q[3];
        cal.correct(p, q);
        EXPECT_NEAR(q[0] - c.x, c.dx, 1e-12) << c.x;
        EXPECT_NEAR(q[1] - c.y, c.dy, 1e-12) << c.y;
        EXPECT_EQ(q[2], 7.5);
    }
}

TEST(XyCalibration, unusableProfilesAreRejected) {
    const char* bad[] = {
        "",                     // no entries at all
        "Xval 0 0.1",           // no Y table
        "Yval 0 0.1 Xval 0",    // a keyword without two numbers
        "Xval 0 abc Yval 0 0",  // a word that is not a number
        "Xval 0 0.1x Yval 0 0", // a number with trailing text
        "Xval 0 0,1 Yval 0 0",  // comma decimals are not numbers here
    };
    for (const char* text : bad) {
        XyCalibration cal;
        QString error;
        EXPECT_FALSE(XyCalibration::parse(text, &cal, &error)) << text;
        EXPECT_FALSE(error.isEmpty()) << text;
    }
    XyCalibration cal;
    QString error;
    EXPECT_FALSE(XyCalibration::read("/nonexistent/folder/x.vcp", &cal, &error));
    EXPECT_FALSE(error.isEmpty());
}
