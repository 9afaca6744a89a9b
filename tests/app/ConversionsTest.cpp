#include "app/Conversions.h"
#include "app/Constants.h"

#include <clocale>
#include <gtest/gtest.h>
#include <locale>
#include <string>

namespace {

// Runs the conversions the way the program meets them on a German desktop:
// the C and C++ locales both use a decimal comma. Restores both afterwards.
class CommaLocaleTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousC = std::setlocale(LC_ALL, nullptr);
        if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
            GTEST_SKIP() << "locale de_DE.UTF-8 is not installed (scripts/install-deps.sh generates it)";
        previousCpp = std::locale::global(std::locale("de_DE.UTF-8"));
        active = true;
    }
    void TearDown() override {
        if (!active)
            return;
        std::locale::global(previousCpp);
        std::setlocale(LC_ALL, previousC.c_str());
    }
    std::string previousC;
    std::locale previousCpp;
    bool active = false;
};

TEST_F(CommaLocaleTest, numbersReadWithADecimalPointWhateverTheLocale) {
    double d = -1;
    EXPECT_TRUE(qstringToDouble("   ", &d));
    EXPECT_EQ(d, 0.0);
    qstringToDouble("2.5", &d);
    EXPECT_EQ(d, 2.5);
    qstringToDouble("2.5mm", &d);
    EXPECT_EQ(d, 2.5);
    qstringToDouble("1234.5", &d);
    EXPECT_EQ(d, 1234.5);
    qstringToDouble("-1.5e-3", &d);
    EXPECT_EQ(d, -1.5e-3);
    EXPECT_FALSE(qstringToDouble("abc", &d));

    float f = -1;
    qstringToFloat("0.25", &f);
    EXPECT_EQ(f, 0.25f);
    int i = -1;
    qstringToInt("1.234", &i); // no digit grouping: reads 1
    EXPECT_EQ(i, 1);
    qstringToInt(" 42", &i);
    EXPECT_EQ(i, 42);
    unsigned int u = 0;
    qstringToUInt("7", &u);
    EXPECT_EQ(u, 7u);
    unsigned short s = 0;
    qstringToUShort("65535", &s);
    EXPECT_EQ(s, 65535);
}

TEST_F(CommaLocaleTest, numbersWriteInCNotationWithSixSignificantDigits) {
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {{0.5, "0.5"},       {2.0, "2"},       {1234567.0, "1.23457e+06"},
                          {0.00001, "1e-05"}, {0.1, "0.1"},     {123456789.0, "1.23457e+08"},
                          {1e-7, "1e-07"},    {-3.25, "-3.25"}, {1234.5, "1234.5"}};
    for (const Case& c : cases)
        EXPECT_EQ(doubleToQString(c.value), QString(c.text)) << c.value;
    EXPECT_EQ(floatToQString(0.5f), "0.5");
    EXPECT_EQ(intToQString(-12345), "-12345");
    EXPECT_EQ(uintToQString(4000000000u), "4000000000");
}

TEST_F(CommaLocaleTest, listsJoinAndSplitWithSemicolons) {
    const int ints[] = {3, 4, 5};
    EXPECT_EQ(joinInts(ints, 3), "3;4;5");
    EXPECT_EQ(joinInts(ints, 1), "3");
    const double doubles[] = {0.5, 2.0, 1234567.0};
    EXPECT_EQ(joinDoubles(doubles, 2), "0.5;2");
    EXPECT_EQ(joinDoubles(doubles, 3), "0.5;2;1.23457e+06");
    const float floats[] = {0.25f, 1.5f};
    EXPECT_EQ(joinFloats(floats, 2), "0.25;1.5");

    double out[3] = {-1, -1, -1};
    EXPECT_EQ(splitToDoubles("1.5;;2;3", out, 3), 3u);
    EXPECT_EQ(out[0], 1.5);
    EXPECT_EQ(out[1], 2.0);
    EXPECT_EQ(out[2], 3.0);

    double untouched[3] = {-1, -1, -1};
    EXPECT_EQ(splitToDoubles("1;2", untouched, 3), 0u);
    EXPECT_EQ(untouched[0], -1);

    double partial[3] = {-1, -1, -1};
    EXPECT_EQ(splitToDoubles("1;x;3", partial, 3), 0u);
    EXPECT_EQ(partial[0], 1.0);
    EXPECT_EQ(partial[1], 0.0);
    EXPECT_EQ(partial[2], -1.0);

    int iout[2] = {0, 0};
    EXPECT_EQ(splitToInts("7;8;9", iout, 2), 2u);
    EXPECT_EQ(iout[0], 7);
    EXPECT_EQ(iout[1], 8);
    float fout[2] = {0, 0};
    EXPECT_EQ(splitToFloats("0.5;2.25", fout, 2), 2u);
    EXPECT_EQ(fout[1], 2.25f);
}

TEST(Conversions, booleansAcceptOnlyTheirExactWords) {
    struct Case {
        const char* text;
        bool ok;
        bool value; // expected output; a refused text leaves the sentinel
    };
    const Case cases[] = {{"true", true, true}, {"1", true, true},      {"false", true, false},
                          {"0", true, false},   {"", true, false},      {"  ", true, false},
                          {"yes", false, true}, {" true", false, true}, {"True", false, true}};
    for (const Case& c : cases) {
        bool out = true; // sentinel
        EXPECT_EQ(qstringToBool(c.text, &out), c.ok) << c.text;
        EXPECT_EQ(out, c.value) << c.text;
    }
    EXPECT_EQ(boolToQString(true), "true");
    EXPECT_EQ(boolToQString(false), "false");
}

TEST(Conversions, wideProgressTextsKeepTheKeepTextMarker) {
    EXPECT_EQ(wstringToQString(std::wstring(1, L'\0')), NUL_STRING);
    EXPECT_EQ(wstringToQString(std::wstring(L"ab\0cd", 5)), "ab");
    EXPECT_EQ(wstringToQString(L"Würfel \u03bc \U0001F600"), QString::fromUtf8("Würfel μ 😀"));
    EXPECT_TRUE(wstringToQString(std::wstring()).isEmpty());
    EXPECT_NE(wstringToQString(std::wstring()), NUL_STRING);
}

} // namespace
