#include "database/MovementStream.h"

#include "platform/ScratchFile.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// A row as kept: its declaration's place (4 bytes), its table (1 byte), its length (2 bytes), then its bytes.
constexpr std::size_t kHead = 7;
// How much of the buckets' rows is gathered before it goes to the scratch file, sorted by bucket: the more, the fewer
// pieces each bucket is read back from.
constexpr std::size_t kStaged = 4 << 20;
// A count that does not fit in two bytes is kept apart.
constexpr std::uint16_t kBigCount = 0xFFFF;
// How many places share a fingerprint.
constexpr std::size_t kBlock = 16;
// A piece of a bucket on the scratch file begins with the offset (8 bytes) and the length (4) of the one before it.
constexpr std::size_t kPieceHead = 12;

void putRow(std::string& out, std::int32_t ordinal, std::size_t table, std::string_view row) {
    char head[kHead];
    std::memcpy(head, &ordinal, 4);
    head[4] = char(table);
    const auto length = static_cast<std::uint16_t>(row.size());
    std::memcpy(head + 5, &length, 2);
    out.append(head, kHead);
    out.append(row);
}

// A row's place in a table, with the place in the plan of the declaration it is counted for, mixed into 32 bits:
// sums of them tell two sets of rows apart, and a row counted for another declaration.
std::uint32_t mixed(std::size_t table, std::uint32_t place, std::int32_t ordinal) {
    std::uint64_t x = ((std::uint64_t(place) << 1 | table) ^ std::uint64_t(ordinal) << 33) * 0x9E3779B97F4A7C15ull;
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ull;
    return std::uint32_t(x >> 32);
}

}  // namespace

MovementStream::MovementStream(std::span<const std::int32_t> plan, std::size_t rowsPerBucket)
    : MovementStream(1, rowsPerBucket) {
    for (const std::int32_t sid : plan) this->plan(0, sid);
    for (const std::int32_t sid : plan) place(0, sid);
    placed();
}

MovementStream::MovementStream(std::size_t groups, std::size_t rowsPerBucket)
    : m_rowsPerBucket(std::max<std::size_t>(rowsPerBucket, 1)), m_groupNext(groups + 1, 0) {}

void MovementStream::plan(std::size_t group, std::int32_t sid) {
    ++m_groupNext[group + 1];
    m_lowest = std::min<std::int64_t>(m_lowest, sid);
    m_highest = std::max<std::int64_t>(m_highest, sid);
    ++m_ordinals;
}

void MovementStream::place(std::size_t group, std::int32_t sid) {
    if (!m_placing) {
        // The first declaration placed: the places of each group start after those of the groups before it, and
        // Sid_IDs close together (AutoNumbers) are found in a table from the lowest one.
        m_placing = true;
        for (std::size_t g = 1; g < m_groupNext.size(); ++g) m_groupNext[g] += m_groupNext[g - 1];
        if (m_highest - m_lowest + 1 <= std::int64_t(m_ordinals) * 4 + 1024)
            m_dense.assign(std::size_t(m_highest - m_lowest + 1), -1);
        else
            m_sparse.reserve(std::size_t(m_ordinals));
    }
    const std::int32_t ordinal = m_groupNext[group]++;
    if (m_dense.empty())
        m_sparse.emplace_back(sid, ordinal);
    else if (std::int32_t& at = m_dense[std::size_t(sid - m_lowest)]; at < 0)
        at = ordinal;
}

void MovementStream::placed() {
    if (!m_placing) return;
    m_placing = false;
    m_groupNext = {};
    // A declaration placed twice keeps its first place, the lower.
    std::sort(m_sparse.begin(), m_sparse.end());
    m_sparse.erase(
        std::unique(m_sparse.begin(), m_sparse.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
        m_sparse.end());
    m_counts.assign(std::size_t(m_ordinals), 0);
    m_fingerprints.assign(std::size_t(m_ordinals) / kBlock + 1, 0);
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
    return ordinal >= 0 && (m_unplanned.empty() || !m_unplanned[std::size_t(ordinal) / kBlock]) &&
           !std::binary_search(m_tooBig.begin(), m_tooBig.end(), ordinal);
}

std::uint32_t MovementStream::countOf(std::int32_t ordinal) const {
    const std::uint16_t count = m_counts[std::size_t(ordinal)];
    return count == kBigCount ? m_bigCounts.at(ordinal) : count;
}

void MovementStream::count(std::size_t table, std::int64_t sid, std::uint32_t place, bool listed) {
    placed();
    const std::int32_t ordinal = ordinalOf(sid);
    if (ordinal < 0) return;
    std::uint16_t& count = m_counts[std::size_t(ordinal)];
    if (count == kBigCount)
        ++m_bigCounts[ordinal];
    else if (++count == kBigCount)
        m_bigCounts[ordinal] = kBigCount;
    if (listed) m_fingerprints[std::size_t(ordinal) / kBlock] += mixed(table, place, ordinal);
}

void MovementStream::arrange() {
    placed();
    std::size_t inBucket = 0;
    for (std::int32_t ordinal = 0; ordinal < m_ordinals; ++ordinal) {
        std::size_t rows = countOf(ordinal);
        // A declaration too big for a bucket is searched, its rows close together for the files in use.
        if (rows > m_rowsPerBucket) {
            m_tooBig.push_back(ordinal);
            rows = 0;
        }
        if (m_bucketFirst.empty() || (inBucket > 0 && inBucket + rows > m_rowsPerBucket)) {
            m_bucketFirst.push_back(ordinal);
            inBucket = 0;
        }
        inBucket += rows;
    }
    m_counts = {};
    m_bigCounts = {};
    m_lastPieces.resize(m_bucketFirst.size());
    // One bucket is kept in memory as it is; more go to the scratch file.
    if (m_bucketFirst.size() > 1) {
        m_scratch = std::make_unique<ScratchFile>();
        m_staged.reserve(kStaged + 64 * 1024);
    }
}

std::size_t MovementStream::bucketOf(std::int32_t ordinal) const {
    return std::size_t(std::upper_bound(m_bucketFirst.begin(), m_bucketFirst.end(), ordinal) - m_bucketFirst.begin()) -
           1;
}

void MovementStream::add(std::size_t table, std::int64_t sid, std::uint32_t place, bool listed, std::string_view row) {
    const std::int32_t ordinal = ordinalOf(sid);
    if (ordinal < 0 || m_bucketFirst.empty() || std::binary_search(m_tooBig.begin(), m_tooBig.end(), ordinal)) return;
    if (listed) m_fingerprints[std::size_t(ordinal) / kBlock] -= mixed(table, place, ordinal);
    if (!m_scratch) {
        putRow(m_staged, ordinal, table, row);
        return;
    }
    m_stagedRows.emplace_back(std::uint32_t(bucketOf(ordinal)), std::uint32_t(m_staged.size()));
    putRow(m_staged, ordinal, table, row);
    if (m_staged.size() >= kStaged) flush();
}

// Puts the rows gathered on the scratch file, the rows of each bucket together in a piece, which starts with where
// the bucket's piece before it is.
void MovementStream::flush() {
    std::stable_sort(m_stagedRows.begin(), m_stagedRows.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    // Written in order through a small buffer.
    constexpr std::size_t kWrite = 256 * 1024;
    std::string out;
    out.reserve(kWrite + 64 * 1024);
    std::uint64_t written = m_scratch->size();
    for (std::size_t i = 0; i < m_stagedRows.size();) {
        const std::uint32_t bucket = m_stagedRows[i].first;
        Piece& last = m_lastPieces[bucket];
        const Piece piece{written + out.size(), 0};
        char head[kPieceHead];
        std::memcpy(head, &last.offset, 8);
        std::memcpy(head + 8, &last.length, 4);
        out.append(head, kPieceHead);
        for (; i < m_stagedRows.size() && m_stagedRows[i].first == bucket; ++i) {
            const std::uint32_t at = m_stagedRows[i].second;
            std::uint16_t length;
            std::memcpy(&length, m_staged.data() + at + 5, 2);
            out.append(m_staged, at, kHead + length);
            if (out.size() >= kWrite) {
                m_scratch->append(out);
                written += out.size();
                out.clear();
            }
        }
        last = {piece.offset, std::uint32_t(written + out.size() - piece.offset)};
    }
    m_scratch->append(out);
    m_staged.clear();
    m_stagedRows.clear();
}

void MovementStream::finish() {
    m_unplanned.assign(m_fingerprints.size(), false);
    for (std::size_t block = 0; block < m_fingerprints.size(); ++block)
        if (m_fingerprints[block] != 0) m_unplanned[block] = true;
    m_fingerprints = {};
    if (!m_scratch) return;
    flush();
    std::string().swap(m_staged);
    m_stagedRows = {};
}

void MovementStream::load(std::size_t bucket) {
    if (m_scratch) {
        // The pieces from the last back to the first, each read whole with the place of the one before it.
        std::vector<Piece> pieces;
        std::size_t size = 0;
        for (Piece piece = m_lastPieces[bucket]; piece.length != 0;) {
            pieces.push_back(piece);
            size += piece.length - kPieceHead;
            char head[kPieceHead];
            m_scratch->readAt(piece.offset, std::span(head, kPieceHead));
            std::memcpy(&piece.offset, head, 8);
            std::memcpy(&piece.length, head + 8, 4);
        }
        m_loadedBytes.resize(size);
        std::size_t at = 0;
        for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
            m_scratch->readAt(it->offset + kPieceHead, std::span(m_loadedBytes.data() + at, it->length - kPieceHead));
            at += it->length - kPieceHead;
        }
    }
    const std::string& bytes = m_scratch ? m_loadedBytes : m_staged;
    // The bucket's rows by their place and table, each's rows in the order they were read: counted, then put.
    const std::int32_t first = m_bucketFirst[bucket];
    const std::int32_t end = bucket + 1 < m_bucketFirst.size() ? m_bucketFirst[bucket + 1] : m_ordinals;
    const auto slotOf = [&](const char* head) {
        std::int32_t ordinal;
        std::memcpy(&ordinal, head, 4);
        return std::size_t(ordinal - first) * 2 + static_cast<unsigned char>(head[4]);
    };
    const auto lengthOf = [](const char* head) {
        std::uint16_t length;
        std::memcpy(&length, head + 5, 2);
        return std::size_t(length);
    };
    m_starts.assign(std::size_t(end - first) * 2 + 1, 0);
    std::size_t rows = 0;
    for (std::size_t at = 0; at + kHead <= bytes.size(); at += kHead + lengthOf(bytes.data() + at), ++rows)
        ++m_starts[slotOf(bytes.data() + at) + 1];
    for (std::size_t i = 1; i < m_starts.size(); ++i) m_starts[i] += m_starts[i - 1];
    m_kept.resize(rows);
    std::vector<std::uint32_t> next(m_starts.begin(), m_starts.end() - 1);
    for (std::size_t at = 0; at + kHead <= bytes.size(); at += kHead + lengthOf(bytes.data() + at))
        m_kept[next[slotOf(bytes.data() + at)]++] = {std::uint32_t(at + kHead),
                                                     std::uint32_t(lengthOf(bytes.data() + at))};
    m_loaded = bucket;
}

bool MovementStream::serve(std::size_t table, std::int64_t sid, const std::function<void(std::string_view)>& visit) {
    if (!planned(sid) || m_bucketFirst.empty()) return false;
    const std::int32_t ordinal = ordinalOf(sid);
    const std::size_t bucket = bucketOf(ordinal);
    if (bucket != m_loaded) load(bucket);
    const std::size_t slot = std::size_t(ordinal - m_bucketFirst[bucket]) * 2 + table;
    const std::string& bytes = m_scratch ? m_loadedBytes : m_staged;
    // The rows are read by their places, not by iterators: `visit` may ask for another bucket.
    for (std::uint32_t i = m_starts[slot], end = m_starts[slot + 1]; i < end; ++i) {
        if (m_loaded != bucket) load(bucket);
        visit(std::string_view(bytes.data() + m_kept[i].offset, m_kept[i].length));
    }
    return true;
}
