#include "workbook/Biff8Workbook.h"

#include "workbook/BiffRecordWriter.h"

#include <algorithm>
#include <limits>
#include <span>
#include <stdexcept>
#include <utility>

namespace {

// Record types.
enum : std::uint16_t {
    Dimensions = 0x0200,
    Eof = 0x000A,
    CalcCount = 0x000C,
    CalcMode = 0x000D,
    Precision = 0x000E,
    RefMode = 0x000F,
    Delta = 0x0010,
    Iteration = 0x0011,
    Protect = 0x0012,
    Password = 0x0013,
    WindowProtect = 0x0019,
    DateMode = 0x0022,
    PrintHeaders = 0x002A,
    PrintGridlines = 0x002B,
    Font = 0x0031,
    Continue = 0x003C,
    Window1 = 0x003D,
    Backup = 0x0040,
    CodePage = 0x0042,
    DefColWidth = 0x0055,
    SaveRecalc = 0x005F,
    Guts = 0x0080,
    WsBool = 0x0081,
    GridSet = 0x0082,
    BoundSheet = 0x0085,
    HideObj = 0x008D,
    Mms = 0x00C1,
    DbCell = 0x00D7,
    BookBool = 0x00DA,
    Xf = 0x00E0,
    InterfaceHdr = 0x00E1,
    InterfaceEnd = 0x00E2,
    Sst = 0x00FC,
    LabelSst = 0x00FD,
    ExtSst = 0x00FF,
    TabId = 0x013D,
    UsesElfs = 0x0160,
    Dsf = 0x0161,
    Prot4Rev = 0x01AF,
    RefreshAll = 0x01B7,
    Prot4RevPass = 0x01BC,
    Number = 0x0203,
    Row = 0x0208,
    Index = 0x020B,
    DefaultRowHeight = 0x0225,
    Window2 = 0x023E,
    Style = 0x0293,
    Bof = 0x0809,
};

constexpr std::uint16_t WorkbookGlobals = 0x0005;
constexpr std::uint16_t Worksheet = 0x0010;
constexpr std::uint16_t Utf16CodePage = 1200;
// The cell format every cell uses: the first after the 15 style formats.
constexpr std::uint16_t CellXf = 15;
constexpr std::uint32_t RowsPerBlock = 32;
constexpr std::size_t RowRecordSize = 20;
constexpr std::size_t MinimumStreamSize = 4096;
// A text of more characters could not be addressed by the 16-bit count of a BIFF8 string.
constexpr std::size_t MaxTextLength = 0xFFFF;

void bof(BiffRecordWriter& out, std::uint16_t substream) {
    out.begin(Bof);
    out.u16(0x0600);  // BIFF8
    out.u16(substream);
    out.u16(0x0DBB);  // build and year of the application version the records follow (Excel 97)
    out.u16(0x07CC);
    out.u32(0x00000041);  // written on Windows
    out.u32(0x00000006);  // readable by BIFF8 and later
    out.end();
}

void u16Record(BiffRecordWriter& out, std::uint16_t type, std::uint16_t value) {
    out.begin(type);
    out.u16(value);
    out.end();
}

void font(BiffRecordWriter& out) {
    static constexpr char kName[] = "Arial";
    out.begin(Font);
    out.u16(200);     // 10 points, in twentieths
    out.u16(0);       // not italic, not struck out
    out.u16(0x7FFF);  // the window text colour
    out.u16(400);     // normal weight
    out.u16(0);       // neither superscript nor subscript
    out.u8(0);        // not underlined
    out.u8(0);        // family
    out.u8(0);        // character set
    out.u8(0);
    out.u8(sizeof kName - 1);
    out.u8(0);  // one byte per character
    for (const char c : std::span(kName, sizeof kName - 1)) out.u8(static_cast<std::uint8_t>(c));
    out.end();
}

// A cell format record: font, number format, protection and parent flags, and the attribute-use bits; the rest
// is Excel's default (bottom alignment, no borders, no fill).
void xf(BiffRecordWriter& out, std::uint16_t fontIndex, std::uint16_t flags, std::uint8_t usedAttributes) {
    out.begin(Xf);
    out.u16(fontIndex);
    out.u16(0);  // General number format
    out.u16(flags);
    out.u8(0x20);  // bottom-aligned
    out.u8(0);
    out.u8(0);
    out.u8(usedAttributes);
    out.u32(0);  // no borders
    out.u32(0);
    out.u16(0x20C0);  // default pattern colours
    out.end();
}

void globalsPrologue(BiffRecordWriter& out) {
    bof(out, WorkbookGlobals);
    u16Record(out, InterfaceHdr, Utf16CodePage);
    u16Record(out, Mms, 0);
    out.empty(InterfaceEnd);
    u16Record(out, CodePage, Utf16CodePage);
    u16Record(out, Dsf, 0);
    u16Record(out, TabId, 1);
    u16Record(out, WindowProtect, 0);
    u16Record(out, Protect, 0);
    u16Record(out, Password, 0);
    u16Record(out, Prot4Rev, 0);
    u16Record(out, Prot4RevPass, 0);

    out.begin(Window1);
    for (const std::uint16_t v : {0x0168, 0x010E, 0x3A5C, 0x23BE, 0x0038, 0, 0, 1, 0x0258}) out.u16(v);
    out.end();

    u16Record(out, Backup, 0);
    u16Record(out, HideObj, 0);
    u16Record(out, DateMode, 0);  // dates count from 1900
    u16Record(out, Precision, 1);
    u16Record(out, RefreshAll, 0);
    u16Record(out, BookBool, 0);

    // Five fonts: readers skip index 4, so a cell's font 5 is the fifth record.
    for (int i = 0; i < 5; ++i) font(out);

    // The 15 style formats (Normal, then the built-in styles' defaults) and the one cell format.
    constexpr std::uint16_t StyleFlags = 0xFFF5;  // locked, a style, no parent
    xf(out, 0, StyleFlags, 0x00);
    for (const std::uint16_t f : {1, 1, 2, 2}) xf(out, f, StyleFlags, 0xF4);
    for (int i = 5; i < 15; ++i) xf(out, 0, StyleFlags, 0xF4);
    xf(out, 0, 0x0001, 0x00);  // locked, parent style 0 (Normal)

    out.begin(Style);
    out.u16(0x8000);  // built-in style of format 0
    out.u8(0);        // Normal
    out.u8(0xFF);
    out.end();

    u16Record(out, UsesElfs, 0);
}

// The shared strings in the order the cells first use them; texts no cell holds any more are left out. A sheet
// filled in order uses its texts in the order the grid stored them, and then a text's id is its place in the table:
// no map is kept (it would take eight bytes for every text of the sheet).
struct SharedStrings {
    std::uint32_t count = 0;
    std::vector<std::uint32_t> index;  // by text id, when not the id itself
    std::vector<std::uint32_t> texts;  // text ids, by place, when not the place itself

    std::uint32_t placeOf(std::uint32_t id) const { return index.empty() ? id : index[id]; }
    std::uint32_t textAt(std::uint32_t place) const { return texts.empty() ? place : texts[place]; }
};

// One entry of the EXTSST index: where a bucket's first string starts.
struct SstBucket {
    std::uint32_t streamPosition;
    std::uint16_t recordOffset;
};

bool isHighSurrogate(char16_t unit) noexcept { return unit >= 0xD800 && unit <= 0xDBFF; }

// The shared string table, split into CONTINUE records at 8,224 bytes. A string's header (count and flags)
// never ends a record without at least its first character behind it; where the characters go on in the next
// record it starts with the flags byte again; a surrogate pair is never cut. A text whose characters all lie below
// U+0100 is stored one byte per character, any other as UTF-16LE.
std::vector<SstBucket> sst(BiffRecordWriter& out, const XlsCellGrid& grid, const SharedStrings& texts,
                           std::uint32_t references, std::size_t bucketSize) {
    std::vector<SstBucket> buckets;
    out.begin(Sst);
    out.u32(references);
    out.u32(texts.count);
    for (std::uint32_t index = 0; index < texts.count; ++index) {
        const std::u16string_view text = grid.text(texts.textAt(index));
        const bool compressed = std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x100; });
        const std::size_t unitSize = compressed ? 1 : 2;
        const std::uint8_t flags = compressed ? 0x00 : 0x01;
        const std::size_t firstUnits = (!text.empty() && isHighSurrogate(text[0])) ? 2 : 1;
        if (out.room() < 3 + firstUnits * unitSize) {
            out.end();
            out.begin(Continue);
        }
        if (index % bucketSize == 0)
            buckets.push_back({static_cast<std::uint32_t>(out.position()),
                               static_cast<std::uint16_t>(out.position() - out.recordStart())});
        out.u16(static_cast<std::uint16_t>(text.size()));
        out.u8(flags);
        std::size_t done = 0;
        for (;;) {
            std::size_t count = std::min(text.size() - done, out.room() / unitSize);
            if (done + count < text.size() && count > 0 && isHighSurrogate(text[done + count - 1])) --count;
            for (const char16_t unit : text.substr(done, count)) {
                if (compressed)
                    out.u8(static_cast<std::uint8_t>(unit));
                else
                    out.u16(unit);
            }
            done += count;
            if (done == text.size()) break;
            out.end();
            out.begin(Continue);
            out.u8(flags);
        }
    }
    out.end();
    return buckets;
}

void extSst(BiffRecordWriter& out, std::size_t bucketSize, const std::vector<SstBucket>& buckets) {
    out.begin(ExtSst);
    out.u16(static_cast<std::uint16_t>(bucketSize));
    for (const SstBucket& bucket : buckets) {
        out.u32(bucket.streamPosition);
        out.u16(bucket.recordOffset);
        out.u16(0);
    }
    out.end();
}

}  // namespace

Biff8Workbook::Biff8Workbook(const XlsCellGrid& grid, std::u16string sheetName)
    : m_grid(grid), m_sheetName(std::move(sheetName)) {
    if (m_sheetName.empty() || m_sheetName.size() > 31)
        throw std::invalid_argument("el nombre de una hoja tiene de 1 a 31 caracteres");
    BiffRecordWriter layout(nullptr, {});
    emit(layout);
    m_layout = layout.patches();
}

void Biff8Workbook::write(const BiffRecordWriter::Sink& sink) const {
    BiffRecordWriter out(sink, m_layout);
    emit(out);
}

std::vector<std::uint8_t> Biff8Workbook::stream() const {
    BiffRecordWriter out;
    emit(out);
    return std::move(out).take();
}

void Biff8Workbook::emit(BiffRecordWriter& out) const {
    SharedStrings shared;
    bool inOrder = true;  // every text first used after the texts stored before it, and none unused so far
    std::uint32_t textCells = 0;
    std::uint32_t firstRow = XlsCellGrid::RowLimit, lastRow = 0;
    std::uint16_t firstColumn = XlsCellGrid::ColumnLimit - 1, lastColumn = 0;
    std::vector<std::uint32_t> blocks;  // row / RowsPerBlock of every block with cells
    for (std::uint32_t r = 0; r < m_grid.rowSpan(); ++r) {
        const auto cells = m_grid.row(r);
        if (cells.empty()) continue;
        firstRow = std::min(firstRow, r);
        lastRow = r;
        firstColumn = std::min(firstColumn, cells.front().column());
        lastColumn = std::max(lastColumn, cells.back().column());
        if (blocks.empty() || blocks.back() != r / RowsPerBlock) blocks.push_back(r / RowsPerBlock);
        for (const XlsCellGrid::Cell& cell : cells) {
            if (!cell.isText()) continue;
            ++textCells;
            if (cell.text() == shared.count)
                ++shared.count;
            else if (cell.text() > shared.count)
                inOrder = false;
        }
    }
    if (!inOrder || shared.count != m_grid.textCount()) {
        constexpr std::uint32_t Unused = std::numeric_limits<std::uint32_t>::max();
        shared = SharedStrings{0, std::vector<std::uint32_t>(m_grid.textCount(), Unused), {}};
        for (std::uint32_t r = 0; r < m_grid.rowSpan(); ++r)
            for (const XlsCellGrid::Cell& cell : m_grid.row(r))
                if (cell.isText() && shared.index[cell.text()] == Unused) {
                    shared.index[cell.text()] = shared.count++;
                    shared.texts.push_back(cell.text());
                }
    }
    const bool hasCells = !blocks.empty();

    globalsPrologue(out);

    out.begin(BoundSheet);
    const std::size_t sheetPositionAt = out.position();
    out.u32(0);  // the worksheet's BOF, filled in below
    out.u8(0);   // visible
    out.u8(0);   // a worksheet
    out.u8(static_cast<std::uint8_t>(m_sheetName.size()));
    out.u8(0x01);
    for (const char16_t unit : m_sheetName) out.u16(unit);
    out.end();

    // Excel's choice: at most 128 buckets, of at least 8 strings.
    const std::size_t bucketSize = std::max<std::size_t>(8, (shared.count + 127) / 128);
    for (std::uint32_t place = 0; place < shared.count; ++place)
        if (m_grid.text(shared.textAt(place)).size() > MaxTextLength)
            throw std::length_error("un texto es demasiado largo para la planilla");
    const auto buckets = sst(out, m_grid, shared, textCells, bucketSize);
    extSst(out, bucketSize, buckets);
    out.empty(Eof);

    // The worksheet.
    out.patchU32(sheetPositionAt, static_cast<std::uint32_t>(out.position()));
    bof(out, Worksheet);

    out.begin(Index);
    out.u32(0);
    out.u32(hasCells ? firstRow : 0);
    out.u32(hasCells ? lastRow + 1 : 0);
    const std::size_t defColWidthAt = out.position();
    out.u32(0);  // DEFCOLWIDTH's position, filled in below
    const std::size_t dbCellsAt = out.position();
    for (std::size_t i = 0; i < blocks.size(); ++i) out.u32(0);  // each block's DBCELL, filled in below
    out.end();

    u16Record(out, CalcMode, 1);  // automatic
    u16Record(out, CalcCount, 100);
    u16Record(out, RefMode, 1);  // A1 references
    u16Record(out, Iteration, 0);
    out.begin(Delta);
    out.f64(0.001);
    out.end();
    u16Record(out, SaveRecalc, 1);
    u16Record(out, PrintHeaders, 0);
    u16Record(out, PrintGridlines, 0);
    u16Record(out, GridSet, 1);
    out.begin(Guts);
    for (int i = 0; i < 4; ++i) out.u16(0);
    out.end();
    out.begin(DefaultRowHeight);
    out.u16(0);
    out.u16(0x00FF);
    out.end();
    u16Record(out, WsBool, 0x04C1);
    out.patchU32(defColWidthAt, static_cast<std::uint32_t>(out.position()));
    u16Record(out, DefColWidth, 8);

    out.begin(Dimensions);
    out.u32(hasCells ? firstRow : 0);
    out.u32(hasCells ? lastRow + 1 : 0);
    out.u16(hasCells ? firstColumn : 0);
    out.u16(hasCells ? lastColumn + 1 : 0);
    out.u16(0);
    out.end();

    // Row blocks: the ROW records of up to 32 rows, their cells, then a DBCELL pointing back at both.
    for (std::size_t block = 0; block < blocks.size(); ++block) {
        const std::uint32_t blockRow = blocks[block] * RowsPerBlock;
        const std::uint32_t blockEnd = std::min(m_grid.rowSpan(), (blocks[block] + 1) * RowsPerBlock);
        const std::size_t firstRowRecord = out.position();
        std::vector<std::uint32_t> rows;
        for (std::uint32_t r = blockRow; r < blockEnd; ++r) {
            const auto cells = m_grid.row(r);
            if (cells.empty()) continue;
            rows.push_back(r);
            out.begin(Row);
            out.u16(static_cast<std::uint16_t>(r));
            out.u16(cells.front().column());
            out.u16(static_cast<std::uint16_t>(cells.back().column() + 1));
            out.u16(0x00FF);  // default height
            out.u16(0);
            out.u16(0);
            out.u32(0x00000100 | (std::uint32_t{CellXf} << 16));
            out.end();
        }
        std::vector<std::size_t> firstCells;
        for (const std::uint32_t r : rows) {
            firstCells.push_back(out.position());
            for (const XlsCellGrid::Cell& cell : m_grid.row(r)) {
                out.begin(cell.isText() ? LabelSst : Number);
                out.u16(static_cast<std::uint16_t>(r));
                out.u16(cell.column());
                out.u16(CellXf);
                if (cell.isText())
                    out.u32(shared.placeOf(cell.text()));
                else
                    out.f64(m_grid.number(cell));
                out.end();
            }
        }
        out.patchU32(dbCellsAt + 4 * block, static_cast<std::uint32_t>(out.position()));
        out.begin(DbCell);
        out.u32(static_cast<std::uint32_t>(out.recordStart() - firstRowRecord));
        for (std::size_t i = 0; i < firstCells.size(); ++i) {
            const std::size_t from = i == 0 ? firstRowRecord + RowRecordSize : firstCells[i - 1];
            out.u16(static_cast<std::uint16_t>(firstCells[i] - from));
        }
        out.end();
    }

    out.begin(Window2);
    out.u16(0x06B6);  // gridlines, headings, zeros shown; the selected, active sheet
    out.u16(0);       // top row
    out.u16(0);       // left column
    out.u16(0x0040);  // gridline colour: automatic
    out.u16(0);
    out.u16(0);  // page-break preview zoom: default
    out.u16(0);  // normal zoom: default
    out.u32(0);
    out.end();
    out.empty(Eof);

    out.padTo(MinimumStreamSize);
    out.finish();
}
