#include "database/MovementStream.h"

#include "platform/ScratchFile.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// How much of a bucket is gathered before it goes to the scratch file.
constexpr std::size_t kPiece = 32 * 1024;

// A row as kept: its declaration's place (4 bytes), its table (1 byte), its length (2 bytes), then its bytes.
constexpr std::size_t kHead = 7;

void putRow(std::string& out, std::int32_t ordinal, std::size_t table, std::string_view row) {
    char head[kHead];
    std::memcpy(head, &ordinal, 4);
    head[4] = char(table);
    const auto length = static_cast<std::uint16_t>(row.size());
    std::memcpy(head + 5, &length, 2);
    out.append(head, kHead);
    out.append(row);
}

// A row's place in a table, mixed into 32 bits: sums of them tell two sets of rows apart.
std::uint32_t mixed(std::size_t table, std::uint32_t place) {
    std::uint64_t x = (std::uint64_t(place) << 1 | table) * 0x9E3779B97F4A7C15ull;
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ull;
    return std::uint32_t(x >> 32);
}

}  // namespace

struct MovementStream::Kept {
    std::int32_t ordinal;
    std::uint32_t table;
    std::size_t offset;  // of its bytes, in the bucket's bytes
    std::size_t length;
    bool operator<(const Kept& other) const {
        return ordinal != other.ordinal ? ordinal < other.ordinal : table < other.table;
    }
};

MovementStream::MovementStream(std::span<const std::int32_t> plan, std::size_t rowsPerBucket)
    : m_rowsPerBucket(std::max<std::size_t>(rowsPerBucket, 1)) {
    if (plan.empty()) return;
    const auto [lowest, highest] = std::minmax_element(plan.begin(), plan.end());
    const std::int64_t span = std::int64_t(*highest) - *lowest + 1;
    if (span <= std::int64_t(plan.size()) * 4 + 1024) {
        m_lowest = *lowest;
        m_dense.assign(std::size_t(span), -1);
        for (const std::int32_t sid : plan)
            if (std::int32_t& place = m_dense[std::size_t(sid - m_lowest)]; place < 0) place = m_ordinals++;
    } else {
        m_sparse.reserve(plan.size());
        for (const std::int32_t sid : plan) m_sparse.emplace_back(sid, -1);
        std::sort(m_sparse.begin(), m_sparse.end());
        m_sparse.erase(std::unique(m_sparse.begin(), m_sparse.end()), m_sparse.end());
        for (const std::int32_t sid : plan) {
            const auto it = std::lower_bound(m_sparse.begin(), m_sparse.end(), std::pair(sid, INT32_MIN));
            if (it->second < 0) it->second = m_ordinals++;
        }
    }
    m_counts.assign(std::size_t(m_ordinals), 0);
    m_fingerprints.assign(std::size_t(m_ordinals), 0);
}

MovementStream::~MovementStream() = default;

std::int32_t MovementStream::ordinalOf(std::int64_t sid) const {
    if (!m_dense.empty()) {
        const std::int64_t at = sid - m_lowest;
        return at >= 0 && at < std::int64_t(m_dense.size()) ? m_dense[std::size_t(at)] : -1;
    }
    if (sid < INT32_MIN || sid > INT32_MAX) return -1;
    const auto it = std::lower_bound(m_sparse.begin(), m_sparse.end(), std::pair(std::int32_t(sid), INT32_MIN));
    return it != m_sparse.end() && it->first == sid ? it->second : -1;
}

bool MovementStream::planned(std::int64_t sid) const {
    const std::int32_t ordinal = ordinalOf(sid);
    return ordinal >= 0 && (m_unplanned.empty() || !m_unplanned[std::size_t(ordinal)]);
}

void MovementStream::count(std::size_t table, std::int64_t sid, std::uint32_t place, bool listed) {
    const std::int32_t ordinal = ordinalOf(sid);
    if (ordinal < 0) return;
    ++m_counts[std::size_t(ordinal)];
    if (listed) m_fingerprints[std::size_t(ordinal)] += mixed(table, place);
}

void MovementStream::arrange() {
    std::size_t inBucket = 0;
    for (std::int32_t ordinal = 0; ordinal < m_ordinals; ++ordinal) {
        const std::size_t rows = m_counts[std::size_t(ordinal)];
        if (m_bucketFirst.empty() || (inBucket > 0 && inBucket + rows > m_rowsPerBucket)) {
            m_bucketFirst.push_back(ordinal);
            inBucket = 0;
        }
        inBucket += rows;
    }
    m_counts = {};
    m_buffers.resize(m_bucketFirst.size());
    m_chunks.resize(m_bucketFirst.size());
    // One bucket is kept in memory as it is; more go to the scratch file.
    if (m_bucketFirst.size() > 1) m_scratch = std::make_unique<ScratchFile>();
}

std::size_t MovementStream::bucketOf(std::int32_t ordinal) const {
    return std::size_t(std::upper_bound(m_bucketFirst.begin(), m_bucketFirst.end(), ordinal) - m_bucketFirst.begin()) -
           1;
}

void MovementStream::add(std::size_t table, std::int64_t sid, std::uint32_t place, bool listed, std::string_view row) {
    const std::int32_t ordinal = ordinalOf(sid);
    if (ordinal < 0 || m_bucketFirst.empty()) return;
    if (listed) m_fingerprints[std::size_t(ordinal)] -= mixed(table, place);
    const std::size_t bucket = bucketOf(ordinal);
    std::string& buffer = m_buffers[bucket];
    putRow(buffer, ordinal, table, row);
    if (m_scratch && buffer.size() >= kPiece) {
        m_chunks[bucket].emplace_back(m_scratch->append(buffer), buffer.size());
        buffer.clear();
    }
}

void MovementStream::finish() {
    m_unplanned.assign(std::size_t(m_ordinals), false);
    for (std::size_t ordinal = 0; ordinal < m_fingerprints.size(); ++ordinal)
        if (m_fingerprints[ordinal] != 0) m_unplanned[ordinal] = true;
    m_fingerprints = {};
    if (!m_scratch) return;
    for (std::size_t bucket = 0; bucket < m_buffers.size(); ++bucket) {
        std::string& buffer = m_buffers[bucket];
        if (!buffer.empty()) m_chunks[bucket].emplace_back(m_scratch->append(buffer), buffer.size());
        std::string().swap(buffer);
    }
}

void MovementStream::load(std::size_t bucket) {
    m_kept.clear();
    if (m_scratch) {
        std::size_t size = 0;
        for (const auto& [offset, length] : m_chunks[bucket]) size += length;
        m_loadedBytes.resize(size);
        std::size_t at = 0;
        for (const auto& [offset, length] : m_chunks[bucket]) {
            m_scratch->readAt(offset, std::span(m_loadedBytes.data() + at, length));
            at += length;
        }
    }
    const std::string& bytes = m_scratch ? m_loadedBytes : m_buffers[bucket];
    for (std::size_t at = 0; at + kHead <= bytes.size();) {
        Kept row;
        std::memcpy(&row.ordinal, bytes.data() + at, 4);
        row.table = static_cast<unsigned char>(bytes[at + 4]);
        std::uint16_t length;
        std::memcpy(&length, bytes.data() + at + 5, 2);
        row.offset = at + kHead;
        row.length = length;
        m_kept.push_back(row);
        at += kHead + length;
    }
    // Each declaration's rows together, its tables in turn, each table's rows in the order they were read.
    std::stable_sort(m_kept.begin(), m_kept.end());
    m_loaded = bucket;
}

bool MovementStream::serve(std::size_t table, std::int64_t sid, const std::function<void(std::string_view)>& visit) {
    if (!planned(sid) || m_bucketFirst.empty()) return false;
    const std::int32_t ordinal = ordinalOf(sid);
    const std::size_t bucket = bucketOf(ordinal);
    if (bucket != m_loaded) load(bucket);
    const Kept wanted{ordinal, std::uint32_t(table), 0, 0};
    const auto [first, last] = std::equal_range(m_kept.begin(), m_kept.end(), wanted);
    const std::string& bytes = m_scratch ? m_loadedBytes : m_buffers[bucket];
    // The rows are read by their places, not by iterators: `visit` may ask for another bucket.
    const auto begin = std::size_t(first - m_kept.begin()), end = std::size_t(last - m_kept.begin());
    for (std::size_t i = begin; i < end; ++i) {
        if (m_loaded != bucket) load(bucket);
        visit(std::string_view(bytes.data() + m_kept[i].offset, m_kept[i].length));
    }
    return true;
}
