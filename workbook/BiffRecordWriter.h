#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <utility>
#include <vector>

// Builds a BIFF8 record stream. A record is a 2-byte type, a 2-byte length and at most 8,224 bytes of data,
// little-endian throughout. Positions are offsets from the start of the stream, which is what the records that
// point at other records (BOUNDSHEET, INDEX, DBCELL, EXTSST) hold.
//
// The stream is kept whole in memory, or handed to a sink a piece at a time as records complete. A position
// filled in later (patchU32) may by then have gone to the sink: a writer that streams is given the values of such
// positions beforehand, as a first writer of the same records found them (patches()).
class BiffRecordWriter {
public:
    static constexpr std::size_t MaxRecordData = 8224;
    using Sink = std::function<void(std::span<const std::uint8_t>)>;
    using Patches = std::map<std::size_t, std::uint32_t>;

    // Keeps the stream whole.
    BiffRecordWriter() = default;
    // Hands the stream to `sink` (which may be empty, to lay a stream out without keeping it), `known` being the
    // values of the positions that will be patched.
    BiffRecordWriter(Sink sink, Patches known);

    // Starts a record of `type`; the previous record must have been ended.
    void begin(std::uint16_t type);
    // Ends the current record and fills in its length.
    void end();
    // A whole record without data.
    void empty(std::uint16_t type) {
        begin(type);
        end();
    }

    // Data of the current record. Writing more than the record holds is a programming error (std::logic_error).
    void u8(std::uint8_t value);
    void u16(std::uint16_t value);
    void u32(std::uint32_t value);
    void f64(double value);  // the IEEE 754 bits unchanged

    // Bytes still free in the current record.
    std::size_t room() const noexcept;
    // Stream position of the next byte written.
    std::size_t position() const noexcept { return m_handedOn + m_bytes.size(); }
    // Stream position of the current record's header.
    std::size_t recordStart() const noexcept { return m_recordStart; }

    // Overwrites four bytes already written (a position known only later).
    void patchU32(std::size_t at, std::uint32_t value);
    // Appends zero bytes after the last record until the stream holds `size` bytes.
    void padTo(std::size_t size);
    // Every position patched so far, with its value.
    const Patches& patches() const noexcept { return m_patches; }

    // Hands what is left to the sink.
    void finish();
    std::vector<std::uint8_t> take() && { return std::move(m_bytes); }

private:
    void reserveData(std::size_t count);
    void handOn(std::size_t count);

    static constexpr std::size_t NoRecord = static_cast<std::size_t>(-1);
    static constexpr std::size_t HandOnSize = 64 * 1024;
    std::vector<std::uint8_t> m_bytes;  // the stream from m_handedOn on
    std::size_t m_recordStart = NoRecord;
    bool m_streaming = false;
    Sink m_sink;
    Patches m_known;
    Patches m_patches;
    std::size_t m_handedOn = 0;
};
