#include "workbook/CompoundFile.h"

#include "platform/SiblingTempFile.h"
#include "platform/SystemError.h"
#include "platform/windows/WindowsError.h"
#include "workbook/Biff8Workbook.h"

#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

// One reference to a COM object, released when this goes away.
struct Release {
    void operator()(IUnknown* object) const noexcept { object->Release(); }
};
template <typename T>
using ComRef = std::unique_ptr<T, Release>;

// A global memory block locked for reading, unlocked when this goes away.
class Locked {
public:
    explicit Locked(HGLOBAL block) : m_block(block), m_data(::GlobalLock(block)) {}
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    ~Locked() {
        if (m_data != nullptr) ::GlobalUnlock(m_block);
    }
    const char* data() const noexcept { return static_cast<const char*>(m_data); }

private:
    HGLOBAL m_block;
    void* m_data;
};

// Why structured storage failed, in Spanish: a system error it passes on in its own words, the others in ours.
std::string reason(HRESULT result) {
    switch (result) {
        case E_OUTOFMEMORY:
        case STG_E_INSUFFICIENTMEMORY: return "no hay memoria suficiente";
        case STG_E_MEDIUMFULL: return "no queda espacio en el disco";
        default: break;
    }
    if (HRESULT_FACILITY(result) == FACILITY_WIN32)
        return systemErrorText(std::error_code(HRESULT_CODE(result), windowsCategory()));
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
    return std::string("error ") + code + " del almacenamiento estructurado";
}

void check(HRESULT result, const char* step) {
    if (FAILED(result)) throw std::runtime_error(std::string(step) + ": " + reason(result));
}

}  // namespace

// The compound file is built in memory, where structured storage lays out its sectors, and then written into the
// file as any export is, so that its failures (a full disk) are those of every file.
void writeCompoundFile(SiblingTempFile& file, const Biff8Workbook& book) {
    ILockBytes* bytes = nullptr;
    check(::CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes), "no se puede empezar el archivo");
    const ComRef<ILockBytes> memory(bytes);
    IStorage* storage = nullptr;
    // A new compound file of version 3: 512-byte sectors, as Excel 97-2003 writes them.
    check(
        ::StgCreateDocfileOnILockBytes(memory.get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &storage),
        "no se puede empezar el archivo");
    ComRef<IStorage> root(storage);
    IStream* stream = nullptr;
    check(root->CreateStream(L"Workbook", STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream),
          "no se puede agregar la hoja");
    ComRef<IStream> workbook(stream);
    book.write([&](std::span<const std::uint8_t> piece) {
        ULONG written = 0;
        check(workbook->Write(piece.data(), static_cast<ULONG>(piece.size()), &written),
              "no se puede escribir la hoja");
        if (written != piece.size()) throw std::runtime_error("no se puede escribir la hoja");
    });
    workbook.reset();
    check(root->Commit(STGC_DEFAULT), "no se puede escribir el archivo");
    root.reset();

    // The memory block may be larger than the file it holds.
    STATSTG status{};
    check(memory->Stat(&status, STATFLAG_NONAME), "no se puede terminar el archivo");
    HGLOBAL block = nullptr;
    check(::GetHGlobalFromILockBytes(memory.get(), &block), "no se puede terminar el archivo");
    const Locked locked(block);
    if (locked.data() == nullptr)
        throw std::runtime_error("no se puede terminar el archivo: no hay memoria suficiente");
    file.write(std::string_view(locked.data(), static_cast<std::size_t>(status.cbSize.QuadPart)));
}
