// Opens arbitrary bytes, held in memory, as the program's Impuest.mdb and runs the program's own reads on them,
// touching every value they give and writing every movement as a line. A damaged file may fail with a run-time
// error; anything else (a crash, a sanitizer report, another exception, a hang) is a defect.
#include "database/JetDatabase.h"
#include "export/Form1.h"
#include "extraction/DeclarationWalk.h"
#include "formats/RecordLine.h"
#include "jetfile/PageSource.h"
#include "platform/Clock.h"
#include "platform/MessageBoxes.h"
#include "runtime/RuntimeError.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

// Bounds the work one input can cause, so that a large valid file does not count as a hang.
constexpr std::size_t kMaxTaxpayers = 6;
constexpr std::size_t kMaxDeclarations = 12;

class SilentBoxes : public MessageBoxes {
public:
    MsgAnswer MsgBox(const std::string&, MsgIcon, MsgButtons buttons, const std::optional<std::string>&) override {
        return buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::OK;
    }
};

// A clock long past the file's only write: the file never looks as if it were being written, and no read waits.
class StillClock final : public Clock {
public:
    std::int64_t now() const override { return std::int64_t(1) << 60; }
    void sleep(std::chrono::milliseconds) override {}
};

// Keeps the reads from being optimised away.
std::size_t g_sink = 0;

// Touches a value the way the writers do, so that every conversion meets what the file holds.
void consume(const Value& v) {
    switch (v.kind()) {
        case Value::Kind::Null: break;
        case Value::Kind::Text: g_sink += v.asText().size(); break;
        default: g_sink += static_cast<std::size_t>(v.asDouble() != 0); break;
    }
    try {
        g_sink += Conv::CStr(v).size();
        g_sink += static_cast<std::size_t>(Conv::CLng(v));
    } catch (const RuntimeError&) {}
}

void readMovements(Form1& form, MovementTable table, std::int32_t key, std::int32_t sid) {
    form.currentReading().movements(table, key, sid, [&](const Movement& m) {
        for (const Value* v :
             {&m.CMD_NumRef, &m.CP01_IngBrut, &m.tipo, &m.Per_Fecha, &m.Per_Año, &m.Per_Mes, &m.Per_CUIT,
              &m.Per_NumAgenteRet, &m.Per_Responsable, &m.Per_Concepto, &m.Per_Monto, &m.Per_Monto1})
            consume(*v);
        for (const char* tipo : {"TXT", "CSV"}) {
            form.G_TIPO_ARCHIVO = tipo;
            try {
                g_sink += recordLine(m, LineFormat{form.G_SC, form.G_SD, form.G_TIPO_ARCHIVO}).size();
            } catch (const RuntimeError&) {}
        }
    });
}

void readEverything(Form1& form) {
    std::vector<std::int32_t> keys;
    Reading& reading = form.currentReading();
    for (const TaxpayerRow& row : reading.taxpayers()) {
        consume(row.CMD_NumRef);
        consume(row.CMD_Contribuyente);
        if (keys.size() == kMaxTaxpayers || row.CMD_NumRef.isNull()) continue;
        try {
            if (const auto found = reading.taxpayerByReference(Conv::CStr(row.CMD_NumRef))) {
                consume(found->CMD_ID);
                keys.push_back(Conv::CLng(found->CMD_ID));
            }
        } catch (const RuntimeError&) {}
    }
    for (std::int32_t key : keys) {
        const std::vector<DeclarationGroup> groups = reading.declarationGroups(key);
        for (std::size_t n = 0; n < groups.size() && n < kMaxDeclarations; ++n) {
            const DeclarationGroup& group = groups[n];
            for (const Value* v : {&group.CP01_ID, &group.Sid_Año, &group.Sid_Mes, &group.maximo}) consume(*v);
            std::int32_t sid = 0;
            try {
                sid = Obtener_Sid(form, Conv::CLng(group.CP01_ID), Conv::CStr(group.maximo));
            } catch (const RuntimeError&) {
                continue;
            }
            readMovements(form, MovementTable::Retenciones, key, sid);
            readMovements(form, MovementTable::Percepciones, key, sid);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static StillClock clock;
    MemoryFile file(std::string(reinterpret_cast<const char*>(data), size), "Impuest.mdb");
    PlainControls controls;
    SilentBoxes boxes;
    Form1 form(controls, boxes, "/nonexistent");
    form.G_SC = ";";
    // The program's password first; a file that stores none opens with any, so the empty one only matters
    // when the stored password itself was damaged into something else.
    for (const char* password : {"Kb7731R28", ""}) {
        try {
            form.Conn = std::make_unique<JetDatabase>([&] { return file.open(); }, password, clock);
            form.reading = form.Conn->read();
        } catch (const RuntimeError&) {
            continue;
        }
        try {
            readEverything(form);
        } catch (const RuntimeError&) {}
        form.reading.reset();
        form.Conn->Close();
        break;
    }
    return 0;
}
