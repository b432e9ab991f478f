#pragma once

#include "export/BatchExport.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// What a batch under way has done so far.
struct BatchProgress {
    std::size_t done = 0;          // taxpayers whose export has ended
    std::size_t total = 0;         // taxpayers to export
    std::int64_t movements = 0;    // the movements of the exports that ended
    bool waiting = false;          // the batch is waiting for the database file to settle
    bool stoppedByWrites = false;  // the batch stopped: the database file kept changing (BatchExport::stoppedMessage)
};

// A started batch's exports, one taxpayer after another, on a worker thread, so that the window's thread stays free
// for its events. The window's thread starts it, reads its progress, takes the results as they come and may stop
// it; the batch belongs to the worker until it has ended.
class BatchRun {
public:
    // `batch` has started and outlives the run.
    BatchRun(BatchExport& batch, std::vector<BatchTaxpayer> taxpayers);
    BatchRun(const BatchRun&) = delete;
    BatchRun& operator=(const BatchRun&) = delete;
    // Stops a run still under way and waits for it.
    ~BatchRun();

    // Starts the exports; `ended` is called on the worker once the last has ended or the run was stopped.
    void start(std::function<void()> ended);
    // From any thread: the export under way stops and leaves no file, and no other starts.
    void cancel() noexcept;
    // From any thread.
    BatchProgress progress() const;
    // From any thread: the results that came since the last call, each with its taxpayer's place in the list.
    std::vector<std::pair<std::size_t, TaxpayerResult>> takeResults();
    // Waits for the worker, once `ended` was called.
    void finish();

private:
    BatchExport& m_batch;
    std::vector<BatchTaxpayer> m_taxpayers;
    std::thread m_worker;
    std::atomic<bool> m_cancel{false};
    std::atomic<std::size_t> m_done{0};
    std::atomic<std::int64_t> m_movements{0};
    std::atomic<bool> m_waiting{false};
    std::atomic<bool> m_stoppedByWrites{false};
    std::mutex m_resultsMutex;
    std::vector<std::pair<std::size_t, TaxpayerResult>> m_results;
};
