#include "platform/BiffRecordWriter.h"

#include <bit>
#include <stdexcept>

void BiffRecordWriter::begin(std::uint16_t type) {
    if (m_recordStart != NoRecord) throw std::logic_error("BIFF record started inside another record");
    m_recordStart = m_bytes.size();
    m_bytes.insert(m_bytes.end(), {static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(type >> 8), 0, 0});
}

void BiffRecordWriter::end() {
    if (m_recordStart == NoRecord) throw std::logic_error("BIFF record ended twice");
    const std::size_t length = m_bytes.size() - m_recordStart - 4;
    m_bytes[m_recordStart + 2] = static_cast<std::uint8_t>(length);
    m_bytes[m_recordStart + 3] = static_cast<std::uint8_t>(length >> 8);
    m_recordStart = NoRecord;
}

std::size_t BiffRecordWriter::room() const noexcept {
    if (m_recordStart == NoRecord) return 0;
    return MaxRecordData - (m_bytes.size() - m_recordStart - 4);
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
    if (at + 4 > m_bytes.size()) throw std::logic_error("BIFF patch beyond the stream");
    for (int i = 0; i < 4; ++i) m_bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void BiffRecordWriter::padTo(std::size_t size) {
    if (m_recordStart != NoRecord) throw std::logic_error("BIFF stream padded inside a record");
    if (m_bytes.size() < size) m_bytes.resize(size, 0);
}
