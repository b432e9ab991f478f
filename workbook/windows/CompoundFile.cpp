#include "workbook/CompoundFile.h"

#include "platform/SiblingTempFile.h"
#include "platform/SystemError.h"
#include "platform/windows/WindowsError.h"
#include "workbook/Biff8Workbook.h"

#include <objbase.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

// One reference to a COM object, released when this goes away.
struct Release {
    void operator()(IUnknown* object) const noexcept { object->Release(); }
};
template <typename T>
using ComRef = std::unique_ptr<T, Release>;

// The bytes of a compound file being built, in memory, for structured storage to lay its sectors out in: what it
// does not write of a sector it has allocated stays zero, where memory of the system's own (an HGLOBAL grown by
// GlobalReAlloc) would carry whatever was there before into the file. Owned by its creator: the references counted
// are structured storage's, all of them released before it goes away.
class MemoryBytes final : public ILockBytes {
public:
    const std::vector<char>& bytes() const noexcept { return m_bytes; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (id == IID_IUnknown || id == IID_ILockBytes) {
            *object = static_cast<ILockBytes*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_references; }

    HRESULT STDMETHODCALLTYPE ReadAt(ULARGE_INTEGER offset, void* into, ULONG count, ULONG* read) override {
        const std::uint64_t from = std::min<std::uint64_t>(offset.QuadPart, m_bytes.size());
        const auto n = static_cast<ULONG>(std::min<std::uint64_t>(count, m_bytes.size() - from));
        std::memcpy(into, m_bytes.data() + from, n);
        if (read != nullptr) *read = n;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE WriteAt(ULARGE_INTEGER offset, const void* from, ULONG count, ULONG* written) override {
        if (written != nullptr) *written = 0;
        try {
            if (offset.QuadPart + count > m_bytes.size()) m_bytes.resize(offset.QuadPart + count);
        } catch (const std::exception&) {
            return STG_E_INSUFFICIENTMEMORY;
        }
        std::memcpy(m_bytes.data() + offset.QuadPart, from, count);
        if (written != nullptr) *written = count;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Flush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override {
        try {
            m_bytes.resize(size.QuadPart);
        } catch (const std::exception&) {
            return STG_E_INSUFFICIENTMEMORY;
        }
        return S_OK;
    }
    // Nobody else sees these bytes: there is nothing to lock them against.
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* status, DWORD) override {
        *status = STATSTG{};
        status->type = STGTY_LOCKBYTES;
        status->cbSize.QuadPart = m_bytes.size();
        return S_OK;
    }

private:
    std::vector<char> m_bytes;
    ULONG m_references = 0;
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

// The compound file is built in memory, where structured storage lays its sectors out, and then written into the
// file as any export is, so that its failures (a full disk) are those of every file.
void writeCompoundFile(SiblingTempFile& file, const Biff8Workbook& book) {
    MemoryBytes memory;
    {
        IStorage* storage = nullptr;
        // A new compound file of version 3: 512-byte sectors, as Excel 97-2003 writes them.
        check(::StgCreateDocfileOnILockBytes(&memory, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &storage),
              "no se puede empezar el archivo");
        const ComRef<IStorage> root(storage);
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
    }
    file.write(std::string_view(memory.bytes().data(), memory.bytes().size()));
}
