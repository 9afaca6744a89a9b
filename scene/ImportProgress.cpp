#include "scene/ImportProgress.h"

#include <algorithm>
#include <utility>

std::shared_ptr<ImportProgress> ImportProgress::create(std::size_t files, std::function<void()> wake) {
    return std::shared_ptr<ImportProgress>(new ImportProgress(files, std::move(wake)));
}

ImportProgress::ImportProgress(std::size_t files, std::function<void()> wake)
    : m_slots(new std::atomic<int>[std::max<std::size_t>(files, 1)]), m_files(files),
      m_wake(std::move(wake)) {
    for (std::size_t i = 0; i < std::max<std::size_t>(files, 1); ++i)
        m_slots[i].store(0);
}

ProgressSink ImportProgress::sinkForFile(std::size_t index) {
    std::shared_ptr<ImportProgress> self = shared_from_this();
    return ProgressSink([self, index](int value, unsigned int, const std::wstring&, const std::wstring&,
                                      const std::wstring&) {
        if (value >= 0 && value <= 100)
            self->raise(index, value);
    });
}

void ImportProgress::finishFile(std::size_t index) {
    if (index < m_files)
        m_sum.fetch_add(100 - m_slots[index].exchange(100));
}

int ImportProgress::percent() const {
    if (m_files == 0)
        return 100;
    return static_cast<int>(m_sum.load() / static_cast<long>(m_files));
}

void ImportProgress::raise(std::size_t index, int value) {
    if (index >= m_files)
        return;
    int old = m_slots[index].load();
    while (old < value && !m_slots[index].compare_exchange_weak(old, value)) {
    }
    if (old >= value)
        return;
    m_sum.fetch_add(value - old);
    // Only a rise of the batch's whole percentage wakes the GUI thread.
    const int now = percent();
    int woken = m_woken.load();
    while (woken < now && !m_woken.compare_exchange_weak(woken, now)) {
    }
    if (woken < now && m_wake)
        m_wake();
}

std::optional<int> ImportProgress::takeRise() {
    const int now = percent();
    if (now <= m_reported)
        return std::nullopt;
    m_reported = now;
    return now;
}
