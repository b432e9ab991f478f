#include "export/BatchRun.h"

BatchRun::BatchRun(BatchExport& batch, std::vector<BatchTaxpayer> taxpayers)
    : m_batch(batch), m_taxpayers(std::move(taxpayers)) {}

BatchRun::~BatchRun() {
    cancel();
    if (m_worker.joinable()) m_worker.join();
}

void BatchRun::start(std::function<void()> ended) {
    m_batch.onWaiting([this] { m_waiting = true; });
    m_worker = std::thread([this, ended = std::move(ended)] {
        for (std::size_t i = 0; i < m_taxpayers.size() && !m_cancel; ++i) {
            TaxpayerResult result = m_batch.run(m_taxpayers[i]);
            m_waiting = false;
            if (m_batch.stoppedByWrites()) {
                m_stoppedByWrites = true;
                break;
            }
            if (result.outcome != BatchOutcome::Error && result.outcome != BatchOutcome::Cancelled)
                m_movements += result.movements;
            {
                const std::lock_guard lock(m_resultsMutex);
                m_results.emplace_back(i, std::move(result));
            }
            ++m_done;
        }
        ended();
    });
}

void BatchRun::cancel() noexcept {
    m_cancel = true;
    m_batch.requestStop();
}

BatchProgress BatchRun::progress() const {
    return {m_done, m_taxpayers.size(), m_movements, m_waiting, m_stoppedByWrites};
}

std::vector<std::pair<std::size_t, TaxpayerResult>> BatchRun::takeResults() {
    const std::lock_guard lock(m_resultsMutex);
    return std::exchange(m_results, {});
}

void BatchRun::finish() {
    if (m_worker.joinable()) m_worker.join();
}
