#pragma once
// Token-level parser of ASCII STL. It only recognises the facet grammar and
// yields facets as twelve floats (normal, then three corners); building a mesh
// from them is the caller's work.
//
// Keywords ignore case; every token other than "normal" between facets is
// skipped (facet, endloop, endfacet, solid, endsolid, words of the solids'
// names), so a file of several solids yields the facets of all of them; only
// a word of a facet's inside ("outer", "loop", "vertex") off a solid's own
// line breaks the grammar there. A facet that breaks the grammar ends the
// parse; facets before it stay valid, and stop() tells where and why. A
// number must be a plain decimal float ("-1.5e+3", ".5", "7."; "nan" and
// "inf" stand for the values they name); a corner coordinate that is
// anything else ("0,5", "0x1p3", "12abc") ends the parse with an error naming
// its line. A facet normal that is not a number is only counted
// (badNormals()): the reader computes normals from the corners. Numbers are
// read locale-free, so a comma-decimal locale cannot change them.

#include <cstddef>
#include <istream>
#include <memory>
#include <string>
#include <string_view>

namespace fileIo {

class AsciiStlParser {
public:
    // Tokens longer than this are cut to their first kMaxToken characters;
    // the rest of such a token is skipped (a number that long is garbage
    // anyway, and a keyword that long matches none).
    static constexpr size_t kMaxToken = 256;

    explicit AsciiStlParser(std::istream& in);

    // Reads the first token; true when it is "solid" (case ignored; after a
    // UTF-8 byte order mark too).
    bool readHeader();
    // The next complete facet in file order. False at the end of the data or
    // at the first facet that breaks the grammar (error() then tells a number
    // that is not one).
    bool nextFacet(float facet[12]);
    // Why the parse failed, "" when it did not: for a corner coordinate that
    // is not a number, "Line 7: \"0,5\" is not a number."
    const std::string& error() const { return error_; }
    // Where a facet broke the grammar, or the data ended inside a facet; ""
    // when the parse reached the end of the data between facets (or failed
    // with error()). "Line 9: \"outr\" where \"outer\" belongs."
    const std::string& stop() const { return stop_; }
    // Facets whose normal has a component that is not a number (read as 0),
    // and the first such component with its line ("Line 3: \"0,5\"").
    size_t badNormals() const { return badNormals_; }
    const std::string& firstBadNormal() const { return firstBadNormal_; }

    // Exposed for tests: the number rule. False when the token is not a plain
    // decimal float (nor "nan" or "inf"); values beyond float range give an
    // infinity of their sign, values below it zero.
    static bool parseNumber(std::string_view token, float* value);

private:
    bool nextToken(std::string_view& token);
    bool nextNumber(float* value);
    // A component of a facet normal; one that is not a number reads as 0 and
    // sets `bad`.
    bool nextNormalComponent(float* value, bool& bad);
    // Reads the next token and checks it is `keyword` (lower case); notes a
    // grammar break in stop_ otherwise.
    bool expectKeyword(std::string_view keyword);
    // nextToken inside a facet: the data ending there is noted in stop_.
    bool nextTokenInFacet(std::string_view& token);
    bool refill();

    std::istream& in_;
    std::unique_ptr<char[]> buffer_;
    size_t pos_ = 0;
    size_t end_ = 0;
    bool eof_ = false;
    // Line of the last token (1 for the first line).
    size_t line_ = 1;
    size_t tokenLine_ = 1;
    // Line of the last "solid" or "endsolid": the words after it there are
    // the solid's name.
    size_t nameLine_ = 0;
    // Line of the current facet's "normal".
    size_t facetLine_ = 0;
    std::string error_;
    std::string stop_;
    size_t badNormals_ = 0;
    std::string firstBadNormal_;
    char token_[kMaxToken];
};

} // namespace fileIo
