#include "runtime/TextFolding.h"

#include "runtime/TextCodecs.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <span>

namespace {

// A code point and what it becomes: `length` code points of a pool from `offset`.
struct Mapping {
    char32_t from;
    std::uint16_t offset;
    std::uint8_t length;
};

struct MarkRun {
    char32_t first;
    char32_t last;
};

#include "runtime/TextFoldingTables.inc"

// Hangul syllables decompose by arithmetic, not by table (Unicode's chapter 3.12).
constexpr char32_t kHangulFirst = 0xAC00, kHangulCount = 11172;
constexpr char32_t kLeadFirst = 0x1100, kVowelFirst = 0x1161, kTrailFirst = 0x11A7;
constexpr char32_t kVowelCount = 21, kTrailCount = 28;

// The entry of `cp` in `table`, or null when it maps to itself.
const Mapping* find(std::span<const Mapping> table, char32_t cp) {
    const auto at =
        std::lower_bound(table.begin(), table.end(), cp, [](const Mapping& m, char32_t c) { return m.from < c; });
    return at != table.end() && at->from == cp ? &*at : nullptr;
}

bool isMark(char32_t cp) {
    const auto run = std::upper_bound(std::begin(kMarks), std::end(kMarks), cp,
                                      [](char32_t c, const MarkRun& r) { return c < r.first; });
    return run != std::begin(kMarks) && cp <= std::prev(run)->last;
}

void appendWithoutMarks(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp - kHangulFirst < kHangulCount) {
        const char32_t index = cp - kHangulFirst;
        appendUtf8(out, kLeadFirst + index / (kVowelCount * kTrailCount));
        appendUtf8(out, kVowelFirst + index % (kVowelCount * kTrailCount) / kTrailCount);
        if (index % kTrailCount != 0) appendUtf8(out, kTrailFirst + index % kTrailCount);
    } else if (const Mapping* plain = find(kPlain, cp)) {
        for (std::size_t i = 0; i < plain->length; ++i) appendUtf8(out, kPlainPool[plain->offset + i]);
    } else if (!isMark(cp)) {
        appendUtf8(out, cp);
    }
}

// Calls `each` with the folded code points of `text`, and `malformed` with the bytes of each malformed sequence,
// up to the first NUL.
template <typename Each, typename Malformed>
void forEachFolded(std::string_view text, Each each, Malformed malformed) {
    for (std::size_t pos = 0; pos < text.size() && text[pos] != '\0';) {
        const auto byte = static_cast<unsigned char>(text[pos]);
        if (byte < 0x80) {
            each(byte >= 'A' && byte <= 'Z' ? char32_t(byte + 32) : char32_t(byte));
            ++pos;
            continue;
        }
        const std::size_t start = pos;
        char32_t cp = 0;
        if (!decodeUtf8(text, pos, cp)) {
            malformed(text.substr(start, pos - start));
            continue;
        }
        if (const Mapping* folded = find(kFold, cp))
            for (std::size_t i = 0; i < folded->length; ++i) each(kFoldPool[folded->offset + i]);
        else
            each(cp);
    }
}

}  // namespace

void appendFolded(std::string& out, std::string_view text) {
    out.reserve(out.size() + text.size());
    forEachFolded(
        text, [&](char32_t cp) { appendUtf8(out, cp); }, [&](std::string_view bytes) { out += bytes; });
}

void appendFoldedWithoutMarks(std::string& out, std::string_view text) {
    out.reserve(out.size() + text.size());
    forEachFolded(
        text, [&](char32_t cp) { appendWithoutMarks(out, cp); }, [&](std::string_view bytes) { out += bytes; });
}
