// Opens arbitrary bytes as the program's Impuest.mdb and runs the program's own queries on them, reading every
// field of every row. A damaged file may fail with a run-time error; anything else (a crash, a sanitizer report,
// another exception, a hang) is a defect.
#include "export/Form1.h"
#include "extraction/DeclarationWalk.h"
#include "extraction/MovementExtraction.h"
#include "formats/RecordLine.h"
#include "platform/MessageBoxes.h"
#include "runtime/RuntimeError.h"
#include "source/Database.h"
#include "source/Recordset.h"

#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Bounds the work one input can cause, so that a large valid file does not count as a hang.
constexpr std::size_t kMaxTaxpayers = 6;
constexpr int kMaxDeclarations = 12;

const char* const kGroupedFields[] = {"CP01_id", "Sid_Año", "Sid_Mes", "maximo"};
const char* const kMovementFields[] = {
    "Cmd_ID",   "Sid_ID",           "CMD_NumRef",      "CP01_IngBrut", "anticipo",      "Sid_Tramite_Descrip",
    "tipo",     "Per_Fecha",        "Per_Año",         "Per_Mes",      "Sid_operacion", "Sid_Orden",
    "Per_CUIT", "Per_NumAgenteRet", "Per_Responsable", "Per_Concepto", "Per_Monto",     "Per_Monto1"};

class SilentBoxes : public MessageBoxes {
public:
    MsgAnswer MsgBox(const std::string&, MsgIcon, MsgButtons buttons, const std::optional<std::string>&) override {
        return buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::OK;
    }
};

std::string g_path;
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

template <std::size_t N>
void readRows(Recordset& rs, const char* const (&fields)[N]) {
    for (; !rs.isEOF(); rs.MoveNext())
        for (const char* name : fields) consume(rs.Fields(name));
}

void readMovements(Form1& form, const std::string& sql) {
    auto rs = form.Conn->OpenRecordset(sql);
    for (; !rs->isEOF(); rs->MoveNext()) {
        for (const char* name : kMovementFields) consume(rs->Fields(name));
        for (const char* tipo : {"TXT", "CSV"}) {
            form.G_TIPO_ARCHIVO = tipo;
            try {
                g_sink += recordLine(*rs, LineFormat{form.G_SC, form.G_SD, form.G_TIPO_ARCHIVO}).size();
            } catch (const RuntimeError&) {}
        }
    }
    rs->Close();
}

void readEverything(Form1& form) {
    std::vector<std::int32_t> keys;
    {
        auto rs = form.Conn->OpenRecordset(
            "SELECT CMD.CMD_ID, CMD.CMD_NumRef, CMD.CMD_Contribuyente "
            "FROM CMD order by CMD.CMD_Contribuyente;");
        for (; !rs->isEOF(); rs->MoveNext()) {
            for (const char* name : {"cmd_id", "cmd_numref", "cmd_contribuyente"}) consume(rs->Fields(name));
            try {
                if (keys.size() < kMaxTaxpayers) keys.push_back(Conv::CLng(rs->Fields("CMD_ID")));
            } catch (const RuntimeError&) {}
        }
        rs->Close();
    }
    for (std::int32_t key : keys) {
        auto rs = form.Conn->OpenRecordset(grouped_declarations_sql(key));
        for (int n = 0; !rs->isEOF() && n < kMaxDeclarations; rs->MoveNext(), ++n) {
            for (const char* name : kGroupedFields) consume(rs->Fields(name));
            std::int32_t sid = 0;
            try {
                sid = Obtener_Sid(form, Conv::CLng(rs->Fields("CP01_id")), Conv::CStr(rs->Fields("maximo")));
            } catch (const RuntimeError&) {
                continue;
            }
            readMovements(form, retenciones_sql(key, sid));
            readMovements(form, percepciones_sql(key, sid));
        }
        rs->Close();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static char folder[] = "/tmp/velmora-fuzz-XXXXXX";
    if (!::mkdtemp(folder)) std::abort();
    g_path = std::string(folder) + "/Impuest.mdb";
    // Every fuzzing job makes a folder of its own; a job that ends normally leaves nothing behind.
    std::atexit([] {
        ::unlink(g_path.c_str());
        ::rmdir(folder);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (std::FILE* out = std::fopen(g_path.c_str(), "wb")) {
        const bool written = std::fwrite(data, 1, size, out) == size;
        if (std::fclose(out) != 0 || !written) std::abort();
    } else {
        std::abort();
    }
    PlainControls controls;
    SilentBoxes boxes;
    Form1 form(controls, boxes, "/nonexistent");
    form.G_SC = ";";
    // The program's password first; a file that stores none opens with any, so the empty one only matters
    // when the stored password itself was damaged into something else.
    for (const char* connect : {";pwd=Kb7731R28", ""}) {
        try {
            form.Conn = Workspaces0()->OpenDatabase(g_path, false, false, connect);
        } catch (const RuntimeError&) {
            continue;
        }
        try {
            readEverything(form);
        } catch (const RuntimeError&) {}
        form.Conn->Close();
        break;
    }
    return 0;
}
