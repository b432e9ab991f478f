#include "extraction/MovementExtraction.h"

#include "extraction/ExportState.h"
#include "formats/RecordLine.h"
#include "formats/SpreadsheetRows.h"
#include "runtime/RuntimeError.h"

#include <limits>

namespace {

void exportar(ExportState& form, MovementTable table, std::int32_t key, std::int32_t sid, std::int32_t& row) {
    const bool workbook = form.G_TIPO_ARCHIVO == "XLS";
    const LineFormat format{form.G_SC, form.G_SD, form.G_TIPO_ARCHIVO};
    form.currentReading().movements(table, key, sid, [&](const Movement& movement) {
        form.stopWhenAsked();
        if (workbook) {
            Escribir_Fila_XLS(*form.vExcelSheet, movement, row);
            if (row == std::numeric_limits<std::int32_t>::max()) throw RuntimeError::overflow();
            ++row;
        } else {
            Escribir_Linea(*form.file1, movement, format);
        }
        ++form.movementsWritten;
        if (form.observer) form.observer->movementWritten(movement);
    });
}

}  // namespace

void Exportar_Retenciones(ExportState& form, std::int32_t& key, std::int32_t& sid, std::int32_t& row) {
    exportar(form, MovementTable::Retenciones, key, sid, row);
}

void Exportar_Percepciones(ExportState& form, std::int32_t& key, std::int32_t& sid, std::int32_t& row) {
    exportar(form, MovementTable::Percepciones, key, sid, row);
}
