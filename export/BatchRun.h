#pragma once

#include "export/BackgroundJob.h"
#include "export/BatchExport.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// How a batch run ended.
struct BatchEnd {
    std::size_t done = 0;          // taxpayers whose export ended
    std::size_t total = 0;         // taxpayers to export
    std::int64_t movements = 0;    // the movements of the exports that ended (movementsDone)
    bool cancelled = false;        // stopped at the user's request
    bool stoppedByWrites = false;  // stopped: the database file kept changing (BatchExport::stoppedMessage)
    std::string failure;           // what escaped the batch, described; empty when nothing did
};

// A started batch's exports, one taxpayer after another, as a background job. What the window learns of it reaches
// its thread in order: each result as its export ends, that the batch waits for the file to settle, then the end.
class BatchRun {
public:
    struct Events {
        std::function<void(std::size_t index, const TaxpayerResult& result)>
            result;  // the taxpayer's place in the list
        std::function<void()> waiting;
        // The run may be destroyed from it.
        std::function<void(const BatchEnd& end)> ended;
    };

    // On the window's thread. `batch` has started and outlives the run; `boxes` would show the batch's boxes (it
    // shows none); `wake`, called from the worker, must have serve() called on the window's thread soon after.
    BatchRun(BatchExport& batch, std::vector<BatchTaxpayer> taxpayers, MessageBoxes& boxes, std::function<void()> wake);
    BatchRun(const BatchRun&) = delete;
    BatchRun& operator=(const BatchRun&) = delete;
    // Stops a run still under way and waits for it; no event follows.
    ~BatchRun();

    void start(Events events);
    // On the window's thread: delivers the events that came.
    void serve() { m_job->serve(); }
    // From any thread: the export under way stops and leaves no file, and no other starts. The batch itself may
    // run again.
    void cancel() noexcept { m_job->cancel(); }

private:
    BatchExport& m_batch;
    std::vector<BatchTaxpayer> m_taxpayers;
    std::unique_ptr<BackgroundJob> m_job;
    BatchEnd m_end;  // the worker's until the end is delivered
};
