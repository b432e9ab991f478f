#include "workbook/BiffRecordWriter.h"

#include <bit>
#include <stdexcept>

BiffRecordWriter::BiffRecordWriter(Sink sink, Patches known)
    : m_streaming(true), m_sink(std::move(sink)), m_known(std::move(known)) {}

void BiffRecordWriter::begin(std::uint16_t type) {
    if (m_recordStart != NoRecord) throw std::logic_error("BIFF record started inside another record");
    if (m_streaming && m_bytes.size() >= HandOnSize) handOn(m_bytes.size());
    m_recordStart = position();
    m_bytes.insert(m_bytes.end(), {static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(type >> 8), 0, 0});
}

void BiffRecordWriter::end() {
    if (m_recordStart == NoRecord) throw std::logic_error("BIFF record ended twice");
    const std::size_t length = position() - m_recordStart - 4;
    const std::size_t header = m_recordStart - m_handedOn;
    m_bytes[header + 2] = static_cast<std::uint8_t>(length);
    m_bytes[header + 3] = static_cast<std::uint8_t>(length >> 8);
    m_recordStart = NoRecord;
}

std::size_t BiffRecordWriter::room() const noexcept {
    if (m_recordStart == NoRecord) return 0;
    return MaxRecordData - (position() - m_recordStart - 4);
}

void BiffRecordWriter::reserveData(std::size_t count) {
    if (count > room()) throw std::logic_error("BIFF record data beyond 8,224 bytes");
}

void BiffRecordWriter::u8(std::uint8_t value) {
    reserveData(1);
    m_bytes.push_back(value);
}

void BiffRecordWriter::u16(std::uint16_t value) {
    reserveData(2);
    m_bytes.insert(m_bytes.end(), {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)});
}

void BiffRecordWriter::u32(std::uint32_t value) {
    reserveData(4);
    for (int shift = 0; shift < 32; shift += 8) m_bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

void BiffRecordWriter::f64(double value) {
    reserveData(8);
    const auto bits = std::bit_cast<std::uint64_t>(value);
    for (int shift = 0; shift < 64; shift += 8) m_bytes.push_back(static_cast<std::uint8_t>(bits >> shift));
}

void BiffRecordWriter::patchU32(std::size_t at, std::uint32_t value) {
    if (at + 4 > position()) throw std::logic_error("error interno al armar la planilla (corrección fuera del flujo)");
    m_patches[at] = value;
    if (at >= m_handedOn) {
        for (int i = 0; i < 4; ++i) m_bytes[at - m_handedOn + i] = static_cast<std::uint8_t>(value >> (8 * i));
    } else if (const auto known = m_known.find(at); m_sink && (known == m_known.end() || known->second != value)) {
        throw std::logic_error("error interno al armar la planilla (corrección de una posición ya entregada)");
    }
}

void BiffRecordWriter::padTo(std::size_t size) {
    if (m_recordStart != NoRecord) throw std::logic_error("BIFF stream padded inside a record");
    if (position() < size) m_bytes.resize(size - m_handedOn, 0);
}

// Hands the first `count` buffered bytes to the sink, with the values patched into them later already in place.
void BiffRecordWriter::handOn(std::size_t count) {
    const std::size_t end = m_handedOn + count;
    for (auto it = m_known.lower_bound(m_handedOn >= 3 ? m_handedOn - 3 : 0); it != m_known.end() && it->first < end;
         ++it)
        for (std::size_t i = 0; i < 4; ++i)
            if (it->first + i >= m_handedOn && it->first + i < end)
                m_bytes[it->first + i - m_handedOn] = static_cast<std::uint8_t>(it->second >> (8 * i));
    if (m_sink) m_sink(std::span<const std::uint8_t>(m_bytes.data(), count));
    m_bytes.erase(m_bytes.begin(), m_bytes.begin() + std::ptrdiff_t(count));
    m_handedOn = end;
}

void BiffRecordWriter::finish() {
    if (m_recordStart != NoRecord) throw std::logic_error("BIFF stream finished inside a record");
    if (m_streaming) handOn(m_bytes.size());
}
