#pragma once
// The byte layout of STL output, independent of the mesh records: callers
// hand over one facet at a time (normal and three corners in doubles).
//
// Binary: an 80-byte header, the u32 facet count, then per facet the normal
// and three corners as little-endian float32 and two zero attribute bytes.
// ASCII: "solid Kavet3D", seven lines per facet, "endsolid"; every number in
// C-locale scientific notation with eight digits after the point.

#include "fileIo/SafeFileWriter.h"

#include <cstdint>
#include <string>

namespace fileIo {

class BinaryStlWriter {
public:
    // Opens the file (an existing one is replaced only by a complete write);
    // check isOpen().
    explicit BinaryStlWriter(const std::wstring& path);
    bool isOpen() const { return out_.isOpen(); }
    // header: at most 80 bytes are taken, the rest is padded with zero bytes.
    void begin(const std::string& header, uint32_t facetCount);
    void addFacet(const double normal[3], const double v0[3], const double v1[3], const double v2[3]);
    // Flushes and puts the file in place; false when any write failed (an
    // existing file is then left as it was).
    bool finish();
    // Why opening or finishing failed, and whether other hard links of the
    // replaced file keep the old content.
    SaveReport report() const { return {out_.failure(), out_.linksLeftBehind()}; }

private:
    void flushBuffer();

    SafeFileWriter out_;
    std::string buffer_;
};

class AsciiStlWriter {
public:
    explicit AsciiStlWriter(const std::wstring& path);
    bool isOpen() const { return out_.isOpen(); }
    void begin();
    void addFacet(const double normal[3], const double v0[3], const double v1[3], const double v2[3]);
    bool finish();
    SaveReport report() const { return {out_.failure(), out_.linksLeftBehind()}; }

    // "%.8e" in the C locale, whatever the process locale is.
    static void appendNumber(std::string& out, double value);

private:
    void flushBuffer();

    SafeFileWriter out_;
    std::string buffer_;
};

} // namespace fileIo
