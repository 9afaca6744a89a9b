// The ASCII STL grammar: which texts yield which facets.

#include "fileIo/AsciiStlParser.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

using fileIo::AsciiStlParser;

namespace {

struct Parsed {
    bool header = false;
    std::vector<std::vector<float>> facets;
    std::string error;
    std::string stop;
    size_t badNormals = 0;
};

Parsed parse(const std::string& text) {
    std::istringstream in(text);
    AsciiStlParser parser(in);
    Parsed out;
    out.header = parser.readHeader();
    if (!out.header)
        return out;
    float f[12];
    while (parser.nextFacet(f))
        out.facets.emplace_back(f, f + 12);
    out.error = parser.error();
    out.stop = parser.stop();
    out.badNormals = parser.badNormals();
    return out;
}

const char* kFacet = " facet normal 0 0 1\n  outer loop\n   vertex 0 0 0\n   vertex 1 0 0\n   vertex 0 1 0\n"
                     "  endloop\n endfacet\n";

std::string solid(int facets, const std::string& name = "x") {
    std::string s = "solid " + name + "\n";
    for (int i = 0; i < facets; ++i)
        s += kFacet;
    return s + "endsolid " + name + "\n";
}

} // namespace

TEST(AsciiStlParser, grammarCases) {
    // stop: where a facet broke off (the facets before it are kept), "" when
    // the data ended between facets.
    const struct {
        const char* what;
        std::string text;
        bool header;
        size_t facets;
        std::string stop;
        size_t badNormals;
        std::string error = "";
    } cases[] = {
        {"plain", solid(2), true, 2, "", 0},
        {"several-word name", solid(1, "my part v2 final"), true, 1, "", 0},
        {"name of facet words", solid(1, "outer loop vertex"), true, 1, "", 0},
        {"keywords in capitals", "SOLID a\nFACET NORMAL 0 0 1\nOUTER LOOP\nVERTEX 0 0 0\nVERTEX 1 0 0\n"
                                 "VERTEX 0 1 0\nENDLOOP\nENDFACET\nENDSOLID\n", true, 1, "", 0},
        {"mixed case", "Solid\nfacet Normal 0 0 1 Outer Loop Vertex 0 0 0 vErTeX 1 0 0 vertex 0 1 0 EndLoop EndFacet\n"
                       "EndSolid", true, 1, "", 0},
        {"one line", "solid a facet normal 0 0 1 outer loop vertex 0 0 0 vertex 1 0 0 vertex 0 1 0 endloop endfacet "
                     "endsolid a solid b facet normal 0 0 1 outer loop vertex 0 0 0 vertex 1 0 0 vertex 0 1 0 endloop "
                     "endfacet endsolid b", true, 2, "", 0},
        {"no normal token", "solid a\nendsolid a\n", true, 0, "", 0},
        {"first word not solid", std::string("sold a\n") + kFacet, false, 0, "", 0},
        {"UTF-8 byte order mark", "\xEF\xBB\xBF" + solid(1), true, 1, "", 0},
        {"empty", "", false, 0, "", 0},
        {"misspelt loop keeps earlier facets", solid(2).substr(0, solid(2).size() - 11) +
                                                   "facet normal 0 0 1 outer lop vertex 0 0 0", true, 2,
         "Line 16: \"lop\" where \"loop\" belongs.", 0},
        {"misspelt normal", solid(1) + " facet nromal 0 0 1\n  outer loop\n", true, 1,
         "Line 10: \"nromal\" where \"normal\" belongs.", 0},
        // A facet counts only once its "endfacet" is read, and every
        // keyword around it is checked.
        {"misspelt endloop", solid(2).replace(solid(2).rfind("endloop"), 7, "endlop"), true, 1,
         "Line 14: \"endlop\" where \"endloop\" belongs.", 0},
        {"misspelt endfacet", solid(2).replace(solid(2).rfind("endfacet"), 8, "endfacte"), true, 1,
         "Line 15: \"endfacte\" where \"endfacet\" belongs.", 0},
        {"misspelt facet", solid(2).replace(solid(2).rfind(" facet"), 6, " fact"), true, 1,
         "Line 9: \"fact\" where \"facet\" or \"endsolid\" belongs.", 0},
        {"misspelt endsolid", solid(2).replace(solid(2).rfind("endsolid"), 8, "endsolit"), true, 2,
         "Line 16: \"endsolit\" where \"facet\" or \"endsolid\" belongs.", 0},
        {"second solid opened twice", solid(1) + "solid b\nsolid c\n" + kFacet, true, 1,
         "Line 11: \"solid\" where \"facet\" or \"endsolid\" belongs.", 0},
        {"words after the last solid", solid(1) + "trailing words\n", true, 1,
         "Line 10: \"trailing\" where \"solid\" belongs.", 0},
        {"zero byte in a keyword", solid(2).replace(solid(2).rfind("outer"), 5, std::string("ou\0er", 5)), true, 1,
         "Line 10: \"ou\\x00er\" where \"outer\" belongs.", 0},
        {"cut after the last endfacet", solid(2).substr(0, solid(2).size() - 11), true, 2,
         "The data ends at line 15 before \"endsolid\".", 0},
        {"cut inside endsolid", solid(2).substr(0, solid(2).size() - 6), true, 2,
         "The data ends at line 16 before \"endsolid\".", 0},
        {"cut inside endloop", solid(2).substr(0, solid(2).rfind("endloop") + 4), true, 1,
         "The data ends inside the facet of line 9.", 0},
        {"cut after the last number", solid(2).substr(0, solid(2).rfind("endloop")), true, 1,
         "The data ends inside the facet of line 9.", 0},
        // A number is read whole or not at all.
        {"number of 256 characters", "solid\nfacet normal 0 0 1 outer loop vertex 1." + std::string(250, '0') +
                                         "e+01 0 0 vertex 1 0 0 vertex 0 1 0 endloop endfacet endsolid", true, 1, "", 0},
        {"number of 306 characters", solid(1) + "facet normal 0 0 1 outer loop vertex 1." + std::string(300, '0') +
                                         "e+01 0 0 vertex 1 0 0 vertex 0 1 0 endloop endfacet endsolid", true, 1, "", 0,
         "Line 10: \"1.000000000000000000000000000000...\" is longer than 256 characters; no number is read from it."},
        {"normal of 306 characters", "solid\nfacet normal 1." + std::string(300, '0') + "e+01 0 1 outer loop vertex "
                                     "0 0 0 vertex 1 0 0 vertex 0 1 0 endloop endfacet endsolid", true, 1, "", 1},
        {"truncated in a number", "solid\nfacet normal 0 0 1 outer loop vertex 0 0 0 vertex 1 0", true, 0,
         "The data ends inside the facet of line 2.", 0},
        {"truncated after a keyword", solid(1).substr(0, 60), true, 0, "The data ends inside the facet of line 2.",
         0},
        {"missing outer", "solid\nfacet normal 0 0 1 loop vertex 0 0 0 vertex 1 0 0 vertex 0 1 0", true, 0,
         "Line 2: \"loop\" where \"outer\" belongs.", 0},
        {"normals with decimal commas", "solid\nfacet normal 0,0 0 1 outer loop vertex 0 0 0 vertex 1 0 0 "
                                        "vertex 0 1 0 endloop endfacet\nfacet normal 0 0,5 1,0 outer loop vertex 0 0 0 "
                                        "vertex 1 0 0 vertex 0 1 0 endloop endfacet endsolid",
         true, 2, "", 2},
        {"facets after endsolid", solid(1) + kFacet + "endsolid\n", true, 2, "", 0},
        {"facets after endsolid without their own", solid(1) + kFacet, true, 2,
         "The data ends at line 16 before \"endsolid\".", 0},
        {"three solids", solid(4, "a") + solid(4, "b b") + "\n\n" + solid(4, "c"), true, 12, "", 0},
        {"no trailing newline", "solid\nfacet normal 0 0 1 outer loop vertex 0 0 0 vertex 1 0 0 vertex 0 1 0 endloop "
                                "endfacet endsolid", true, 1, "", 0},
        {"tabs and CRLF", "solid\r\n\tfacet\tnormal 0 0 1\r\n outer loop\r\nvertex 0 0 0\r\nvertex 1 0 0\r\n"
                          "vertex 0 1 0\r\nendloop\r\nendfacet\r\nendsolid\r\n", true, 1, "", 0},
    };
    for (const auto& c : cases) {
        const Parsed p = parse(c.text);
        EXPECT_EQ(p.header, c.header) << c.what;
        EXPECT_EQ(p.facets.size(), c.facets) << c.what;
        EXPECT_EQ(p.stop, c.stop) << c.what;
        EXPECT_EQ(p.badNormals, c.badNormals) << c.what;
        EXPECT_EQ(p.error, c.error) << c.what;
    }
}

TEST(AsciiStlParser, facetValuesComeInFileOrder) {
    const Parsed p = parse("solid\nfacet normal 1 2 3 outer loop vertex 4 5 6 vertex 7 8 9 vertex 10 11 1.25e1 "
                           "endloop endfacet endsolid");
    ASSERT_EQ(p.facets.size(), 1u);
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(p.facets[0][i], float(i + 1));
    EXPECT_EQ(p.facets[0][11], 12.5f);
}

TEST(AsciiStlParser, numbersArePlainDecimalFloatsWhateverTheLocale) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    // A comma-decimal locale, when the machine has one, must not change numbers.
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    const struct {
        const char* text;
        float value;
    } numbers[] = {
        {"1.5", 1.5f}, {"-2.25", -2.25f}, {"+3", 3.0f}, {"1e2", 100.0f}, {"-1.0E-1", -0.1f},
        {".5", 0.5f},  {"1e-400", 0.0f},  {"-0", -0.0f}, {"7.", 7.0f},
    };
    for (const auto& c : numbers) {
        float value = 42.0f;
        EXPECT_TRUE(AsciiStlParser::parseNumber(c.text, &value)) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
    float value = 0.0f;
    EXPECT_TRUE(AsciiStlParser::parseNumber("1e400", &value) && std::isinf(value));
    EXPECT_TRUE(AsciiStlParser::parseNumber("1e39", &value) && std::isinf(value)); // beyond float range
    EXPECT_TRUE(AsciiStlParser::parseNumber("-1e400", &value) && value < 0.0f);
    EXPECT_TRUE(AsciiStlParser::parseNumber("nan", &value) && std::isnan(value));
    EXPECT_TRUE(AsciiStlParser::parseNumber("-inf", &value) && std::isinf(value));
    for (const char* notNumber : {"abc", "", "12abc", "1,5", "0,5", "0x1p3", "0X10", "1e", "1.5.3", "+-1", "--1", "1e+",
                                  "1_000", "\xff"})
        EXPECT_FALSE(AsciiStlParser::parseNumber(notNumber, &value)) << notNumber;
    std::setlocale(LC_NUMERIC, saved.c_str());

    // In a file such a token ends the parse with its line.
    const Parsed p = parse(solid(2) + "facet normal 0 0 1\n outer loop\n  vertex 0 0 0\n  vertex 0,5 0 0\n");
    EXPECT_EQ(p.facets.size(), 2u);
    EXPECT_EQ(p.error, "Line 20: \"0,5\" is not a number.");
    EXPECT_EQ(parse(solid(3)).error, "");
}

TEST(AsciiStlParser, overlongTokensAreCutAndTokensSpanningBufferRefillsSurvive) {
    // A name token far longer than the token limit is skipped as one word.
    std::string text = "solid " + std::string(5000, 'n') + "\n";
    // Pad so that facets straddle a refill boundary of the parser (1 MiB is a multiple of any chunk size).
    text += std::string((1 << 20) - text.size() - 7, ' ');
    for (int i = 0; i < 10; ++i)
        text += kFacet;
    text += "facet normal 0 0 1 outer loop vertex " + std::string(1000, '1') + " 0 0 vertex 1 0 0 vertex 0 1 0";
    const Parsed p = parse(text);
    EXPECT_TRUE(p.header);
    ASSERT_EQ(p.facets.size(), 10u);
    EXPECT_EQ(p.facets[3][3], 0.0f);
    EXPECT_EQ(p.facets[3][6], 1.0f);
    // A number beyond the token limit is refused, not read as its first part.
    EXPECT_EQ(p.error, "Line 72: \"" + std::string(32, '1') + "...\" is longer than 256 characters; no number is "
                       "read from it.");
}
