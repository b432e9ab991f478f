#pragma once

#include "runtime/Value.h"

#include <string>
#include <string_view>

// Jet's order of text, as the program's reads compare and sort texts: without regard to case, letters with accents
// beside the plain ones (Ñandubay among the N, Ángel among the A), the accents deciding only between texts that are
// otherwise the same. Two texts of ASCII characters compare letter by letter without regard to case; any other
// pair by their case-folded forms without their accents, then by their case-folded forms.

// -1, 0 or 1 as `a` sorts before, with or after `b`.
int compareJetText(std::string_view a, std::string_view b);
// Whether `a` and `b` are equal in that order; Jet finds a text by this equality.
bool equalJetText(std::string_view a, std::string_view b);

// A text prepared to be compared many times (a sort): its folded forms are made once.
class JetTextKey {
public:
    explicit JetTextKey(std::string_view text);
    // compareJetText of the two texts.
    friend int compare(const JetTextKey& a, const JetTextKey& b);
    // The text case folded: texts equal in Jet's order have the same folded text, and texts without a NUL with
    // the same folded text are equal.
    const std::string& folded() const noexcept { return m_ascii && m_plain.empty() ? m_lowered : m_folded; }

private:
    bool m_ascii;
    std::string m_lowered;  // an ASCII text lowered, else empty
    std::string m_plain;    // folded, without accents
    std::string m_folded;
};

// The order of values as the program's reads sort and group them: Null first, then numbers by their value, then
// texts in Jet's order. -1, 0 or 1.
int compareJetValues(const Value& a, const Value& b);

// A name as Jet matches names, without regard to case (per_año finds Per_Año).
std::string foldName(std::string_view name);
// Whether two names are the same name so.
bool sameName(std::string_view a, std::string_view b);

// Appends `operand` as Jet's `&` writes it: a text as it is, a whole number in digits, a Double or a date as the
// runtime writes a Double (5, 1234.5, 1E+20, 1.5E-05). False, appending nothing, for Null: `&` joins a Null as the
// empty text, and is Null only when every operand is.
bool appendJetCatOperand(std::string& out, const Value& operand);
