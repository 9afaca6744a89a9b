// Binary STL reader and import on arbitrary bytes.
#include "fuzz/FuzzImport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzStlImport(data, size, false);
    return 0;
}
