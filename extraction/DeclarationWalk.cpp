#include "extraction/DeclarationWalk.h"

#include "extraction/ExportState.h"
#include "extraction/MovementExtraction.h"
#include "runtime/Numeric.h"
#include "runtime/RuntimeError.h"
#include "selection/Form1Controls.h"

#include <cmath>
#include <exception>
#include <limits>
#include <vector>

namespace {

// The month of a group as the number aaaamm: the two texts joined, converted, rounded down.
std::int32_t periodKey(const DeclarationGroup& group) {
    const std::string text = Conv::textOrEmpty(group.Sid_Año) + Conv::textOrEmpty(group.Sid_Mes);
    const double value = std::floor(textToDouble(text));
    if (!(value >= std::numeric_limits<std::int32_t>::min() && value <= std::numeric_limits<std::int32_t>::max()))
        throw RuntimeError::overflow();
    return static_cast<std::int32_t>(value);
}

void generarTexto(ExportState& form, std::int32_t& key) {
    std::int32_t row = 1;
    recorrer_declaraciones(form, key, row);
}

// The groups of the range, in the walk's order, and the error met choosing them, if any: the walk raises it after
// the declarations chosen before it.
std::vector<const DeclarationGroup*> elegirGrupos(ExportState& form, const std::vector<DeclarationGroup>& groups,
                                                  std::exception_ptr& failure) {
    std::vector<const DeclarationGroup*> chosen;
    try {
        for (const DeclarationGroup& group : groups) {
            form.stopWhenAsked();
            const std::int32_t period = periodKey(group);
            // The range is read afresh for every row, as typed.
            const double desde = textToDouble(form.controls.txt_desde());
            const double hasta = textToDouble(form.controls.txt_hasta());
            if ((desde <= period) & (hasta >= period)) chosen.push_back(&group);
        }
    } catch (const ExportCancelled&) {
        throw;
    } catch (...) {
        failure = std::current_exception();
    }
    return chosen;
}

}  // namespace

void recorrer_declaraciones(ExportState& form, std::int32_t& key, std::int32_t& row) {
    const std::vector<DeclarationGroup> groups = form.currentReading().declarationGroups(key);
    // The groups of the range are chosen first, so that they are known before the first is exported.
    std::exception_ptr failure;
    const std::vector<const DeclarationGroup*> chosen = elegirGrupos(form, groups, failure);
    if (form.observer) form.observer->declarationsChosen(static_cast<std::int64_t>(chosen.size()));
    for (const DeclarationGroup* group : chosen) {
        form.stopWhenAsked();
        const std::int32_t cp01 = Conv::CLng(group->CP01_ID);
        const std::string maximo = Conv::CStr(group->maximo);
        std::int32_t sid = Obtener_Sid(form, cp01, maximo);
        Exportar_Retenciones(form, key, sid, row);
        Exportar_Percepciones(form, key, sid, row);
        if (form.observer) form.observer->declarationDone();
    }
    if (failure) std::rethrow_exception(failure);
}

std::int64_t contarMovimientos(ExportState& form, std::int32_t key, std::int64_t limit) {
    struct Enough {};
    std::int64_t count = 0;
    try {
        const std::vector<DeclarationGroup> groups = form.currentReading().declarationGroups(key);
        std::exception_ptr failure;
        for (const DeclarationGroup* group : elegirGrupos(form, groups, failure)) {
            const std::int32_t cp01 = Conv::CLng(group->CP01_ID);
            const std::int32_t sid = Obtener_Sid(form, cp01, Conv::CStr(group->maximo));
            for (const MovementTable table : {MovementTable::Retenciones, MovementTable::Percepciones})
                form.currentReading().movements(table, key, sid, [&](const Movement&) {
                    if (++count > limit) throw Enough{};
                });
        }
    } catch (const Enough&) {
    } catch (const ExportCancelled&) {
        throw;
    } catch (const std::exception&) {}
    return count;
}

bool mayBeExported(const ExportState& form, const Value& year, const Value& month) {
    try {
        const std::int32_t period = periodKey(DeclarationGroup{{}, year, month, {}});
        return textToDouble(form.controls.txt_desde()) <= period && textToDouble(form.controls.txt_hasta()) >= period;
    } catch (const std::exception&) {
        return true;
    }
}

void Generar_TXT(ExportState& form, std::int32_t& key) { generarTexto(form, key); }

void Generar_CSV(ExportState& form, std::int32_t& key) { generarTexto(form, key); }

std::int32_t Obtener_Sid(ExportState& form, const std::int32_t& cp01, const std::string& maximo) {
    const std::optional<Value> sid = form.currentReading().declarationId(cp01, maximo);
    // Read from the first row without asking whether there is one.
    if (!sid) throw RuntimeError(RuntimeError::DatabaseError, "No hay ningún registro activo (al leer Sid_ID)");
    return Conv::CLng(*sid);
}
