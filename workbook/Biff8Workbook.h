#pragma once

#include "workbook/BiffRecordWriter.h"
#include "workbook/XlsCellGrid.h"

#include <cstdint>
#include <string>
#include <vector>

// The "Workbook" stream of an Excel 97-2003 file (BIFF8) holding one worksheet with the cells of a grid: the
// workbook globals (fonts, cell formats, the sheet's entry, the shared strings) followed by the worksheet (row
// blocks with their index, then the cells). Every cell has the General format; texts go to the shared string
// table, each distinct text once; numbers keep their exact bits.
class Biff8Workbook {
public:
    // The grid must outlive this object and stay unchanged. Lays the stream out: a sheet name must have 1 to 31
    // characters (std::invalid_argument), a text at most 65,535 (std::length_error).
    Biff8Workbook(const XlsCellGrid& grid, std::u16string sheetName);

    // Hands the stream to `sink` a piece at a time, at least 4,096 bytes in all (zero bytes after the last record
    // make up a shorter stream, so that the compound file keeps it in ordinary sectors). Only a few records are
    // held at a time.
    void write(const BiffRecordWriter::Sink& sink) const;
    // The whole stream at once.
    std::vector<std::uint8_t> stream() const;

private:
    void emit(BiffRecordWriter& out) const;

    const XlsCellGrid& m_grid;
    std::u16string m_sheetName;
    BiffRecordWriter::Patches m_layout;  // what the records that point at others hold
};
