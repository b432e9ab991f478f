#include "database/JetTextOrder.h"

#include "runtime/Numeric.h"
#include "runtime/TextFolding.h"

#include <algorithm>

namespace {

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
}

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

int sign(int order) { return order < 0 ? -1 : (order > 0 ? 1 : 0); }

int compareLowered(std::string_view a, std::string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const auto ca = static_cast<unsigned char>(lowerAscii(a[i]));
        const auto cb = static_cast<unsigned char>(lowerAscii(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// The sort key of a text: case folded, with or without its accents.
std::string textKey(std::string_view text, bool keepAccents) {
    std::string key;
    if (keepAccents)
        appendFolded(key, text);
    else
        appendFoldedWithoutMarks(key, text);
    return key;
}

}  // namespace

JetTextKey::JetTextKey(std::string_view text) : m_ascii(isAscii(text)) {
    if (m_ascii) {
        m_lowered.resize(text.size());
        std::transform(text.begin(), text.end(), m_lowered.begin(), lowerAscii);
        // Folding an ASCII text lowers it, up to a NUL, where folding stops.
        if (text.find('\0') == std::string_view::npos) return;
    }
    m_plain = textKey(text, false);
    m_folded = textKey(text, true);
}

int compare(const JetTextKey& a, const JetTextKey& b) {
    if (a.m_ascii && b.m_ascii) return compareLowered(a.m_lowered, b.m_lowered);
    const std::string& plainA = a.m_ascii && a.m_plain.empty() ? a.m_lowered : a.m_plain;
    const std::string& plainB = b.m_ascii && b.m_plain.empty() ? b.m_lowered : b.m_plain;
    if (const int order = plainA.compare(plainB); order != 0) return sign(order);
    return sign(a.folded().compare(b.folded()));
}

int compareJetText(std::string_view a, std::string_view b) {
    if (isAscii(a) && isAscii(b)) return compareLowered(a, b);
    return compare(JetTextKey(a), JetTextKey(b));
}

bool equalJetText(std::string_view a, std::string_view b) {
    if (isAscii(a) && isAscii(b)) return a.size() == b.size() && compareLowered(a, b) == 0;
    return compareJetText(a, b) == 0;
}

int compareJetValues(const Value& a, const Value& b) {
    const auto rank = [](const Value& v) { return v.isNull() ? 0 : (v.kind() == Value::Kind::Text ? 2 : 1); };
    if (rank(a) != rank(b)) return rank(a) < rank(b) ? -1 : 1;
    if (rank(a) == 0) return 0;
    if (rank(a) == 2) return compareJetText(a.asText(), b.asText());
    if (a.kind() == Value::Kind::Integer && b.kind() == Value::Kind::Integer)
        return a.asInteger() < b.asInteger() ? -1 : (a.asInteger() > b.asInteger() ? 1 : 0);
    const double x = a.asDouble(), y = b.asDouble();
    return x < y ? -1 : (x > y ? 1 : 0);
}

std::string foldName(std::string_view name) {
    if (isAscii(name)) {
        std::string folded(name);
        std::transform(folded.begin(), folded.end(), folded.begin(), lowerAscii);
        return folded;
    }
    return textKey(name, true);
}

bool sameName(std::string_view a, std::string_view b) {
    if (isAscii(a) && isAscii(b)) return a.size() == b.size() && compareLowered(a, b) == 0;
    return foldName(a) == foldName(b);
}

bool appendJetCatOperand(std::string& out, const Value& operand) {
    char number[kDoubleTextMax];
    switch (operand.kind()) {
        case Value::Kind::Null: return false;
        case Value::Kind::Integer: appendInteger(out, operand.asInteger()); return true;
        case Value::Kind::Double:
        case Value::Kind::Date: out.append(number, writeDouble(number, operand.asDouble())); return true;
        case Value::Kind::Text: out += operand.asText(); return true;
    }
    return false;
}
