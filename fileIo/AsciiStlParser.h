#pragma once
// Token-level parser of ASCII STL. It only recognises the facet grammar and
// yields facets as twelve floats (normal, then three corners); building a mesh
// from them is the caller's work.
//
// Keywords ignore case; every token other than "normal" between facets is
// skipped (facet, endloop, endfacet, words of the solid's name). A facet that
// breaks the grammar ends the parse; facets before it stay valid. Numbers are
// read locale-free, so a comma-decimal locale cannot change them.

#include <cstddef>
#include <istream>
#include <memory>
#include <string_view>

namespace fileIo {

class AsciiStlParser {
public:
    // Tokens longer than this are cut to their first kMaxToken characters;
    // the rest of such a token is skipped (a number that long is garbage
    // anyway, and a keyword that long matches none).
    static constexpr size_t kMaxToken = 256;

    explicit AsciiStlParser(std::istream& in);

    // Reads the first token; true when it is "solid" (case ignored).
    bool readHeader();
    // The next complete facet in file order. False at "endsolid", at the end
    // of the data, or at the first facet that breaks the grammar.
    bool nextFacet(float facet[12]);

    // Exposed for tests: the number rule (a token that is not a number gives
    // 0; values beyond float range give an infinity of their sign).
    static float parseNumber(std::string_view token);

private:
    bool nextToken(std::string_view& token);
    bool refill();

    std::istream& in_;
    std::unique_ptr<char[]> buffer_;
    size_t pos_ = 0;
    size_t end_ = 0;
    bool eof_ = false;
    char token_[kMaxToken];
};

} // namespace fileIo
