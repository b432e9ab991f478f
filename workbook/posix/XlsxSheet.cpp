#include "workbook/posix/XlsxSheet.h"

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

// The writer's error in Spanish (its own words are English).
std::string writerError(lxw_error error) {
    switch (error) {
        case LXW_ERROR_MEMORY_MALLOC_FAILED: return "no hay memoria suficiente";
        case LXW_ERROR_CREATING_XLSX_FILE: return "no se puede crear el archivo";
        case LXW_ERROR_CREATING_TMPFILE: return "no se puede crear un archivo temporal";
        case LXW_ERROR_READING_TMPFILE: return "no se puede leer un archivo temporal";
        case LXW_ERROR_ZIP_FILE_OPERATION:
        case LXW_ERROR_ZIP_FILE_ADD:
        case LXW_ERROR_ZIP_CLOSE: return "no se puede escribir el archivo";
        case LXW_ERROR_MAX_STRING_LENGTH_EXCEEDED: return "el texto pasa de 32.767 caracteres";
        default: return "error " + std::to_string(int(error)) + " de la biblioteca de planillas";
    }
}

RuntimeError cellError(std::int32_t row, std::int16_t column, const std::string& reason) {
    return RuntimeError(RuntimeError::SpreadsheetError, "No se puede escribir la celda de la fila " +
                                                            std::to_string(row) + ", columna " +
                                                            std::to_string(column) + ": " + reason);
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
            throw RuntimeError(RuntimeError::FileError,
                               "No se puede crear la planilla " + target + ": " + RuntimeError::describe(error));
        }
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE;
        m_workbook.reset(workbook_new_opt(m_temp->path().c_str(), &options));
        if (m_workbook) m_sheet = workbook_add_worksheet(m_workbook.get(), "Hoja1");
        if (m_sheet == nullptr)
            throw RuntimeError(RuntimeError::SpreadsheetError,
                               "No se puede crear la planilla " + target + ": no se pudo empezar a escribirla");
    }

    void setVisible(bool visible) override { m_visible = visible; }
    bool Visible() const override { return m_visible; }
    void Quit() override { m_quit = true; }

    void setCell(std::int32_t row, std::int16_t column, const Value& value) override {
        if (m_quit) throw cellError(row, column, "la aplicación de planillas ya se cerró");
        if (m_saved) throw cellError(row, column, "la planilla ya se guardó");
        if (row < 1 || static_cast<std::uint32_t>(row) > RowLimit)
            throw cellError(row, column, "una planilla .XLSX tiene 1.048.576 filas, numeradas desde 1");
        if (column < 1 || static_cast<std::uint32_t>(column) > ColumnLimit)
            throw cellError(row, column, "una planilla .XLSX tiene 16.384 columnas, numeradas desde 1");
        if (row < m_row)
            throw cellError(row, column,
                            "las filas se escriben en orden, y ya se empezó la fila " + std::to_string(m_row));
        const auto r = static_cast<lxw_row_t>(row - 1);
        const auto c = static_cast<lxw_col_t>(column - 1);
        lxw_error error = LXW_NO_ERROR;
        switch (value.kind()) {
            case Value::Kind::Null: return;
            case Value::Kind::Text: {
                std::size_t units = 0;
                const std::string& text = cellText(value.asText(), m_scratch, units);
                if (units > XlsApplication::MaxCellText)
                    throw cellError(row, column, "el texto pasa de 32.767 caracteres");
                if (units == 0) return;
                if (m_sheet != nullptr) error = worksheet_write_string(m_sheet, r, c, text.c_str(), nullptr);
                break;
            }
            case Value::Kind::Integer:
            case Value::Kind::Double:
            case Value::Kind::Date: {
                const double number = value.asDouble();
                if (!std::isfinite(number)) throw cellError(row, column, "el valor no es un número finito");
                if (m_sheet != nullptr) error = worksheet_write_number(m_sheet, r, c, number, nullptr);
                break;
            }
        }
        if (error != LXW_NO_ERROR) throw cellError(row, column, writerError(error));
        m_row = row;
    }

    void save(const std::string& path) {
        const std::string prefix = "No se puede guardar la planilla " + path + ": ";
        if (m_quit)
            throw RuntimeError(RuntimeError::SpreadsheetError, prefix + "la aplicación de planillas ya se cerró");
        if (m_saved) throw RuntimeError(RuntimeError::SpreadsheetError, prefix + "la planilla ya se guardó");
        if (!m_temp) return;
        if (path != m_target)
            throw RuntimeError(RuntimeError::FileError, prefix + "la planilla se empezó para " + m_target);
        struct stat status {};
        if (::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
            throw RuntimeError(RuntimeError::FileError, prefix + "hay una carpeta con ese nombre");
        m_saved = true;
        m_sheet = nullptr;
        // workbook_close frees the workbook whatever it returns.
        const lxw_error error = workbook_close(m_workbook.release());
        try {
            if (error != LXW_NO_ERROR) throw RuntimeError(RuntimeError::FileError, prefix + writerError(error));
            // libxlsxwriter wrote the file under the temporary name: the commit syncs it and renames it.
            m_temp->commit();
            m_temp.reset();
        } catch (const std::system_error& failure) {
            m_temp.reset();
            throw RuntimeError(RuntimeError::FileError, prefix + RuntimeError::describe(failure));
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
