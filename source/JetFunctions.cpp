#include "source/JetFunctions.h"

#include "runtime/Numeric.h"
#include "runtime/RuntimeError.h"
#include "source/GlibString.h"

#include <glib.h>
#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace {

// The longest text of an operand that is a number: a Double as the runtime writes it, or a 64-bit integer.
constexpr std::size_t kNumberTextMax = kDoubleTextMax;
static_assert(kNumberTextMax >= sizeof "-9223372036854775808");

void jetCat(sqlite3_context* context, int argc, sqlite3_value** argv) {
    std::size_t capacity = 0;
    bool anyValue = false;
    for (int i = 0; i < argc; ++i) {
        switch (sqlite3_value_type(argv[i])) {
            case SQLITE_NULL: continue;
            case SQLITE_INTEGER:
            case SQLITE_FLOAT: capacity += kNumberTextMax; break;
            case SQLITE_BLOB:
                sqlite3_value_blob(argv[i]);
                capacity += static_cast<std::size_t>(sqlite3_value_bytes(argv[i]));
                break;
            default:
                sqlite3_value_text(argv[i]);
                capacity += static_cast<std::size_t>(sqlite3_value_bytes(argv[i]));
                break;
        }
        anyValue = true;
    }
    // Jet gives Null only when every operand is Null.
    if (!anyValue) {
        sqlite3_result_null(context);
        return;
    }

    // Keys and labels are short: they are built on the stack, and SQLite takes its own copy.
    char local[512];
    std::unique_ptr<char[]> heap;
    char* buffer = local;
    if (capacity > sizeof local) {
        // SQLite calls this from C: nothing may be thrown back through it.
        try {
            heap = std::make_unique_for_overwrite<char[]>(capacity);
        } catch (const std::bad_alloc&) {
            sqlite3_result_error_nomem(context);
            return;
        }
        buffer = heap.get();
    }
    char* out = buffer;
    for (int i = 0; i < argc; ++i) {
        sqlite3_value* const value = argv[i];
        switch (sqlite3_value_type(value)) {
            case SQLITE_NULL: break;
            case SQLITE_INTEGER: out = std::to_chars(out, out + kNumberTextMax, sqlite3_value_int64(value)).ptr; break;
            case SQLITE_FLOAT: out = writeDouble(out, sqlite3_value_double(value)); break;
            case SQLITE_BLOB: {
                const auto size = static_cast<std::size_t>(sqlite3_value_bytes(value));
                if (size > 0) std::memcpy(out, sqlite3_value_blob(value), size);
                out += size;
                break;
            }
            default: {
                const unsigned char* const text = sqlite3_value_text(value);
                const auto size = static_cast<std::size_t>(sqlite3_value_bytes(value));
                if (size > 0) std::memcpy(out, text, size);
                out += size;
                break;
            }
        }
    }
    sqlite3_result_text64(context, buffer, static_cast<sqlite3_uint64>(out - buffer), SQLITE_TRANSIENT, SQLITE_UTF8);
}

// The sort key of a text: case folded, with or without its accents.
std::string textKey(const char* text, int length, bool keepAccents) {
    const GlibString folded(g_utf8_casefold(text, length));
    if (!folded) return std::string(text, static_cast<std::size_t>(length));
    if (keepAccents) return folded.get();
    std::string key;
    const GlibString decomposed(g_utf8_normalize(folded.get(), -1, G_NORMALIZE_NFD));
    for (const gchar* p = decomposed ? decomposed.get() : folded.get(); *p; p = g_utf8_next_char(p)) {
        const gunichar c = g_utf8_get_char(p);
        if (g_unichar_ismark(c)) continue;
        char buffer[6];
        key.append(buffer, static_cast<std::size_t>(g_unichar_to_utf8(c, buffer)));
    }
    return key;
}

// The sort keys of the texts compared lately, without and with their accents: a sort compares each text with a
// dozen others, and a key costs a folding and a normalisation. Kept by the connection, for one thread.
class TextKeys {
public:
    using Keys = std::pair<std::string, std::string>;

    // Makes room for the keys of two texts: the references `of` gives stay valid until the next call.
    void reserveTwo() {
        if (m_keys.size() + 2 > kKept) m_keys.clear();
    }
    const Keys& of(std::string_view text) {
        if (const auto it = m_keys.find(text); it != m_keys.end()) return it->second;
        const char* bytes = text.data();
        const int length = static_cast<int>(text.size());
        return m_keys.emplace(std::string(text), Keys{textKey(bytes, length, false), textKey(bytes, length, true)})
            .first->second;
    }

private:
    static constexpr std::size_t kKept = 4096;
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
    };
    std::unordered_map<std::string, Keys, Hash, std::equal_to<>> m_keys;
};

// Jet compares text without regard to case, and sorts letters with accents beside the plain ones (Ñandubay among
// the N, Ángel among the A): the accents decide only between texts that are otherwise the same.
int jetTextCollation(void* keys, int lengthA, const void* a, int lengthB, const void* b) {
    const auto* textA = static_cast<const char*>(a);
    const auto* textB = static_cast<const char*>(b);
    const bool ascii = std::all_of(textA, textA + lengthA, [](char c) { return (c & 0x80) == 0; }) &&
                       std::all_of(textB, textB + lengthB, [](char c) { return (c & 0x80) == 0; });
    if (ascii) {
        const int common = std::min(lengthA, lengthB);
        for (int i = 0; i < common; ++i) {
            const int ca = g_ascii_tolower(textA[i]);
            const int cb = g_ascii_tolower(textB[i]);
            if (ca != cb) return ca < cb ? -1 : 1;
        }
        return lengthA == lengthB ? 0 : (lengthA < lengthB ? -1 : 1);
    }
    // SQLite calls this from C and has no way to hear of a failure: without the memory for the keys, the bytes
    // decide.
    try {
        TextKeys& kept = *static_cast<TextKeys*>(keys);
        kept.reserveTwo();
        const TextKeys::Keys& keysA = kept.of(std::string_view(textA, std::size_t(lengthA)));
        const TextKeys::Keys& keysB = kept.of(std::string_view(textB, std::size_t(lengthB)));
        int order = keysA.first.compare(keysB.first);
        if (order == 0) order = keysA.second.compare(keysB.second);
        return order == 0 ? 0 : (order < 0 ? -1 : 1);
    } catch (const std::bad_alloc&) {
        const int order = std::memcmp(textA, textB, static_cast<std::size_t>(std::min(lengthA, lengthB)));
        if (order != 0) return order < 0 ? -1 : 1;
        return lengthA == lengthB ? 0 : (lengthA < lengthB ? -1 : 1);
    }
}

}  // namespace

// The collation compares ASCII texts letter by letter without regard to case, other texts by their case-folded
// forms (then without their accents, which the folded forms already decide).
bool jetTextKey(std::string_view text, std::string& key) {
    // ASCII texts, nearly all of them, are lowered here; the table's index builds a key for every row.
    key.resize(text.size());
    char* out = key.data();
    unsigned char seen = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == 0) return false;
        seen |= byte;
        *out++ = static_cast<char>(jetKeyByte(byte));
    }
    if (!(seen & 0x80)) return true;
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return false;
    const GlibString folded(g_utf8_casefold(text.data(), static_cast<gssize>(text.size())));
    if (!folded) return false;
    key = folded.get();
    return true;
}

void registerJetFunctions(sqlite3* db) {
    const int status =
        sqlite3_create_function_v2(db, "jet_cat", -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                                   jetCat, nullptr, nullptr, nullptr);
    if (status != SQLITE_OK)
        throw RuntimeError(RuntimeError::DatabaseError,
                           std::string("cannot register function jet_cat: ") + sqlite3_errmsg(db));
    if (sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, static_cast<int*>(nullptr)) != SQLITE_OK)
        throw RuntimeError(RuntimeError::DatabaseError,
                           std::string("cannot turn off double-quoted text constants: ") + sqlite3_errmsg(db));
    auto keys = std::make_unique<TextKeys>();
    if (sqlite3_create_collation_v2(db, "jet_text", SQLITE_UTF8, keys.get(), jetTextCollation,
                                    [](void* kept) { delete static_cast<TextKeys*>(kept); }) != SQLITE_OK)
        throw RuntimeError(RuntimeError::DatabaseError,
                           std::string("cannot register collation jet_text: ") + sqlite3_errmsg(db));
    keys.release();  // the connection deletes it
}
