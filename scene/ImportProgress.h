#pragma once
// The one progress of an import batch. The files of a batch are read on
// several workers at once; each reader reports into the slot of its file
// (from its worker thread) and never to the progress dialog itself. The
// batch's percentage is the mean of the slots, a file that has ended counting
// as 100. A slot keeps the highest value it was given, so the percentage only
// rises, whatever order the readers' reports arrive in.
//
// Workers write the slots; the GUI thread reads the percentage and reports
// it, so the dialog is driven from one thread and closed once, by the batch.
#include "app/ProgressReport.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class ImportProgress : public std::enable_shared_from_this<ImportProgress> {
public:
    // A batch of `files` files; wake() is called (on a worker thread) each
    // time the batch's percentage has risen, so that the GUI thread reports it.
    static std::shared_ptr<ImportProgress> create(std::size_t files, std::function<void()> wake);

    // The sink for the reader of file `index`: percentages (0..100) raise its
    // slot; text changes and the reader's closing report are dropped, the
    // batch reports those itself. Safe on any thread.
    ProgressSink sinkForFile(std::size_t index);
    // The file has ended (read, failed, cancelled or left the batch).
    void finishFile(std::size_t index);
    // The batch's percentage now (0..100).
    int percent() const;

    // GUI thread: the percentage to report when it rose since the last call,
    // else nothing.
    std::optional<int> takeRise();

private:
    ImportProgress(std::size_t files, std::function<void()> wake);
    void raise(std::size_t index, int value);

    std::unique_ptr<std::atomic<int>[]> m_slots;
    // The sum of the slots, raised with each slot, so that a batch of
    // thousands of files reports without adding them all up each time.
    std::atomic<long> m_sum{0};
    std::size_t m_files;
    std::function<void()> m_wake;
    std::atomic<int> m_woken{0};
    int m_reported = -1; // below every percentage: nothing reported yet
};
