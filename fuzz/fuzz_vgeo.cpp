// Geometry-format reader on arbitrary entries; what it accepts is written
// back, which walks the rebuilt shells and edges once more.
#include "tests/fileIo/MemoryStream.h"

#include "fileIo/VGeoFileHandling.h"
#include "topolib/StlObject.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemoryStream in(std::string(reinterpret_cast<const char*>(data), size));
    topolib::StlObject mesh;
    fileIo::VGeoFileHandling handler;
    handler.setTarget(&mesh);
    if (handler.readStream(&in) == fileIo::kSuccess) {
        MemoryStream out;
        handler.writeStream(&out);
    }
    return 0;
}
