#include "fileIo/StlWriter.h"

#include "fileIo/ByteOrder.h"

#include <algorithm>
#include <charconv>

namespace fileIo {

namespace {

// Output is gathered in memory and handed to the file in large blocks.
constexpr size_t kFlushAt = 1 << 20;

void writeBlock(SafeFileWriter& out, std::string& buffer) {
    if (!buffer.empty())
        out.write(buffer.data(), static_cast<uint32_t>(buffer.size()));
    buffer.clear();
}

} // namespace

BinaryStlWriter::BinaryStlWriter(const std::wstring& path) : out_(path) {
    buffer_.reserve(kFlushAt + 64);
}

void BinaryStlWriter::begin(const std::string& header, uint32_t facetCount) {
    char head[84] = {};
    header.copy(head, std::min<size_t>(header.size(), 80));
    storeU32(head + 80, facetCount);
    buffer_.append(head, sizeof head);
}

void BinaryStlWriter::addFacet(const double normal[3], const double v0[3], const double v1[3], const double v2[3]) {
    char record[50];
    const double* parts[4] = {normal, v0, v1, v2};
    char* p = record;
    for (const double* part : parts)
        for (int i = 0; i < 3; ++i, p += 4)
            storeF32(p, static_cast<float>(part[i]));
    storeU16(p, 0);
    buffer_.append(record, sizeof record);
    if (buffer_.size() >= kFlushAt)
        flushBuffer();
}

void BinaryStlWriter::flushBuffer() {
    writeBlock(out_, buffer_);
}

bool BinaryStlWriter::finish() {
    flushBuffer();
    return out_.commit();
}

AsciiStlWriter::AsciiStlWriter(const std::wstring& path) : out_(path) {
    buffer_.reserve(kFlushAt + 512);
}

void AsciiStlWriter::appendNumber(std::string& out, double value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, 8);
    out.append(text, result.ptr);
}

void AsciiStlWriter::begin() {
    buffer_ += "solid Kavet3D\n";
}

void AsciiStlWriter::addFacet(const double normal[3], const double v0[3], const double v1[3], const double v2[3]) {
    auto triple = [this](const char* lead, const double* v) {
        buffer_ += lead;
        appendNumber(buffer_, v[0]);
        buffer_ += ' ';
        appendNumber(buffer_, v[1]);
        buffer_ += ' ';
        appendNumber(buffer_, v[2]);
        buffer_ += '\n';
    };
    triple("  facet normal ", normal);
    buffer_ += "    outer loop \n";
    triple("      vertex ", v0);
    triple("      vertex ", v1);
    triple("      vertex ", v2);
    buffer_ += "    endloop\n  endfacet\n";
    if (buffer_.size() >= kFlushAt)
        flushBuffer();
}

void AsciiStlWriter::flushBuffer() {
    writeBlock(out_, buffer_);
}

bool AsciiStlWriter::finish() {
    buffer_ += "endsolid\n";
    flushBuffer();
    return out_.commit();
}

} // namespace fileIo
