#include "project/IoError.h"

const char* ioErrorText(int result) {
    switch (result) {
    case IO_MEMORY_FAILED:
        return "Err:Memory operation failed.";
    case IO_FILE_FAILED:
        return "Err:File operation failed.";
    case IO_ZIP_FAILED:
        return "Err:Zip File operation failed.";
    case IO_XML_FAILED:
        return "Err:XML File operation failed.";
    case IO_NOT_ENOUGH_MEMORY:
        return "Err:Not enough memory to load project.";
    case IO_LOAD_OBJECT_FAILED:
        return "Err:3D object loading failed.";
    case IO_SAVE_OBJECT_FAILED:
        return "Err:3D object saving failed.";
    default:
        return "Err:Miscellaneous error.";
    }
}
