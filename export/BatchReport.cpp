#include "export/BatchReport.h"

#include "platform/OutputFile.h"
#include "runtime/Value.h"
#include "workbook/XlsxWorkbook.h"

#include <functional>

namespace {

constexpr const char* kTitle = "Exportación de todos los contribuyentes";
constexpr const char* kColumns[] = {"Contribuyente", "Nombre", "Movimientos", "Resultado", "CUIT"};

// The report's lines, each a list of cells: what was asked, a blank line, the columns' names and the rows.
void forEachLine(const BatchReport& report, const std::function<void(const std::vector<Value>&)>& line) {
    line({Value::text(kTitle)});
    line({Value::text("Rango"), Value::text(report.desde), Value::text(report.hasta)});
    line({Value::text("Formato"), Value::text(report.format)});
    line({Value::text("Opciones"), Value::text(report.options)});
    line({Value::text("Fecha"), Value::text(report.madeAt)});
    line({Value::text("Filas"), Value::text(report.filter)});
    line({Value::text("Totales"), Value::text(report.totals)});
    line({});
    std::vector<Value> columns;
    for (const char* column : kColumns) columns.push_back(Value::text(column));
    line(columns);
    for (const BatchReport::Row& row : report.rows)
        line({Value::text(row.reference), Value::text(row.name), Value::integer(row.movements), Value::text(row.result),
              Value::text(row.cuit)});
}

std::string csvField(const Value& value) {
    if (value.kind() == Value::Kind::Integer) return std::to_string(value.asInteger());
    std::string field = "\"";
    for (const char c : value.asText()) {
        if (c == '"') field += '"';
        // One row stays one line.
        field += c == '\r' || c == '\n' ? ' ' : c;
    }
    return field + "\"";
}

}  // namespace

std::string reportOptions(bool replace, bool check, const std::string& folder) {
    return std::string("reemplazar los archivos existentes: ") + (replace ? "sí" : "no") +
           " · verificar CUIT: " + (check ? "sí" : "no") + " · carpeta de salida: " + folder;
}

std::string reportRows(bool onlyProblems) {
    return onlyProblems ? "solo los contribuyentes con problemas, en el orden de la tabla"
                        : "todos los contribuyentes, en el orden de la tabla";
}

void saveBatchReport(const BatchReport& report, const std::string& path) {
    if (path.ends_with(".xlsx")) {
        const std::unique_ptr<ExcelSheet> sheet = XlsxWorkbook::create(path);
        std::int32_t row = 0;
        forEachLine(report, [&](const std::vector<Value>& cells) {
            ++row;
            for (std::size_t c = 0; c < cells.size(); ++c)
                sheet->Application().setCell(row, static_cast<std::int16_t>(c + 1), cells[c]);
        });
        sheet->SaveAs(path);
        return;
    }
    const std::unique_ptr<OutputFile> file = makeOutputFile();
    file->Open(path);
    try {
        forEachLine(report, [&](const std::vector<Value>& cells) {
            std::string line;
            for (std::size_t c = 0; c < cells.size(); ++c) line += (c == 0 ? "" : ";") + csvField(cells[c]);
            file->PrintLine(line);
        });
        file->Close();
    } catch (...) {
        file->Abandon();
        throw;
    }
}
