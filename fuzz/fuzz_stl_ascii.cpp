// ASCII STL reader and import on arbitrary text.
#include "fuzz/FuzzImport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzStlImport(data, size, true);
    return 0;
}
