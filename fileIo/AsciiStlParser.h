#pragma once
// Token-level parser of ASCII STL. It only recognises the facet grammar and
// yields facets as twelve floats (normal, then three corners); building a mesh
// from them is the caller's work.
//
// Keywords ignore case. A solid is "solid" with a name (the words on its
// line), facets, and "endsolid" with a name; further solids may follow. A
// facet is "facet normal" n n n "outer loop", three times "vertex" x y z,
// "endloop" "endfacet", and counts only once complete. A facet after
// "endsolid" without a "solid" of its own is taken as opening one. Anything
// else ends the parse where it stands: a misspelt or missing keyword, data
// that ends inside a facet or before the last "endsolid". Facets before it
// stay valid, and stop() tells where and why. A number must be a plain
// decimal float ("-1.5e+3", ".5", "7."; "nan" and "inf" stand for the values
// they name); a corner coordinate that is anything else ("0,5", "0x1p3",
// "12abc", or a token longer than kMaxToken) ends the parse with an error
// naming its line, unless the data ends right after it (a number cut short
// is a cut facet). A facet normal that is not a number is only counted
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
    // Tokens longer than this are kept to their first kMaxToken characters
    // and the rest is skipped: a name word is skipped whole, a keyword that
    // long matches none, and a number that long is refused (it would read as
    // another value).
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
    // Where the grammar broke, or the data ended inside a facet or before the
    // last "endsolid"; "" when the parse reached the end of the data after
    // the last "endsolid" (or failed with error()). "Line 9: \"outr\" where
    // \"outer\" belongs." Quoted tokens show at most 32 bytes, control bytes
    // as \xNN.
    const std::string& stop() const { return stop_; }
    // The stop is the end of the data: the file was cut short (inside a
    // facet, a keyword or a number, or before the last "endsolid").
    bool dataEnded() const { return dataEnded_; }
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
    // nextToken where the token or the white space before it reaches the
    // buffer's end, or the token is longer than kMaxToken.
    bool nextTokenAcrossRefills(std::string_view& token);
    bool nextNumber(float* value);
    // A component of a facet normal; one that is not a number reads as 0 and
    // sets `bad`.
    bool nextNormalComponent(float* value, bool& bad);
    // Reads the next token and checks it is `keyword` (lower case); notes a
    // grammar break in stop_ otherwise.
    bool expectKeyword(std::string_view keyword);
    // nextToken inside a facet: the data ending there is noted in stop_.
    bool nextTokenInFacet(std::string_view& token);
    // Reads up to and including the next "facet normal", through the ends
    // and starts of solids; false (with stop_ set when the grammar broke or
    // the data ended inside a solid) when there is none.
    bool findFacet();
    bool refill();
    // Nothing follows the last token read.
    bool atDataEnd();
    // The data ends right after token, which begins keyword (lower case).
    bool cutShort(std::string_view token, std::string_view keyword);
    // Note in stop_ that the data ends inside the current facet, or before
    // the current solid's "endsolid".
    void noteFacetCut();
    void noteSolidCut();

    std::istream& in_;
    std::unique_ptr<char[]> buffer_;
    size_t pos_ = 0;
    size_t end_ = 0;
    bool eof_ = false;
    // Line of the last token (1 for the first line).
    size_t line_ = 1;
    size_t tokenLine_ = 1;
    // Line of the last "solid" or "endsolid": the words after it there are
    // the solid's name, until a facet begins.
    size_t nameLine_ = 0;
    // Between "solid" and "endsolid".
    bool inSolid_ = false;
    // The last token was longer than kMaxToken (token_ holds its start).
    bool tokenCut_ = false;
    bool dataEnded_ = false;
    // Line of the current facet's "facet".
    size_t facetLine_ = 0;
    std::string error_;
    std::string stop_;
    size_t badNormals_ = 0;
    std::string firstBadNormal_;
    char token_[kMaxToken];
};

} // namespace fileIo
