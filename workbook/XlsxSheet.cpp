#include "workbook/XlsxSheet.h"

#include "platform/SiblingTempFile.h"
#include "runtime/RuntimeError.h"
#include "runtime/TextCodecs.h"
#include "workbook/XlsApplication.h"

#include <sys/stat.h>
#include <xlsxwriter.h>

#include <cmath>
#include <optional>
#include <system_error>

namespace {

struct WorkbookFree {
    void operator()(lxw_workbook* workbook) const noexcept { lxw_workbook_free(workbook); }
};
using WorkbookHandle = std::unique_ptr<lxw_workbook, WorkbookFree>;

RuntimeError cellError(std::int32_t row, std::int16_t column, const std::string& reason) {
    return RuntimeError(RuntimeError::SpreadsheetError,
                        "cannot set cell (" + std::to_string(row) + ", " + std::to_string(column) + "): " + reason);
}

// The text as the cell holds it, UTF-8 with each invalid sequence made one U+FFFD as in an .XLS cell (in `scratch`
// when that changes it), and its length in UTF-16 units, the unit of Excel's limit.
const std::string& cellText(const std::string& text, std::string& scratch, std::size_t& units) {
    units = 0;
    bool repaired = false;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t start = pos;
        char32_t cp = 0;
        if (!decodeUtf8(text, pos, cp)) {
            if (!repaired) scratch.assign(text, 0, start);
            repaired = true;
            cp = U'\uFFFD';
        }
        units += cp >= 0x10000 ? 2 : 1;
        if (repaired) appendUtf8(scratch, cp);
    }
    return repaired ? scratch : text;
}

}  // namespace

// The workbook being written (none for a sheet that only checks) and the application around its one sheet.
class XlsxSheet::Book final : public ExcelApplication {
public:
    Book() = default;

    explicit Book(const std::string& target) : m_target(target) {
        try {
            m_temp.emplace(target);
        } catch (const std::system_error& error) {
            throw RuntimeError(RuntimeError::FileError, "cannot create workbook " + target + ": " + error.what());
        }
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE;
        m_workbook.reset(workbook_new_opt(m_temp->path().c_str(), &options));
        if (m_workbook) m_sheet = workbook_add_worksheet(m_workbook.get(), "Hoja1");
        if (m_sheet == nullptr)
            throw RuntimeError(RuntimeError::SpreadsheetError,
                               "cannot create workbook " + target + ": libxlsxwriter could not start it");
    }

    void setVisible(bool visible) override { m_visible = visible; }
    bool Visible() const override { return m_visible; }
    void Quit() override { m_quit = true; }

    void setCell(std::int32_t row, std::int16_t column, const Value& value) override {
        if (m_quit) throw cellError(row, column, "the spreadsheet application has quit");
        if (m_saved) throw cellError(row, column, "the workbook has been saved");
        if (row < 1 || static_cast<std::uint32_t>(row) > RowLimit)
            throw cellError(row, column, "the workbook format holds 1,048,576 rows, numbered from 1");
        if (column < 1 || static_cast<std::uint32_t>(column) > ColumnLimit)
            throw cellError(row, column, "the workbook format holds 16,384 columns, numbered from 1");
        if (row < m_row)
            throw cellError(row, column, "rows are written in order, and row " + std::to_string(m_row) + " has begun");
        const auto r = static_cast<lxw_row_t>(row - 1);
        const auto c = static_cast<lxw_col_t>(column - 1);
        lxw_error error = LXW_NO_ERROR;
        switch (value.kind()) {
            case Value::Kind::Null: return;
            case Value::Kind::Text: {
                std::size_t units = 0;
                const std::string& text = cellText(value.asText(), m_scratch, units);
                if (units > XlsApplication::MaxCellText)
                    throw cellError(row, column, "the cell text exceeds 32,767 characters");
                if (units == 0) return;
                if (m_sheet != nullptr) error = worksheet_write_string(m_sheet, r, c, text.c_str(), nullptr);
                break;
            }
            case Value::Kind::Integer:
            case Value::Kind::Double:
            case Value::Kind::Date: {
                const double number = value.asDouble();
                if (!std::isfinite(number)) throw cellError(row, column, "the value is not a finite number");
                if (m_sheet != nullptr) error = worksheet_write_number(m_sheet, r, c, number, nullptr);
                break;
            }
        }
        if (error != LXW_NO_ERROR) throw cellError(row, column, lxw_strerror(error));
        m_row = row;
    }

    void save(const std::string& path) {
        const std::string prefix = "cannot save workbook " + path + ": ";
        if (m_quit) throw RuntimeError(RuntimeError::SpreadsheetError, prefix + "the spreadsheet application has quit");
        if (m_saved) throw RuntimeError(RuntimeError::SpreadsheetError, prefix + "the workbook has been saved");
        if (!m_temp) return;
        if (path != m_target)
            throw RuntimeError(RuntimeError::FileError, prefix + "the workbook was begun for " + m_target);
        struct stat status {};
        if (::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
            throw RuntimeError(RuntimeError::FileError, prefix + "a folder of that name exists");
        m_saved = true;
        m_sheet = nullptr;
        // workbook_close frees the workbook whatever it returns.
        const lxw_error error = workbook_close(m_workbook.release());
        try {
            if (error != LXW_NO_ERROR) throw RuntimeError(RuntimeError::FileError, prefix + lxw_strerror(error));
            // libxlsxwriter wrote the file under the temporary name: the commit syncs it and renames it.
            m_temp->commit();
            m_temp.reset();
        } catch (const std::system_error& failure) {
            m_temp.reset();
            throw RuntimeError(RuntimeError::FileError, prefix + failure.what());
        } catch (...) {
            m_temp.reset();
            throw;
        }
    }

private:
    std::string m_target;
    // Declared before the workbook, so that the workbook is freed first and the temporary file removed after.
    std::optional<SiblingTempFile> m_temp;
    WorkbookHandle m_workbook;
    lxw_worksheet* m_sheet = nullptr;  // owned by the workbook
    std::string m_scratch;
    std::int32_t m_row = 1;  // the last row written
    bool m_visible = false;
    bool m_quit = false;
    bool m_saved = false;
};

XlsxSheet::XlsxSheet(const std::string& target) : m_book(std::make_unique<Book>(target)) {}

XlsxSheet::XlsxSheet() : m_book(std::make_unique<Book>()) {}

XlsxSheet::~XlsxSheet() = default;

ExcelApplication& XlsxSheet::Application() { return *m_book; }

void XlsxSheet::SaveAs(const std::string& path) { m_book->save(path); }
