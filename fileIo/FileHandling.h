#pragma once
// Mesh file handlers: one class per format, each bound to one file name and
// one target mesh for a single read or write. Results: kSuccess, kFailure, and
// kNotEnoughMemory when the memory check refuses a binary STL, kCancelled when
// the caller's cancel flag stopped a read: the values of topolib::LoadResult,
// which a load hands to the mesh's import.

#include "fileIo/ReadCheck.h"
#include "topolib/LoadResult.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class ProgressMonitor;
namespace topolib {
class ImportSession;
class StlObject;
}

namespace fileIo {

class KBaseStream;

constexpr int kFailure = static_cast<int>(topolib::LoadResult::Failure);
constexpr int kSuccess = static_cast<int>(topolib::LoadResult::Success);
constexpr int kNotEnoughMemory = static_cast<int>(topolib::LoadResult::NotEnoughMemory);
constexpr int kCancelled = static_cast<int>(topolib::LoadResult::Cancelled);

class FileHandling {
public:
    virtual ~FileHandling();

    // Reads the file: ASCII STL when isAsciiFile() says so, else binary. Only
    // an existing, readable, non-empty regular file is read; lastFailure()
    // tells why a load failed.
    virtual int load();
    // Why the last load failed; None after a success.
    ReadFailure lastFailure() const { return failure_; }
    // What the last read found that the user should be told, in the order
    // found: what made it fail, or what a read that succeeded left out or
    // doubted ("The file declares 1000 facets but its size holds 52; ...").
    // Sentences in English; empty when there is nothing to tell.
    const std::vector<std::string>& loadNotes() const { return notes_; }
    // Bytes the mesh of the file will need; 0 when unknown.
    virtual uint64_t estimateMemory(KBaseStream* stream);
    virtual int readAscii() = 0;
    // Reads from a byte stream; 0 for formats that only read files.
    virtual int readStream(KBaseStream* stream);
    virtual int readBinary() = 0;
    virtual int writeAscii() = 0;
    // Writes to a byte stream; 0 for formats that only write files.
    virtual int writeStream(KBaseStream* stream);
    virtual int writeBinary() = 0;
    virtual bool isAvailable();

    // A file is read as ASCII when none of its first 100 bytes (all of it
    // when shorter) is zero; empty or unopenable files count as binary. A
    // binary STL file shorter than 100 bytes holds no facet, so a short text
    // file loses nothing by being read as ASCII.
    bool isAsciiFile() const;

    void setFileName(const std::wstring& name) { fileName_ = name; }
    const std::wstring& fileName() const { return fileName_; }
    // The mesh that readers fill and writers write; not owned.
    void setTarget(topolib::StlObject* target) { target_ = target; }
    topolib::StlObject* target() const { return target_; }
    // Length of the last stream the geometry reader read.
    uint64_t lastStreamLength() const { return streamLength_; }
    // Where a read reports its progress; null (the default) is the global
    // report. Not owned; it must outlive the read. Its stop ends a read: the
    // STL reader asks once per block of records and returns kCancelled.
    void setProgressSink(const ProgressMonitor* progress) { progress_ = progress; }
    bool cancelRequested() const;
    // The scratch of the load a reader of loose facets hands to its
    // topolib::FacetImport (see topolib::MeshFileReader); null: none. Not owned.
    void setImportScratch(topolib::ImportSession* scratch) { scratch_ = scratch; }

protected:
    // Checks the file before a load (sets failure_); true when it may be read.
    bool checkBeforeLoad();
    // Notes why a load that returned `result` failed, unless a reason is set.
    int noteLoadResult(int result);
    void addNote(std::string note) { notes_.push_back(std::move(note)); }

    ReadFailure failure_ = ReadFailure::None;
    std::vector<std::string> notes_;
    std::wstring fileName_;
    topolib::StlObject* target_ = nullptr;
    uint64_t streamLength_ = 0;
    const ProgressMonitor* progress_ = nullptr;
    topolib::ImportSession* scratch_ = nullptr;
};

} // namespace fileIo
