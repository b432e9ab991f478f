// Windows has no libfreexl: the workbook's stream is read through the system's structured storage, which did not
// write it if the program did not, and its records are decoded here as the format defines them: the sheet's name
// (BOUNDSHEET), the shared strings (SST and its CONTINUE records), the sheet's size (DIMENSIONS), and the cells
// the program writes (LABELSST, NUMBER). Any other kind of cell fails the test, as libfreexl would name it.
#include "support/WorkbookReader.h"

#include "runtime/TextCodecs.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

struct Release {
    void operator()(IUnknown* object) const noexcept { object->Release(); }
};
template <typename T>
using ComRef = std::unique_ptr<T, Release>;

}  // namespace

std::string workbookStream(const std::filesystem::path& path) {
    IStorage* storage = nullptr;
    if (FAILED(::StgOpenStorageEx(path.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, STGFMT_STORAGE, 0, nullptr, nullptr,
                                  IID_IStorage, reinterpret_cast<void**>(&storage))))
        return {};
    const ComRef<IStorage> root(storage);
    IStream* stream = nullptr;
    if (FAILED(root->OpenStream(L"Workbook", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream))) return {};
    const ComRef<IStream> workbook(stream);
    STATSTG status{};
    if (FAILED(workbook->Stat(&status, STATFLAG_NONAME))) return {};
    std::string bytes(static_cast<std::size_t>(status.cbSize.QuadPart), '\0');
    ULONG read = 0;
    if (FAILED(workbook->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read))) return {};
    bytes.resize(read);
    return bytes;
}

namespace {

// The records of a stream, each its type and its data.
struct Record {
    std::uint16_t type;
    std::string_view data;
};

std::uint16_t u16(std::string_view data, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(data.at(at)) |
                                      static_cast<unsigned char>(data.at(at + 1)) << 8);
}
std::uint32_t u32(std::string_view data, std::size_t at) {
    return u16(data, at) | static_cast<std::uint32_t>(u16(data, at + 2)) << 16;
}

// The shared strings of an SST record and the CONTINUE records after it, each piece of a text that goes on in the
// next record starting again with its flags.
class SharedStrings {
public:
    explicit SharedStrings(std::vector<std::string_view> parts) : m_parts(std::move(parts)) {}

    std::vector<std::string> texts() {
        std::vector<std::string> texts;
        const std::uint32_t unique = u32(m_parts.at(0), 4);
        m_at = 8;
        for (std::uint32_t i = 0; i < unique; ++i) {
            nextPartAtEnd();
            const std::uint16_t length = u16(m_parts[m_part], m_at);
            std::uint8_t flags = byte(m_at + 2);
            EXPECT_EQ(flags & 0x0C, 0) << "a rich or extended string";
            m_at += 3;
            std::u16string text;
            while (text.size() < length) {
                if (nextPartAtEnd()) flags = byte(m_at++);
                text += (flags & 1) ? static_cast<char16_t>(u16(m_parts[m_part], m_at)) : char16_t{byte(m_at)};
                m_at += (flags & 1) ? 2 : 1;
            }
            std::string utf8;
            appendUtf8FromUtf16(utf8, text);
            texts.push_back(utf8);
        }
        return texts;
    }

private:
    std::uint8_t byte(std::size_t at) const { return static_cast<std::uint8_t>(m_parts[m_part].at(at)); }
    bool nextPartAtEnd() {
        if (m_at < m_parts[m_part].size()) return false;
        ++m_part;
        m_at = 0;
        return true;
    }

    std::vector<std::string_view> m_parts;
    std::size_t m_part = 0, m_at = 0;
};

}  // namespace

ReadBook readBook(const std::filesystem::path& path) {
    ReadBook book;
    const std::string stream = workbookStream(path);
    EXPECT_FALSE(stream.empty()) << path << " holds no Workbook stream";
    std::vector<Record> records;
    for (std::size_t at = 0; at + 4 <= stream.size();) {
        const std::uint16_t type = u16(stream, at), size = u16(stream, at + 2);
        if (at + 4 + size > stream.size()) {
            ADD_FAILURE() << path << ": a record runs past the stream's end";
            break;
        }
        records.push_back({type, std::string_view(stream).substr(at + 4, size)});
        at += 4 + size;
        if (type == 0x000A &&
            std::count_if(records.begin(), records.end(), [](const Record& r) { return r.type == 0x000A; }) == 2)
            break;
    }
    std::vector<std::string> strings;
    bool firstSheet = true;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const Record& record = records[i];
        switch (record.type) {
            case 0x0085:  // BOUNDSHEET: position, state and type, then the name as a short string
                if (firstSheet) {
                    const std::size_t length = static_cast<unsigned char>(record.data.at(6));
                    std::u16string name;
                    const bool wide = record.data.at(7) & 1;
                    for (std::size_t c = 0; c < length; ++c)
                        name += wide ? static_cast<char16_t>(u16(record.data, 8 + 2 * c))
                                     : char16_t{static_cast<unsigned char>(record.data.at(8 + c))};
                    appendUtf8FromUtf16(book.sheetName, name);
                    firstSheet = false;
                }
                break;
            case 0x00FC: {  // SST, and the CONTINUE records right after it
                std::vector<std::string_view> parts = {record.data};
                while (i + 1 < records.size() && records[i + 1].type == 0x003C) parts.push_back(records[++i].data);
                book.strings = u32(record.data, 4);
                strings = SharedStrings(parts).texts();
                break;
            }
            case 0x0200:  // DIMENSIONS: first row, the row past the last, first column, the column past the last
                book.rows = u32(record.data, 4);
                book.columns = u16(record.data, 10);
                break;
            case 0x00FD:  // LABELSST: row, column, format, string index
                book.cells[{u16(record.data, 0) + 1u, u16(record.data, 2) + 1u}] = strings.at(u32(record.data, 6));
                break;
            case 0x0203: {  // NUMBER: row, column, format, the number's bits
                double number = 0;
                std::memcpy(&number, record.data.data() + 6, sizeof number);
                book.cells[{u16(record.data, 0) + 1u, u16(record.data, 2) + 1u}] = number;
                break;
            }
            case 0x027E:  // RK
            case 0x00BD:  // MULRK
            case 0x0204:  // LABEL
            case 0x0006:  // FORMULA
            case 0x0205:  // BOOLERR
                ADD_FAILURE() << path << ": a cell of a kind the program does not write (record " << record.type << ")";
                break;
            default: break;
        }
    }
    return book;
}

ReadBook readXlsx(const std::filesystem::path& path) {
    ADD_FAILURE() << path << ": the Windows build writes no .xlsx, and has nothing to read one with";
    return {};
}
