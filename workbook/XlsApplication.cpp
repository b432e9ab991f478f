#include "workbook/XlsApplication.h"

#include "runtime/RuntimeError.h"
#include "runtime/TextCodecs.h"

#include <cmath>
#include <string>

namespace {

RuntimeError cellError(std::int32_t row, std::int16_t column, const std::string& reason) {
    return RuntimeError(RuntimeError::SpreadsheetError, "No se puede escribir la celda de la fila " +
                                                            std::to_string(row) + ", columna " +
                                                            std::to_string(column) + ": " + reason);
}

}  // namespace

void XlsApplication::setCell(std::int32_t row, std::int16_t column, const Value& value) {
    if (m_quit) throw cellError(row, column, "la aplicación de planillas ya se cerró");
    if (row < 1 || static_cast<std::uint32_t>(row) > XlsCellGrid::RowLimit)
        throw cellError(row, column, "una planilla .XLS tiene 65.536 filas, numeradas desde 1");
    if (column < 1 || static_cast<std::uint32_t>(column) > XlsCellGrid::ColumnLimit)
        throw cellError(row, column, "una planilla .XLS tiene 256 columnas, numeradas desde 1");
    const auto r = static_cast<std::uint32_t>(row - 1);
    const auto c = static_cast<std::uint16_t>(column - 1);

    switch (value.kind()) {
        case Value::Kind::Null: m_cells.clear(r, c); return;
        case Value::Kind::Text: {
            std::u16string text = utf16FromUtf8(value.asText());
            if (text.size() > MaxCellText) throw cellError(row, column, "el texto pasa de 32.767 caracteres");
            if (text.empty())
                m_cells.clear(r, c);
            else
                m_cells.setText(r, c, std::move(text));
            return;
        }
        case Value::Kind::Integer:
        case Value::Kind::Double:
        case Value::Kind::Date: {
            const double number = value.asDouble();
            if (!std::isfinite(number)) throw cellError(row, column, "el valor no es un número finito");
            m_cells.setNumber(r, c, number);
            return;
        }
    }
}
