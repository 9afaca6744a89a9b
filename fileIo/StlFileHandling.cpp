#include "fileIo/StlFileHandling.h"

namespace fileIo {

uint64_t StlFileHandling::estimateMemory(KBaseStream*) { return 0; }
int StlFileHandling::readAscii() { return kFailure; }
int StlFileHandling::readBinary() { return kFailure; }
int StlFileHandling::writeAscii() { return kFailure; }
int StlFileHandling::writeBinary() { return kFailure; }
int StlFileHandling::readAsciiFrom(std::istream&) { return kFailure; }
int StlFileHandling::readBinaryFrom(std::istream&) { return kFailure; }
uint32_t StlFileHandling::countFacets() const { return 0; }
int StlFileHandling::writeAsciiMesh(const std::wstring&) { return kFailure; }
int StlFileHandling::writeBinaryMesh(const std::wstring&) { return kFailure; }

} // namespace fileIo
