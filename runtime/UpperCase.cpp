#include "runtime/UpperCase.h"

#include <algorithm>
#include <iterator>

namespace {

struct UpperCase {
    char32_t from;
    char32_t to;
};

#include "runtime/UpperCaseTable.inc"

}  // namespace

char32_t upperCase(char32_t cp) noexcept {
    if (cp < 0x80) return cp - U'a' < 26 ? cp - 32 : cp;
    const auto at = std::lower_bound(std::begin(kUpper), std::end(kUpper), cp,
                                     [](const UpperCase& entry, char32_t c) { return entry.from < c; });
    return at != std::end(kUpper) && at->from == cp ? at->to : cp;
}
