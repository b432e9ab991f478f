#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

// One field value as the database holds it. Numbers keep their stored bits, a date is a Double of days since
// 1899-12-30, text is UTF-8, and Null is distinct from the empty text.
class Value {
public:
    enum class Kind { Null, Integer, Double, Date, Text };

    Value() = default;
    static Value null() { return Value(); }
    static Value integer(std::int64_t v) { return Value(Kind::Integer, v); }
    static Value real(double v) { return Value(Kind::Double, v); }
    static Value date(double days) { return Value(Kind::Date, days); }
    static Value text(std::string v) { return Value(Kind::Text, std::move(v)); }

    // In-place setters for values read row after row into the same place: a text keeps its buffer.
    void setNull() noexcept;
    void setInteger(std::int64_t v) noexcept { set(Kind::Integer, v); }
    void setReal(double v) noexcept { set(Kind::Double, v); }
    void setDate(double days) noexcept { set(Kind::Date, days); }
    // Makes the value an empty text and returns it to be filled.
    std::string& setText();

    Kind kind() const noexcept { return m_kind; }
    bool isNull() const noexcept { return m_kind == Kind::Null; }
    bool isNumber() const noexcept { return m_kind == Kind::Integer || m_kind == Kind::Double; }

    std::int64_t asInteger() const { return std::get<std::int64_t>(m_data); }
    double asDouble() const;  // Integer, Double or Date as a double
    const std::string& asText() const { return std::get<std::string>(m_data); }

    bool operator==(const Value&) const = default;

private:
    template <typename T>
    Value(Kind kind, T data) : m_kind(kind), m_data(std::move(data)) {}
    template <typename T>
    void set(Kind kind, T data) noexcept {
        m_kind = kind;
        // Values read row after row into the same place mostly keep their kind.
        if (T* kept = std::get_if<T>(&m_data))
            *kept = data;
        else
            m_data.template emplace<T>(data);
    }

    Kind m_kind = Kind::Null;
    std::variant<std::monostate, std::int64_t, double, std::string> m_data;
};

// The runtime's conversions of a field value, as the program's procedures use them. Each raises Invalid use of
// Null (94) on a Null value.
namespace Conv {
// Text as the runtime writes the value: text as is, a whole number in plain digits, a Double with up to 15
// significant digits ("1234.5", "5", "1E+20"), a date as dd/mm/yyyy with its time when it has one.
std::string CStr(const Value& v);
// The value as a double; text must read as a number (else Type mismatch, 13).
double CDbl(const Value& v);
// Rounded to a 32-bit integer, ties to even; out of range raises Overflow (6).
std::int32_t CLng(const Value& v);
// CStr, without a copy when the value is text: the view is into `v` or, for other kinds, into `scratch`.
std::string_view CStr(const Value& v, std::string& scratch);
// The stored value as text, with Null as the empty text.
std::string textOrEmpty(const Value& v);
// The same without a copy, as CStr with `scratch`.
std::string_view textOrEmpty(const Value& v, std::string& scratch);
}  // namespace Conv
