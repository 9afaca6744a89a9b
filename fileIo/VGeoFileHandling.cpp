#include "fileIo/VGeoFileHandling.h"

namespace fileIo {

int VGeoFileHandling::load() { return readFile(fileName_); }
uint64_t VGeoFileHandling::estimateMemory(KBaseStream*) { return 0; }
int VGeoFileHandling::readAscii() { return kFailure; }
int VGeoFileHandling::readStream(KBaseStream* stream) { return readFromStream(stream); }
int VGeoFileHandling::readBinary() { return readFile(fileName_); }
int VGeoFileHandling::writeAscii() { return kFailure; }
int VGeoFileHandling::writeStream(KBaseStream* stream) { return writeToStream(stream); }
int VGeoFileHandling::writeBinary() { return writeFile(fileName_); }
int VGeoFileHandling::readFile(const std::wstring&) { return kFailure; }
int VGeoFileHandling::readFromStream(KBaseStream*) { return kFailure; }
int VGeoFileHandling::writeFile(const std::wstring&) { return kFailure; }
int VGeoFileHandling::writeToStream(KBaseStream*) { return kFailure; }

} // namespace fileIo
