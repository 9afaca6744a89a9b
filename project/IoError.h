#pragma once
// Results of the project archive operations.

enum IO_ERROR {
    IO_SUCCESS = 0,
    IO_MEMORY_FAILED = 1,     // no geometry handler for an entry
    IO_FILE_FAILED = 2,       // the file cannot be written or replaced (full disk...), or is not a regular file
    IO_ZIP_FAILED = 3,        // archive or entry cannot be created, opened, read or closed (CRC)
    IO_XML_FAILED = 4,        // the descriptor cannot be written or is malformed
    IO_NOT_ENOUGH_MEMORY = 5, // the memory check refused a geometry entry
    IO_LOAD_OBJECT_FAILED = 6,
    IO_SAVE_OBJECT_FAILED = 7,
    IO_MISC_ERROR = 8 // bad entry names, duplicates, missing descriptor, counts that differ
};

// The log text of a result ("Err:Zip File operation failed." ...).
const char* ioErrorText(int result);
