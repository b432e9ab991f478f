// The field normalisers and the movement line, on movements given in the test: amounts, cleaned texts, upper case,
// every field of a TXT and a CSV line, and hostile contents in every text column.
#include "database/Database.h"
#include "formats/Normalizers.h"
#include "formats/RecordLine.h"
#include "runtime/RuntimeError.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

// Runs `call` and returns the number of the RuntimeError it raised, or 0.
template <typename F>
int errorNumber(F&& call) {
    try {
        call();
    } catch (const RuntimeError& e) {
        return e.Number();
    }
    return 0;
}

TEST(Normalizers, AmountsInAllThreeSeparatorForms) {
    struct Row {
        const char* name;
        double amount;
        const char* comma;  // nullptr: Overflow
        const char* dot;
        const char* txt;
    };
    const Row rows[] = {
        {"half a unit", 1234.5, "1234,50", "1234.50", "123450"},
        {"hundredths only keep the zero", 0.07, "0,07", "0.07", "007"},
        {"zero", 0, "0,00", "0.00", "000"},
        {"no grouping", 1000000, "1000000,00", "1000000.00", "100000000"},
        {"tie goes down to even", 0.125, "0,12", "0.12", "012"},
        {"tie goes up to even", 0.375, "0,38", "0.38", "038"},
        {"product is exactly 1234.5", 12.345, "12,34", "12.34", "1234"},
        {"beyond 32-bit hundredths", 21474836.48, "21474836,48", "21474836.48", "2147483648"},
        {"rounding carries into the whole part", 0.995, "1,00", "1.00", "100"},
        {"negative amount", -1234.5, "-1234,50", "-1234.50", "-123450"},
        {"negative hundredths only", -0.07, "-0,07", "-0.07", "-007"},
        {"negative zero after rounding", -0.001, "0,00", "0.00", "000"},
        {"hundredths beyond 64 bits", 1e17, nullptr, nullptr, nullptr},
        {"not a number", std::numeric_limits<double>::quiet_NaN(), nullptr, nullptr, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (!row.comma) {
            EXPECT_EQ(errorNumber([&] { Formatear_Importe(row.amount, ","); }), RuntimeError::Overflow);
            continue;
        }
        EXPECT_EQ(Formatear_Importe(row.amount, ","), row.comma);
        EXPECT_EQ(Formatear_Importe(row.amount, "."), row.dot);
        EXPECT_EQ(Formatear_Importe(row.amount, ""), row.txt);
    }
}

TEST(Normalizers, Texts) {
    struct Row {
        const char* name;
        std::string (*operation)(std::string_view);
        std::string input;
        std::string expected;
    };
    const Row rows[] = {
        {"name with dots", Limpiar_Texto, "  Ferretería Centro S.A. ", "Ferretería Centro S A "},
        {"all three separators", Limpiar_Texto, "1.234,56;x", "1 234 56 x"},
        {"only spaces are trimmed", Limpiar_Texto, "\t a.b \n", "\t a b \n"},
        {"tax number", Quitar_Guiones, " 30-98765432-1  ", "30987654321"},
        {"inner blank, dots and commas stay", Quitar_Guiones, "20 1.2,3-4", "20 1.2,34"},
        {"accented capitals", UCase, "Ferretería ñandú ÿ", "FERRETERÍA ÑANDÚ Ÿ"},
        {"NUL does not end the text", UCase, std::string("a\0b", 3), std::string("A\0B", 3)},
        {"one character for one: ß and ﬁ stay", UCase, "straße ﬁnal", "STRAßE ﬁNAL"},
        {"beyond Latin-1: titlecase, Greek, final sigma, no letter", UCase, "ǅ ᾀ ως ⓐ ÿ", "Ǆ ᾈ ΩΣ ⓐ Ÿ"},
        {"invalid UTF-8, byte by byte", UCase, "a\xE2\x82", "A\uFFFD\uFFFD"},
    };
    for (const Row& row : rows) EXPECT_EQ(row.operation(row.input), row.expected) << row.name;
}

// A withholding as the movement read gives it; the field named `changed` takes `value`.
Movement withholding(const std::string& changed = "", const Value& value = {}) {
    Movement m{Value::text("20-12345678-3"), Value::text("9012345"), Value::text("R"),
               Value::date(39575),           Value::integer(2008),   Value::integer(5),
               Value::text("30-98765432-1"), Value::text("456"),     Value::text("Ferretería Centro S.A."),
               Value::text("0001-00001234"), Value::real(1234.5),    Value::real(37.04)};
    const std::pair<const char*, Value*> fields[] = {{"CMD_NumRef", &m.CMD_NumRef},
                                                     {"CP01_IngBrut", &m.CP01_IngBrut},
                                                     {"tipo", &m.tipo},
                                                     {"Per_Fecha", &m.Per_Fecha},
                                                     {"Per_Año", &m.Per_Año},
                                                     {"Per_Mes", &m.Per_Mes},
                                                     {"Per_CUIT", &m.Per_CUIT},
                                                     {"Per_NumAgenteRet", &m.Per_NumAgenteRet},
                                                     {"Per_Responsable", &m.Per_Responsable},
                                                     {"Per_Concepto", &m.Per_Concepto},
                                                     {"Per_Monto", &m.Per_Monto},
                                                     {"Per_Monto1", &m.Per_Monto1}};
    for (const auto& [name, field] : fields)
        if (name == changed) *field = value;
    return m;
}

const std::string kTxtLine =
    "20123456783;9012345;R;2008;5;20080507;0001-00001234;123450;3704;30987654321;456;"
    "FERRETERÍA CENTRO S A ;";

TEST(RecordLine, EveryFieldOfATxtLine) {
    struct Row {
        const char* name;
        const char* field;
        Value value;
        std::string line;  // empty: no line but the error
        int error;
    };
    const Row rows[] = {
        {"the example", "", {}, kTxtLine, 0},
        {"new year's day", "Per_Fecha", Value::date(39448),
         "20123456783;9012345;R;2008;5;20080101;0001-00001234;123450;3704;30987654321;456;FERRETERÍA CENTRO S A ;", 0},
        {"absent agent number", "Per_NumAgenteRet", Value::null(),
         "20123456783;9012345;R;2008;5;20080507;0001-00001234;123450;3704;30987654321;;FERRETERÍA CENTRO S A ;", 0},
        {"absent date", "Per_Fecha", Value::null(), "", RuntimeError::InvalidUseOfNull},
        {"absent taxpayer", "CMD_NumRef", Value::null(), "", RuntimeError::InvalidUseOfNull},
        {"absent voucher", "Per_Concepto", Value::null(), "", RuntimeError::InvalidUseOfNull},
        {"absent amount withheld", "Per_Monto1", Value::null(), "", RuntimeError::InvalidUseOfNull},
        {"absent agent CUIT", "Per_CUIT", Value::null(), "", RuntimeError::InvalidUseOfNull},
        {"absent agent name", "Per_Responsable", Value::null(), "", RuntimeError::InvalidUseOfNull},
        {"amount out of range", "Per_Monto", Value::real(1e300), "", RuntimeError::Overflow},
    };
    const std::string sc = ";", sd, kind = "TXT";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string line;
        EXPECT_EQ(errorNumber([&] {
                      line = recordLine(withholding(row.field, row.value), {sc, sd, kind});
                  }),
                  row.error);
        // A line only checked (a count) raises what making it raises.
        EXPECT_EQ(errorNumber([&] { checkRecordLine(withholding(row.field, row.value), {sc, sd, kind}); }), row.error);
        EXPECT_EQ(line, row.line);
    }
    // A CSV line writes dates in brackets, and a missing one as "[--]".
    const std::string csv = "CSV", comma = ",";
    EXPECT_EQ(recordLine(withholding("Per_Fecha", Value::null()), {sc, comma, csv}),
              "20123456783;9012345;R;2008;5;[--];0001-00001234;1234,50;37,04;30987654321;456;FERRETERÍA CENTRO S A ;");
}

// Hostile contents in each text column: line breaks become blanks so that one movement stays one line; tabs, NULs
// and control characters stay; only the cleaned columns (voucher, agent name) lose their separators; a long text is
// written whole.
TEST(RecordLine, HostileContentsInEveryTextColumn) {
    struct Column {
        const char* name;
        std::size_t field;
        bool cleaned;
        bool upper;
    };
    const Column columns[] = {{"CMD_NumRef", 0, false, false},        {"CP01_IngBrut", 1, false, false},
                              {"Per_Concepto", 6, true, false},       {"Per_CUIT", 9, false, false},
                              {"Per_NumAgenteRet", 10, false, false}, {"Per_Responsable", 11, true, true}};
    const std::string controls("a\tb\rc\nd\0e\x1F;f.g", 14);
    const std::string written("a\tb c d\0e\x1F;f.g", 14);
    const std::string sc = ";", sd, kind = "TXT";
    for (const Column& column : columns) {
        for (const std::string& text : {controls, std::string(70000, 'x')}) {
            SCOPED_TRACE(std::string(column.name) + ", " + std::to_string(text.size()) + " characters");
            std::string expected = text.size() == controls.size() ? written : text;
            if (column.cleaned) blankSeparators(expected.data(), expected.data() + expected.size());
            if (column.upper) expected = UCase(expected);
            // The line up to the column's field, the field, then the rest from the example line.
            std::string line = recordLine(withholding(column.name, Value::text(text)), {sc, sd, kind});
            std::size_t start = 0;
            for (std::size_t i = 0; i < column.field; ++i) start = kTxtLine.find(';', start) + 1;
            ASSERT_EQ(line.substr(0, start), kTxtLine.substr(0, start));
            EXPECT_EQ(line.substr(start, expected.size() + 1), expected + ";");
            EXPECT_EQ(line.substr(start + expected.size()), kTxtLine.substr(kTxtLine.find(';', start)));
        }
    }
}

}  // namespace
