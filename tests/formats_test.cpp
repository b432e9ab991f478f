#include "export/Form1.h"
#include "formats/Normalizers.h"
#include "formats/RecordLine.h"
#include "runtime/RuntimeError.h"
#include "runtime/TextCodecs.h"
#include "support/FakeRecordset.h"
#include "support/MemoryOutputFile.h"
#include "support/ScriptedMessageBoxes.h"

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

TEST(FormatsTest, AmountsInAllThreeSeparatorForms) {
    struct Row {
        const char* name;
        double amount;
        const char* comma;  // nullptr: Overflow
        const char* dot;
        const char* txt;
    };
    const Row rows[] = {
        {"half a unit", 1234.5, "1234,50", "1234.50", "123450"},
        {"two decimals", 19.99, "19,99", "19.99", "1999"},
        {"hundredths only keep the zero", 0.07, "0,07", "0.07", "007"},
        {"whole amount", 5, "5,00", "5.00", "500"},
        {"zero", 0, "0,00", "0.00", "000"},
        {"no grouping", 1000000, "1000000,00", "1000000.00", "100000000"},
        {"tie goes down to even", 0.125, "0,12", "0.12", "012"},
        {"tie goes up to even", 0.375, "0,38", "0.38", "038"},
        {"product is exactly 1234.5", 12.345, "12,34", "12.34", "1234"},
        {"largest 32-bit hundredths", 21474836.47, "21474836,47", "21474836.47", "2147483647"},
        {"beyond 32-bit hundredths", 21474836.48, "21474836,48", "21474836.48", "2147483648"},
        {"rounding carries into the whole part", 0.995, "1,00", "1.00", "100"},
        {"carry from three decimals", 1.999, "2,00", "2.00", "200"},
        {"negative amount", -1234.5, "-1234,50", "-1234.50", "-123450"},
        {"negative hundredths only", -0.07, "-0,07", "-0.07", "-007"},
        {"negative zero after rounding", -0.001, "0,00", "0.00", "000"},
        {"hundredths beyond 64 bits", 1e17, nullptr, nullptr, nullptr},
        {"product beyond the double range", -1.7e308, nullptr, nullptr, nullptr},
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

TEST(FormatsTest, TextOperations) {
    struct Row {
        const char* name;
        std::string (*operation)(std::string_view);
        std::string input;
        std::string expected;
    };
    const Row rows[] = {
        {"name with dots", Limpiar_Texto, "  Ferretería Centro S.A. ", "Ferretería Centro S A "},
        {"all three separators", Limpiar_Texto, "1.234,56;x", "1 234 56 x"},
        {"dashes stay", Limpiar_Texto, "0001-00001234", "0001-00001234"},
        {"only spaces are trimmed", Limpiar_Texto, "\t a.b \n", "\t a b \n"},
        {"blanks only", Limpiar_Texto, "   ", ""},
        {"tax number", Quitar_Guiones, "20-12345678-3", "20123456783"},
        {"trimmed tax number", Quitar_Guiones, " 30-98765432-1  ", "30987654321"},
        {"inner blank stays", Quitar_Guiones, "20 1234-5", "20 12345"},
        {"dots and commas stay", Quitar_Guiones, "1.2,3-4", "1.2,34"},
        {"accented capitals", UCase, "Ferretería ñandú", "FERRETERÍA ÑANDÚ"},
        {"NUL does not end the text", UCase, std::string("a\0b", 3), std::string("A\0B", 3)},
        {"one character for one: ß and ﬁ stay", UCase, "straße ﬁnal ÿ", "STRAßE ﬁNAL Ÿ"},
    };
    for (const Row& row : rows) EXPECT_EQ(row.operation(row.input), row.expected) << row.name;
}

TEST(FormatsTest, ValueConversions) {
    const std::pair<Value, const char*> texts[] = {
        {Value::integer(-9012345), "-9012345"},
        {Value::real(1234.5), "1234.5"},
        {Value::real(1e20), "1E+20"},
        {Value::real(0.00001), "1E-05"},
        {Value::real(123456789012345678.0), "1.23456789012346E+17"},
        {Value::date(36585), "29/02/2000"},
        {Value::date(39575.75), "07/05/2008 18:00:00"},
        {Value::date(-1.25), "29/12/1899 06:00:00"},  // before 1899-12-30 the time still counts forward
    };
    for (const auto& [value, text] : texts) EXPECT_EQ(Conv::CStr(value), text);
    EXPECT_EQ(Conv::CLng(Value::text(" 200812.5 ")), 200812);
    EXPECT_EQ(errorNumber([] { Conv::CLng(Value::real(2147483647.5)); }), RuntimeError::Overflow);
    EXPECT_EQ(errorNumber([] { Conv::CDbl(Value::text("12a")); }), 13);
    EXPECT_EQ(errorNumber([] { Conv::CStr(Value::null()); }), RuntimeError::InvalidUseOfNull);
}

TEST(FormatsTest, Windows1252Bytes) {
    const std::pair<std::string, std::string> rows[] = {
        {"DJ_AÑO é", "DJ_A\xD1O \xE9"},
        {"€ ’ “”", "\x80 \x92 \x93\x94"},
        {"a中b", "a?b"},
        {"a\xFF"
         "b",
         "a?b"},
        {"\xE2\x82", "??"},
        {"\xC0\xAF", "??"},
    };
    for (const auto& [utf8, bytes] : rows) EXPECT_EQ(toWindows1252(utf8), bytes) << utf8;
}

// The withholding of the record-line examples, with field names in the database's own case.
FakeRecordset::Row withholding(const std::string& changed = "", const Value& value = {}) {
    FakeRecordset::Row row = {{"CMD_NumRef", Value::text("20-12345678-3")},
                              {"CP01_IngBrut", Value::integer(9012345)},
                              {"tipo", Value::text("R")},
                              {"Per_Año", Value::integer(2008)},
                              {"Per_Mes", Value::integer(5)},
                              {"Per_Fecha", Value::date(39575)},
                              {"Per_Concepto", Value::text("0001-00001234")},
                              {"Per_Monto", Value::real(1234.5)},
                              {"Per_Monto1", Value::real(37.04)},
                              {"Per_CUIT", Value::text("30-98765432-1")},
                              {"Per_NumAgenteRet", Value::integer(456)},
                              {"Per_Responsable", Value::text("Ferretería Centro S.A.")}};
    for (auto& [name, field] : row)
        if (name == changed) field = value;
    return row;
}

// A form set up as the TXT command leaves it, writing to memory.
struct RecordLineTest : ::testing::Test {
    RecordLineTest() {
        form.file1 = std::unique_ptr<OutputFile>(file);
        file->Open("/out/x.txt");
        form.G_SC = ";";
        form.G_TIPO_ARCHIVO = "TXT";
    }
    PlainControls controls;
    ScriptedMessageBoxes boxes;
    Form1 form{controls, boxes, "/app"};
    MemoryOutputFile* file = new MemoryOutputFile;
};

TEST_F(RecordLineTest, TxtLines) {
    struct Row {
        const char* name;
        const char* field;
        Value value;
        const char* line;  // nullptr: no line but the error
        int error;
    };
    const Row rows[] = {
        {"the example",
         "",
         {},
         "20123456783;9012345;R;2008;5;20080507;0001-00001234;123450;3704;30987654321;456;"
         "FERRETER\xCD"
         "A CENTRO S A ;\r\n",
         0},
        {"new year's day", "Per_Fecha", Value::date(39448),
         "20123456783;9012345;R;2008;5;20080101;0001-00001234;123450;3704;30987654321;456;"
         "FERRETER\xCD"
         "A CENTRO S A ;\r\n",
         0},
        {"absent agent number", "Per_NumAgenteRet", Value::null(),
         "20123456783;9012345;R;2008;5;20080507;0001-00001234;123450;3704;30987654321;;"
         "FERRETER\xCD"
         "A CENTRO S A ;\r\n",
         0},
        {"separator and LF kept to one field", "CP01_IngBrut", Value::text("90;12\n3"),
         "20123456783;90;12 3;R;2008;5;20080507;0001-00001234;123450;3704;30987654321;456;"
         "FERRETER\xCD"
         "A CENTRO S A ;\r\n",
         0},
        {"line break in agent name", "Per_Responsable", Value::text("Ferretería\r\nCentro, S.A."),
         "20123456783;9012345;R;2008;5;20080507;0001-00001234;123450;3704;30987654321;456;"
         "FERRETER\xCD"
         "A  CENTRO  S A ;\r\n",
         0},
        {"absent date", "Per_Fecha", Value::null(), nullptr, RuntimeError::InvalidUseOfNull},
        {"absent taxpayer", "CMD_NumRef", Value::null(), nullptr, RuntimeError::InvalidUseOfNull},
        {"absent voucher", "Per_Concepto", Value::null(), nullptr, RuntimeError::InvalidUseOfNull},
        {"absent amount withheld", "Per_Monto1", Value::null(), nullptr, RuntimeError::InvalidUseOfNull},
        {"absent agent name", "Per_Responsable", Value::null(), nullptr, RuntimeError::InvalidUseOfNull},
        {"amount out of range", "Per_Monto", Value::real(1e300), nullptr, RuntimeError::Overflow},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        file->Abandon();
        file->Open("/out/x.txt");
        EXPECT_EQ(errorNumber([&] {
                      Escribir_Linea(*file, FakeRecordset({withholding(row.field, row.value)}),
                                     LineFormat{form.G_SC, form.G_SD, form.G_TIPO_ARCHIVO});
                  }),
                  row.error);
        EXPECT_EQ(file->bytes(), row.line ? row.line : "");
    }
}

TEST_F(RecordLineTest, CsvFiles) {
    const std::pair<int, const char*> dialects[] = {
        {2,
         "\"CUIT\";\"IIB\";\"TIPO\";\"DJ_A\xD1O\";\"DJ_MES\";\"RP_FECHA\";\"FAC_NRO\";\"FAC_MONTO\";\"RET_PER\";"
         "\"AG_CUIT\";\"AG_NRO\";\"AG_RAZON_SOCIAL\"\r\n"
         "20123456783;9012345;R;2008;5;[2008-05-07];0001-00001234;1234,50;37,04;30987654321;456;FERRETER\xCD"
         "A CENTRO S A ;\r\n"
         "20123456783;9012345;R;2008;5;[--];0001-00001234;1234,50;37,04;30987654321;456;FERRETER\xCD"
         "A CENTRO S A ;\r\n"},
        {0,
         "\"CUIT\",\"IIB\",\"TIPO\",\"DJ_A\xD1O\",\"DJ_MES\",\"RP_FECHA\",\"FAC_NRO\",\"FAC_MONTO\",\"RET_PER\","
         "\"AG_CUIT\",\"AG_NRO\",\"AG_RAZON_SOCIAL\"\r\n"
         "20123456783,9012345,R,2008,5,[2008-05-07],0001-00001234,1234.50,37.04,30987654321,456,FERRETER\xCD"
         "A CENTRO S A ,\r\n"
         "20123456783,9012345,R,2008,5,[--],0001-00001234,1234.50,37.04,30987654321,456,FERRETER\xCD"
         "A CENTRO S A ,\r\n"},
    };
    for (const auto& [separador, bytes] : dialects) {
        file->Abandon();
        file->Open("/out/x.csv");
        controls.separador = separador;
        Leer_Separadores(controls, form.G_SC, form.G_SD);
        form.G_TIPO_ARCHIVO = "CSV";
        Escribir_Cabecera_CSV(*file, form.G_SC);
        FakeRecordset rs({withholding(), withholding("Per_Fecha", Value::null())});
        for (; !rs.isEOF(); rs.MoveNext())
            Escribir_Linea(*file, rs, LineFormat{form.G_SC, form.G_SD, form.G_TIPO_ARCHIVO});
        EXPECT_EQ(file->bytes(), bytes) << "element " << separador;
    }
}

}  // namespace
