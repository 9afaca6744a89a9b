#include "fileIo/AsciiStlParser.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace fileIo {

namespace {

// Read size per refill; the buffer is not cleared, so small inputs stay cheap.
constexpr size_t kChunk = 1 << 16;

inline bool isSpace(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\v' || c == '\f';
}

inline char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// keyword is given in lower case.
bool equalsKeyword(std::string_view token, std::string_view keyword) {
    if (token.size() != keyword.size())
        return false;
    for (size_t i = 0; i < token.size(); ++i)
        if (lowerAscii(token[i]) != keyword[i])
            return false;
    return true;
}

} // namespace

AsciiStlParser::AsciiStlParser(std::istream& in) : in_(in), buffer_(new char[kChunk]) {}

bool AsciiStlParser::refill() {
    if (eof_)
        return false;
    in_.read(buffer_.get(), static_cast<std::streamsize>(kChunk));
    const auto got = in_.gcount();
    if (got <= 0) {
        eof_ = true;
        return false;
    }
    pos_ = 0;
    end_ = static_cast<size_t>(got);
    if (!in_)
        eof_ = true;
    return true;
}

bool AsciiStlParser::atDataEnd() {
    return pos_ == end_ && (eof_ || in_.peek() == std::char_traits<char>::eof());
}

// The hot path, inlined into the callers of this file: the token and the
// white space before it lie inside the buffer.
inline bool AsciiStlParser::nextToken(std::string_view& token) {
    size_t at = pos_;
    size_t line = line_;
    while (at < end_ && isSpace(buffer_[at])) {
        line += buffer_[at] == '\n';
        ++at;
    }
    size_t stop = at;
    while (stop < end_ && !isSpace(buffer_[stop]))
        ++stop;
    if (at == stop || stop == end_ || stop - at > kMaxToken)
        return nextTokenAcrossRefills(token);
    pos_ = stop;
    line_ = tokenLine_ = line;
    tokenCut_ = false;
    token = std::string_view(buffer_.get() + at, stop - at);
    return true;
}

bool AsciiStlParser::nextTokenAcrossRefills(std::string_view& token) {
    // Skip white space, refilling as needed.
    for (;;) {
        while (pos_ < end_ && isSpace(buffer_[pos_])) {
            line_ += buffer_[pos_] == '\n';
            ++pos_;
        }
        if (pos_ < end_)
            break;
        if (!refill())
            return false;
    }
    tokenLine_ = line_;
    tokenCut_ = false;
    // The token is long or may cross the buffer's end: gather it in token_.
    size_t start = pos_;
    while (pos_ < end_ && !isSpace(buffer_[pos_]))
        ++pos_;
    size_t length = 0;
    for (;;) {
        const size_t here = pos_ - start;
        const size_t take = std::min(here, kMaxToken - length);
        std::memcpy(token_ + length, buffer_.get() + start, take);
        length += take;
        tokenCut_ |= here > take;
        if (pos_ < end_)
            break;
        if (!refill())
            break;
        start = pos_;
        while (pos_ < end_ && !isSpace(buffer_[pos_]))
            ++pos_;
    }
    token = std::string_view(token_, length);
    return true;
}

bool AsciiStlParser::parseNumber(std::string_view token, float* value) {
    const char* first = token.data();
    const char* last = first + token.size();
    // The C conversion accepts a leading plus sign; from_chars does not.
    if (first != last && *first == '+' && (last - first < 2 || first[1] != '-'))
        ++first;
    double parsed = 0.0;
    const auto result = std::from_chars(first, last, parsed, std::chars_format::general);
    // The whole token must be the number: "0,5" or "0x1p3" are not read as 0.
    if (result.ptr != last || first == last)
        return false;
    if (result.ec == std::errc::result_out_of_range) {
        // Overflow gives an infinity like the C conversion; underflow gives 0.
        // Only the magnitude of the digits decides, so look at the exponent.
        const char* e = first;
        while (e != last && *e != 'e' && *e != 'E')
            ++e;
        const bool negativeExponent = (e != last && e + 1 != last && e[1] == '-');
        if (negativeExponent)
            *value = 0.0f;
        else
            *value = (*first == '-') ? -std::numeric_limits<float>::infinity() : std::numeric_limits<float>::infinity();
        return true;
    }
    if (result.ec != std::errc())
        return false;
    if (std::isfinite(parsed) && std::fabs(parsed) > static_cast<double>(FLT_MAX))
        *value = parsed < 0 ? -std::numeric_limits<float>::infinity() : std::numeric_limits<float>::infinity();
    else
        *value = static_cast<float>(parsed);
    return true;
}

namespace {

// A token as quoted in a message: at most its first 32 bytes, with control
// bytes written as \xNN so that a zero byte cannot end the message early.
std::string quoted(std::string_view token) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (const char c : token.substr(0, 32)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            out += "\\x";
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        } else {
            out += c;
        }
    }
    return out + (token.size() > 32 ? "...\"" : "\"");
}

std::string lineText(size_t line) {
    return "Line " + std::to_string(line) + ": ";
}

} // namespace

bool AsciiStlParser::nextNumber(float* value) {
    std::string_view token;
    if (!nextTokenInFacet(token))
        return false;
    if (tokenCut_) {
        error_ = lineText(tokenLine_) + quoted(token) + " is longer than " + std::to_string(kMaxToken) +
                 " characters; no number is read from it.";
    } else if (parseNumber(token, value)) {
        return true;
    } else if (atDataEnd()) {
        noteFacetCut(); // a number cut short ("1.5e+")
    } else {
        error_ = lineText(tokenLine_) + quoted(token) + " is not a number.";
    }
    return false;
}

bool AsciiStlParser::nextNormalComponent(float* value, bool& bad) {
    std::string_view token;
    if (!nextTokenInFacet(token))
        return false;
    if (tokenCut_ || !parseNumber(token, value)) {
        if (!bad && badNormals_ == 0)
            firstBadNormal_ = lineText(tokenLine_) + quoted(token) +
                              (tokenCut_ ? ", longer than " + std::to_string(kMaxToken) + " characters" : "");
        bad = true;
        *value = 0.0f;
    }
    return true;
}

bool AsciiStlParser::expectKeyword(std::string_view keyword) {
    std::string_view token;
    if (!nextTokenInFacet(token))
        return false;
    if (equalsKeyword(token, keyword))
        return true;
    if (cutShort(token, keyword))
        noteFacetCut();
    else
        stop_ = lineText(tokenLine_) + quoted(token) + " where \"" + std::string(keyword) + "\" belongs.";
    return false;
}

bool AsciiStlParser::nextTokenInFacet(std::string_view& token) {
    if (nextToken(token))
        return true;
    noteFacetCut();
    return false;
}

bool AsciiStlParser::cutShort(std::string_view token, std::string_view keyword) {
    return token.size() < keyword.size() && equalsKeyword(token, keyword.substr(0, token.size())) &&
           atDataEnd();
}

void AsciiStlParser::noteFacetCut() {
    stop_ = "The data ends inside the facet of line " + std::to_string(facetLine_) + ".";
    dataEnded_ = true;
}

void AsciiStlParser::noteSolidCut() {
    stop_ = "The data ends at line " + std::to_string(tokenLine_) + " before \"endsolid\".";
    dataEnded_ = true;
}

bool AsciiStlParser::readHeader() {
    std::string_view token;
    if (!nextToken(token))
        return false;
    // UTF-8 text may begin with a byte order mark; ASCII STL is UTF-8 text.
    if (token.substr(0, 3) == "\xEF\xBB\xBF")
        token.remove_prefix(3);
    if (!equalsKeyword(token, "solid"))
        return false;
    nameLine_ = tokenLine_;
    inSolid_ = true;
    return true;
}

bool AsciiStlParser::findFacet() {
    std::string_view token;
    bool facetOnNameLine = false;
    for (;;) {
        if (!nextToken(token)) {
            if (inSolid_)
                noteSolidCut();
            return false;
        }
        if (tokenLine_ == nameLine_) {
            // A solid's name, unless "facet normal" ends it (a file on one line).
            if (facetOnNameLine && equalsKeyword(token, "normal"))
                break;
            facetOnNameLine = equalsKeyword(token, "facet");
            if (facetOnNameLine)
                facetLine_ = tokenLine_;
            continue;
        }
        if (equalsKeyword(token, "facet")) {
            facetLine_ = tokenLine_;
            if (!expectKeyword("normal"))
                return false;
            break;
        }
        const bool endsSolid = inSolid_ && equalsKeyword(token, "endsolid");
        if (endsSolid || (!inSolid_ && equalsKeyword(token, "solid"))) {
            inSolid_ = !endsSolid;
            nameLine_ = tokenLine_;
            continue;
        }
        if (inSolid_ && (cutShort(token, "facet") || cutShort(token, "endsolid")))
            noteSolidCut();
        else
            stop_ = lineText(tokenLine_) + quoted(token) + " where " +
                    (inSolid_ ? "\"facet\" or \"endsolid\"" : "\"solid\"") + " belongs.";
        return false;
    }
    // A facet after "endsolid" opens a solid of its own, which must end too.
    inSolid_ = true;
    nameLine_ = 0;
    return true;
}

bool AsciiStlParser::nextFacet(float facet[12]) {
    if (!findFacet())
        return false;
    bool badNormal = false;
    for (int i = 0; i < 3; ++i)
        if (!nextNormalComponent(&facet[i], badNormal))
            return false;
    if (!expectKeyword("outer") || !expectKeyword("loop"))
        return false;
    for (int v = 0; v < 3; ++v) {
        if (!expectKeyword("vertex"))
            return false;
        for (int i = 0; i < 3; ++i)
            if (!nextNumber(&facet[3 + 3 * v + i]))
                return false;
    }
    if (!expectKeyword("endloop") || !expectKeyword("endfacet"))
        return false;
    badNormals_ += badNormal;
    return true;
}

} // namespace fileIo
