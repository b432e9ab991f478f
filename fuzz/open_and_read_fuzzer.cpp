// Opens arbitrary bytes as the program's Impuest.mdb and runs the program's own reads on them, touching every
// value they give and writing every movement as a line. A damaged file may fail with a run-time error; anything
// else (a crash, a sanitizer report, another exception, a hang) is a defect.
#include "database/Database.h"
#include "export/Form1.h"
#include "extraction/DeclarationWalk.h"
#include "formats/RecordLine.h"
#include "platform/MessageBoxes.h"
#include "runtime/RuntimeError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

void readMovements(Form1& form, MovementTable table, std::int32_t key, std::int32_t sid) {
    form.Conn->movements(table, key, sid, [&](const Movement& m) {
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
    for (const TaxpayerRow& row : form.Conn->taxpayers()) {
        consume(row.CMD_NumRef);
        consume(row.CMD_Contribuyente);
        if (keys.size() == kMaxTaxpayers || row.CMD_NumRef.isNull()) continue;
        try {
            if (const auto found = form.Conn->taxpayerByReference(Conv::CStr(row.CMD_NumRef))) {
                consume(found->CMD_ID);
                keys.push_back(Conv::CLng(found->CMD_ID));
            }
        } catch (const RuntimeError&) {}
    }
    for (std::int32_t key : keys) {
        const std::vector<DeclarationGroup> groups = form.Conn->declarationGroups(key);
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
    // Written long ago, as far as the reader can tell: a file written a moment before it is read is read again
    // once it has settled, which would make every input wait.
    const timespec past[2] = {{0, UTIME_OMIT}, {1'000'000'000, 0}};
    if (::utimensat(AT_FDCWD, g_path.c_str(), past, 0) != 0) std::abort();
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
