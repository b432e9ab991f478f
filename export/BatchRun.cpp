#include "export/BatchRun.h"

#include <utility>

BatchRun::BatchRun(BatchExport& batch, std::vector<BatchTaxpayer> taxpayers, MessageBoxes& boxes,
                   std::function<void()> wake)
    : m_batch(batch),
      m_taxpayers(std::move(taxpayers)),
      m_job(std::make_unique<BackgroundJob>(boxes, std::move(wake))) {
    m_end.total = m_taxpayers.size();
}

BatchRun::~BatchRun() {
    m_job.reset();
    m_batch.onWaiting({});
}

void BatchRun::start(Events events) {
    m_batch.onWaiting([this, waiting = events.waiting] {
        if (waiting) m_job->post(waiting);
    });
    const std::function<bool()> stop = [this] { return m_job->cancelRequested(); };
    m_job->start(
        [this, stop, result = events.result] {
            for (std::size_t i = 0; i < m_taxpayers.size() && !stop(); ++i) {
                TaxpayerResult done = m_batch.run(m_taxpayers[i], stop);
                if (m_batch.stoppedByWrites()) {
                    m_end.stoppedByWrites = true;
                    return;
                }
                m_end.movements += movementsDone(done);
                ++m_end.done;
                if (result) m_job->post([result, i, done = std::move(done)] { result(i, done); });
            }
        },
        [this, ended = events.ended](const BackgroundJob::End& end) {
            BatchEnd batchEnd = m_end;
            batchEnd.cancelled = end.cancelled && batchEnd.done < batchEnd.total;
            batchEnd.failure = end.failure;
            if (ended) ended(batchEnd);
        });
}
