#include "jetfile/JetHeader.h"

#include "runtime/RuntimeError.h"
#include "runtime/TextCodecs.h"

#include <array>
#include <cmath>
#include <cstring>

namespace {

constexpr std::size_t kMaskedRegionStart = 0x18;
constexpr std::size_t kPasswordOffset = 0x42;
constexpr std::size_t kCreationDateOffset = 0x72;

// RC4 keystream XORed over `data`. The header region is masked with a fixed key; it is not encryption.
void rc4(const std::array<unsigned char, 4>& key, unsigned char* data, std::size_t length) {
    std::array<unsigned char, 256> s{};
    for (int i = 0; i < 256; ++i) s[i] = static_cast<unsigned char>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % key.size()]) & 0xFF;
        std::swap(s[i], s[j]);
    }
    for (std::size_t n = 0, i = 0, j = 0; n < length; ++n) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        data[n] ^= s[(s[i] + s[j]) & 0xFF];
    }
}

// Whether a connect string's key is "pwd", whatever the case of its letters.
bool isPwdKey(std::string_view key) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
    return key.size() == 3 && lower(key[0]) == 'p' && lower(key[1]) == 'w' && lower(key[2]) == 'd';
}

std::uint32_t readU32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

std::string jet4Password(unsigned char* page) {
    // A second mask: the whole day number of the file's creation date, repeated over the password bytes.
    double created = 0;
    std::memcpy(&created, page + kCreationDateOffset, sizeof created);
    std::array<unsigned char, 4> mask{};
    if (std::isfinite(created) && created > -2.0e9 && created < 2.0e9) {
        const auto day = static_cast<std::uint32_t>(static_cast<std::int32_t>(created));
        for (int i = 0; i < 4; ++i) mask[i] = static_cast<unsigned char>(day >> (8 * i));
    }
    unsigned char* pwd = page + kPasswordOffset;
    bool allZero = true;
    for (int i = 0; i < 40; ++i) {
        pwd[i] ^= mask[i % 4];
        allZero = allZero && pwd[i] == 0;
    }
    if (allZero) return {};
    std::u16string units;
    for (int i = 0; i + 1 < 40; i += 2) {
        const char16_t unit = static_cast<char16_t>(pwd[i] | pwd[i + 1] << 8);
        if (unit == 0) break;
        units.push_back(unit);
    }
    // A lone surrogate makes the password unreadable: it matches no password a user can supply.
    for (std::size_t i = 0; i < units.size(); ++i) {
        const bool high = units[i] >= 0xD800 && units[i] <= 0xDBFF;
        const bool low = units[i] >= 0xDC00 && units[i] <= 0xDFFF;
        if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF)
            ++i;
        else if (high || low)
            return std::string(1, '\x01');
    }
    std::string result;
    appendUtf8FromUtf16(result, units);
    return result;
}

std::string jet3Password(const unsigned char* page) {
    // Single-byte characters of the file's code page; Windows-1252 covers the passwords in use.
    std::string bytes;
    for (int i = 0; i < 20 && page[kPasswordOffset + i] != 0; ++i)
        bytes.push_back(static_cast<char>(page[kPasswordOffset + i]));
    // The five bytes the code page leaves undefined cannot be converted: such a password is kept as it is stored.
    for (const char c : bytes)
        if (c == '\x81' || c == '\x8D' || c == '\x8F' || c == '\x90' || c == '\x9D') return bytes;
    std::string result;
    appendUtf8FromWindows1252(result, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return result;
}

}  // namespace

JetHeader JetHeader::parse(std::string_view page0, const std::string& path) {
    static constexpr unsigned char kMagic[] = {0x00, 0x01, 0x00, 0x00};
    if (page0.size() < 2048 || std::memcmp(page0.data(), kMagic, 4) != 0 || page0.substr(4, 15) != "Standard Jet DB")
        throw RuntimeError(RuntimeError::DatabaseError, "El archivo " + path + " no es una base de datos de Access");

    JetHeader header;
    const auto engine = static_cast<unsigned char>(page0[0x14]);
    if (engine == 0) {
        header.version = Version::Jet3;
        header.pageSize = 2048;
    } else if (engine == 1) {
        header.version = Version::Jet4;
        header.pageSize = 4096;
        if (page0.size() < 4096)
            throw RuntimeError(RuntimeError::DatabaseError,
                               "La base de datos " + path + " está incompleta: el archivo está cortado");
    } else {
        throw RuntimeError(RuntimeError::DatabaseError,
                           "La base de datos " + path + " es de una versión de Access que el programa no lee");
    }

    std::string page(page0.substr(0, header.pageSize));
    auto* bytes = reinterpret_cast<unsigned char*>(page.data());
    rc4({0xC7, 0xDA, 0x39, 0x6B}, bytes + kMaskedRegionStart, header.version == Version::Jet3 ? 126 : 128);
    header.pageEncryptionKey = readU32(bytes + 0x3E);
    header.password = header.version == Version::Jet3 ? jet3Password(bytes) : jet4Password(bytes);
    return header;
}

std::string passwordFromConnect(const std::string& connect) {
    std::size_t start = 0;
    while (start <= connect.size()) {
        std::size_t end = connect.find(';', start);
        if (end == std::string::npos) end = connect.size();
        const std::string item = connect.substr(start, end - start);
        const std::size_t eq = item.find('=');
        if (eq != std::string::npos && isPwdKey(item.substr(0, eq))) return item.substr(eq + 1);
        start = end + 1;
    }
    return {};
}
