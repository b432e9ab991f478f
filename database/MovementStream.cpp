#include "database/MovementStream.h"

#include "platform/ScratchFile.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// How much of a bucket is gathered before it goes to the scratch file.
constexpr std::size_t kPiece = 32 * 1024;

// A row as kept: its declaration's place (4 bytes) and its table (1 byte), then each value: its kind, then 8 bytes
// for a number or a date, or the length of a text (7 bits a byte, the last byte below 0x80) and its bytes.
void putNumber(std::string& out, const void* bytes) { out.append(static_cast<const char*>(bytes), 8); }

void putRow(std::string& out, std::int32_t ordinal, std::size_t table, const Value* const* values, std::size_t n) {
    char head[5];
    std::memcpy(head, &ordinal, 4);
    head[4] = char(table);
    out.append(head, 5);
    for (std::size_t i = 0; i < n; ++i) {
        const Value& v = *values[i];
        out += char(v.kind());
        switch (v.kind()) {
            case Value::Kind::Null: break;
            case Value::Kind::Integer: {
                const std::int64_t x = v.asInteger();
                putNumber(out, &x);
                break;
            }
            case Value::Kind::Double:
            case Value::Kind::Date: {
                const double x = v.asDouble();
                putNumber(out, &x);
                break;
            }
            case Value::Kind::Text: {
                const std::string& text = v.asText();
                for (std::size_t length = text.size();; length >>= 7) {
                    if (length < 0x80) {
                        out += char(length);
                        break;
                    }
                    out += char(0x80 | (length & 0x7F));
                }
                out += text;
                break;
            }
        }
    }
}

// Reads back the values of the row at `p` (after its head) into `into`; returns where the next row starts.
const char* getRow(const char* p, Value* const* into, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        Value& v = *into[i];
        const auto kind = Value::Kind(*p++);
        switch (kind) {
            case Value::Kind::Null: v.setNull(); break;
            case Value::Kind::Integer: {
                std::int64_t x;
                std::memcpy(&x, p, 8);
                v.setInteger(x);
                p += 8;
                break;
            }
            case Value::Kind::Double:
            case Value::Kind::Date: {
                double x;
                std::memcpy(&x, p, 8);
                kind == Value::Kind::Date ? v.setDate(x) : v.setReal(x);
                p += 8;
                break;
            }
            case Value::Kind::Text: {
                std::size_t length = 0;
                for (unsigned shift = 0;; shift += 7) {
                    const auto byte = static_cast<unsigned char>(*p++);
                    length |= std::size_t(byte & 0x7F) << shift;
                    if (byte < 0x80) break;
                }
                v.setText().assign(p, length);
                p += length;
                break;
            }
        }
    }
    return p;
}

// Where the rows after the head of the row at `p` start, without reading its values.
const char* skipRow(const char* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const auto kind = Value::Kind(*p++);
        if (kind == Value::Kind::Integer || kind == Value::Kind::Double || kind == Value::Kind::Date) {
            p += 8;
        } else if (kind == Value::Kind::Text) {
            std::size_t length = 0;
            for (unsigned shift = 0;; shift += 7) {
                const auto byte = static_cast<unsigned char>(*p++);
                length |= std::size_t(byte & 0x7F) << shift;
                if (byte < 0x80) break;
            }
            p += length;
        }
    }
    return p;
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
    std::size_t offset;  // of its values, in the bucket's bytes
    bool operator<(const Kept& other) const {
        return ordinal != other.ordinal ? ordinal < other.ordinal : table < other.table;
    }
};

MovementStream::MovementStream(std::span<const std::int32_t> plan, std::size_t columns, std::size_t rowsPerBucket)
    : m_columns(columns), m_rowsPerBucket(std::max<std::size_t>(rowsPerBucket, 1)) {
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

void MovementStream::add(std::size_t table, std::int64_t sid, std::uint32_t place, bool listed,
                         const Value* const* values) {
    const std::int32_t ordinal = ordinalOf(sid);
    if (ordinal < 0 || m_bucketFirst.empty()) return;
    if (listed) m_fingerprints[std::size_t(ordinal)] -= mixed(table, place);
    const std::size_t bucket = bucketOf(ordinal);
    std::string& buffer = m_buffers[bucket];
    putRow(buffer, ordinal, table, values, m_columns);
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
    for (const char* p = bytes.data(); p < bytes.data() + bytes.size();) {
        Kept row;
        std::memcpy(&row.ordinal, p, 4);
        row.table = static_cast<unsigned char>(p[4]);
        row.offset = std::size_t(p + 5 - bytes.data());
        m_kept.push_back(row);
        p = skipRow(p + 5, m_columns);
    }
    // Each declaration's rows together, its tables in turn, each table's rows in the order they were read.
    std::stable_sort(m_kept.begin(), m_kept.end());
    m_loaded = bucket;
}

bool MovementStream::serve(std::size_t table, std::int64_t sid, Value* const* into,
                           const std::function<void()>& visit) {
    if (!planned(sid) || m_bucketFirst.empty()) return false;
    const std::int32_t ordinal = ordinalOf(sid);
    const std::size_t bucket = bucketOf(ordinal);
    if (bucket != m_loaded) load(bucket);
    const Kept wanted{ordinal, std::uint32_t(table), 0};
    const auto [first, last] = std::equal_range(m_kept.begin(), m_kept.end(), wanted);
    const std::string& bytes = m_scratch ? m_loadedBytes : m_buffers[bucket];
    // The rows are read by their places, not by iterators: `visit` may ask for another bucket.
    const auto begin = std::size_t(first - m_kept.begin()), end = std::size_t(last - m_kept.begin());
    for (std::size_t i = begin; i < end; ++i) {
        if (m_loaded != bucket) load(bucket);
        getRow(bytes.data() + m_kept[i].offset, into, m_columns);
        visit();
    }
    return true;
}
