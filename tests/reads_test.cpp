// The program's five reads on real files: for each, the rows it gives, in order, with their values as stored. The
// cases come from impuest-cases.mdb, whose catalogue (shared fixtures README) says why each row is there, and from
// generated files holding what the hand-made one lacks.
#include "database/JetDatabase.h"
#include "database/JetSortKey.h"
#include "database/JetTextOrder.h"
#include "database/MovementStream.h"
#include "database/TaxpayerOrder.h"
#include "jetfile/PageSource.h"
#include "runtime/RuntimeError.h"
#include "support/FakeClock.h"
#include "support/SparsePages.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <span>

namespace {

// A value as the expectations write it: Null, a number with its kind, a text in quotes.
std::string show(const Value& v) {
    switch (v.kind()) {
        case Value::Kind::Null: return "Null";
        case Value::Kind::Integer: return std::to_string(v.asInteger());
        case Value::Kind::Double: return Conv::CStr(v) + "d";
        case Value::Kind::Date: return "#" + Conv::CStr(v) + "#";
        case Value::Kind::Text: return "'" + v.asText() + "'";
    }
    return "?";
}

std::string show(std::initializer_list<const Value*> values) {
    std::string row;
    for (const Value* v : values) row += (row.empty() ? "" : " ") + show(*v);
    return row;
}

using Rows = std::vector<std::string>;

class Reads : public ::testing::Test {
protected:
    // A reading of a database of the tests' own.
    static std::unique_ptr<Reading> open(const std::string& file) { return readingOf(testData(file)); }
    static std::unique_ptr<Reading> readingOf(const std::string& path) { return JetDatabase(path, "Kb7731R28").read(); }

    static Rows taxpayers(Reading& db) {
        Rows rows;
        for (const TaxpayerRow& row : db.taxpayers()) rows.push_back(show({&row.CMD_NumRef, &row.CMD_Contribuyente}));
        return rows;
    }
    static std::string taxpayer(Reading& db, const std::string& reference) {
        const std::optional<FoundTaxpayer> found = db.taxpayerByReference(reference);
        return found ? show({&found->CMD_ID, &found->CMD_NumRef}) : "none";
    }
    // Each lookup on a reading of its own, then all on one, where those after the first find the rows by their
    // folded texts.
    static void expectLookups(const std::string& path, std::span<const std::pair<const char*, const char*>> cases) {
        for (const auto& [reference, expected] : cases)
            EXPECT_EQ(taxpayer(*readingOf(path), reference), expected) << reference;
        const auto reading = readingOf(path);
        for (const auto& [reference, expected] : cases)
            EXPECT_EQ(taxpayer(*reading, reference), expected) << reference << " on one reading";
    }
    static Rows groups(Reading& db, std::int32_t taxpayer) {
        Rows rows;
        for (const DeclarationGroup& g : db.declarationGroups(taxpayer))
            rows.push_back(show({&g.CP01_ID, &g.Sid_Año, &g.Sid_Mes, &g.maximo}));
        return rows;
    }
    static std::string declaration(Reading& db, std::int32_t form, const std::string& maximo) {
        const std::optional<Value> sid = db.declarationId(form, maximo);
        return sid ? show(*sid) : "none";
    }
    static Rows movements(Reading& db, MovementTable table, std::int32_t taxpayer, std::int32_t declaration) {
        Rows rows;
        db.movements(table, taxpayer, declaration, [&](const Movement& m) {
            rows.push_back(
                show({&m.CMD_NumRef, &m.CP01_IngBrut, &m.tipo, &m.Per_Fecha, &m.Per_Año, &m.Per_Mes, &m.Per_CUIT,
                      &m.Per_NumAgenteRet, &m.Per_Responsable, &m.Per_Concepto, &m.Per_Monto, &m.Per_Monto1}));
        });
        return rows;
    }
};

// The list: by name in Jet's text order, a Null name first, accents beside the plain letters, case not counted.
TEST_F(Reads, TaxpayerList) {
    auto db = open("data/impuest-cases.mdb");
    EXPECT_EQ(taxpayers(*db), (Rows{"'20-11111111-2' Null", "'30-66666666-7' 'Cooperativa Agrícola La Unión Ltda.'",
                                    "'27-99999999-3' 'Córdoba de la Peña, Azucena Ñusta (nombre corregido)'",
                                    "'20-1234567-8' 'Fernández, Inés'", "'23-22222222-9' 'Gómez Ibarra, Raúl Andrés'",
                                    "'23-22222222-9' 'Gómez, Raúl'", "'30-77777777-8' 'Mayorista Ñuñoa S.A.'",
                                    "'27-23456789-4' 'Muñoz, María Ángeles'",
                                    "'30-71234567-1' 'Ñandubay Agropecuaria S.A.'", "'20-55555555-6' 'Olmos, Begoña'",
                                    "'20-12345678-3' 'Peña Núñez, José María'", "'20-88888888-9' 'Ruiz Díaz, Ramón'",
                                    "'27-44444444-5' 'Sánchez Ibáñez, Lucía'", "'20-123456789-1' 'Suárez, Ángel'"}));
    EXPECT_TRUE(open("data/impuest-empty.mdb")->taxpayers().empty());
}

// The lookup: the reference as given, whole and literally; the first row the table stores wins.
TEST_F(Reads, TaxpayerByReference) {
    const std::pair<const char*, const char*> cases[] = {
        {"20-12345678-3", "1 '20-12345678-3'"},
        {"23-22222222-9", "5 '23-22222222-9'"},    // two taxpayers share it
        {"20-1234567-8", "7 '20-1234567-8'"},      // 12 characters
        {"20-123456789-1", "8 '20-123456789-1'"},  // 14 characters
        {"27-99999999-3", "14 '27-99999999-3'"},   // a row that grew and moved
        {"20-15151515-1", "none"},                 // a deleted row
        {"20-12345678-3 ", "none"},
        {"20-12345678-", "none"},
        {"", "none"},
        {"20-12345678-3' OR ''='", "none"}};
    expectLookups(testData("data/impuest-cases.mdb"), cases);
}

// Texts equal in Jet's order fold alike, and texts that fold alike are equal: a lookup goes by the folded text.
TEST(JetTextOrder, EqualTextsFoldAlike) {
    const char* texts[] = {"Peña",         "PEÑA",          "pena",    "Pena",   "ángel",    "ÁNGEL",
                           "angel",        "straße",        "STRASSE", "\u212A", "k",        "K",
                           "20-1234567-8", "20-1234567-8 ", "",        "ab",     "a\u0301b", "áb"};
    for (const char* a : texts)
        for (const char* b : texts)
            EXPECT_EQ(equalJetText(a, b), JetTextKey(a).folded() == JetTextKey(b).folded()) << a << " " << b;
}

std::string hex(const std::string& bytes) {
    std::string out;
    for (const unsigned char b : bytes) {
        out += out.empty() ? "" : " ";
        out += "0123456789ABCDEF"[b >> 4];
        out += "0123456789ABCDEF"[b & 0xF];
    }
    return out;
}

// The keys Access wrote in a text index of its own files (less the flag byte 0x7F before each), and the edges it
// shares with them.
TEST(JetSortKey, KeysAreTheOnesAccessWrites) {
    const std::tuple<const char*, std::string, std::string> cases[] = {
        {"blanks and case", "CORE USER", "4D 64 69 51 07 6F 6B 51 69 01 00"},
        {"accents after the text", "ääkkösiä", "4A 4A 5C 5C 64 6B 59 4A 01 13 13 02 02 13 02 02 13 00"},
        {"unmarked letters after the last accent left out", "ümlaut", "6F 60 5E 4A 6F 6D 01 13 00"},
        {"a hyphen after the text, with its place", "-1", "38 01 01 01 01 80 07 06 82 00"},
        {"control characters after the text, each with its place",
         "3L9\x1D"
         "52\x02_AB(¥\x05!!V",
         "3C 5E 48 40 3A 2B 03 4A 4C 14 34 A9 09 09 71 01 01 01 01 80 13 06 1A 80 1B 06 04 80 2F 06 07 00"},
        {"trailing blanks count for nothing", "N   ", "62 01 00"},
        {"leading blanks count", " N", "07 62 01 00"},
        {"empty", "", "01 00"},
        {"U+0000 counts for nothing", std::string("N\0", 2), "62 01 00"},
        {"Windows-1252 quotes and the euro", "’€", "2B 38 35 A1 01 00"},
        {"other scripts after Latin, by code point", "Мир", "F0 00 04 1C F0 00 04 38 F0 00 04 40 01 00"},
        {"a byte that is not UTF-8", "\xFF", "F0 00 FF FD 01 00"},
        {"only 255 characters", std::string(300, 'a'), hex(std::string(255, '\x4A')) + " 01 00"}};
    for (const auto& [name, text, key] : cases) EXPECT_EQ(hex(jetGeneralSortKey(text)), key) << name;
}

// Texts Access holds equal have equal keys.
TEST(JetSortKey, TextsAccessHoldsEqual) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"case", "MUÑOZ, INÉS", "Muñoz, Inés"},
        {"trailing blanks", "Pérez, Ana   ", "Pérez, Ana"},
        {"a character without weight", "An\u200Da", "Ana"},
        {"a ligature and its letters", "Æther, Straße", "AEther, Strasse"}};
    for (const auto& [name, a, b] : cases) EXPECT_EQ(hex(jetGeneralSortKey(a)), hex(jetGeneralSortKey(b))) << name;
}

// Names in the order of their keys, as Access orders them; each comment says why a name follows the one before.
TEST(JetSortKey, NamesSortAsAccessSortsThem) {
    const std::vector<std::string> ordered = {
        "",
        " Zárate, Pedro",             // a leading blank before every other character
        "\"El Ombú\" S.R.L.",         // punctuation
        "(Sin razón social)",         //
        "1° de Mayo S.R.L.",          // digits after punctuation; ° is a symbol, before the digits
        "12 de Octubre S.A.",         //
        "1ª Compañía de Seguros",     // ª is an a
        "3 Arroyos Cooperativa",      //
        "Agroindustrias del Sur",     // letters after digits
        "Agro-Sur S.A.",              // the hyphen weighs nothing: agrosur
        "Alvarez, Angel",             // no accent before an accent
        "Álvarez, Ángel",             //
        "Álvaro, Luis",               // a letter before an accent
        "Cia Industrial",             // a blank before a full stop
        "Cía. Industrial del Plata",  //
        "D´Amico, Luis",              // ´ is a symbol
        "D’Alessandro, Ana",          // so is ’, after ´
        "Da Silva, Joao",             //
        "D'Angelo, Marta",            // the apostrophe weighs nothing: dangelo
        "Escuela N° 5",               // ° before the letters
        "Escuela Nacional",           //
        "Escuela Nº 12",              // º is an o
        "Guemes, Martin",             //
        "Güemes, Martín",             // ü beside u
        "Guerra, Ana",                //
        "'La Estancia' S.A.",         // a leading apostrophe weighs nothing
        "Munoz, Ines",                //
        "Muñoz, Inés",                // ñ beside n
        "Munro, Alicia",              // and not after it
        "Ñandubay S.A.",              //
        "Nunez, Jose",                //
        "Nuñez, José",                // the first accent decides
        "Núñez, José",                //
        "Ochoa, Raúl",                //
        "Ohanian, Sara",              //
        "O'Higgins S.A.",             // ohiggins
        "Pena, Ana",                  //
        "Peña, Ana",                  //
        "perez, ana",                 // case does not count
        "Pérez, Ana"};
    std::vector<std::string> sorted(ordered.rbegin(), ordered.rend());
    std::stable_sort(sorted.begin(), sorted.end(), [](const std::string& a, const std::string& b) {
        return jetGeneralSortKey(a) < jetGeneralSortKey(b);
    });
    EXPECT_EQ(sorted, ordered);
}

// The list follows the table's index on the names where it lists exactly the rows with a name, and the names' keys
// otherwise; Null names first, and rows of equal keys, in the order stored.
TEST(TaxpayerOrder, FollowsAnIndexThatAgreesWithTheTable) {
    const std::vector<std::pair<const char*, RowPointer>> stored = {
        {"Peña", {10, 0}},  {nullptr, {10, 1}},          {"pena", {10, 2}}, {"Agro-Sur", {11, 0}},
        {nullptr, {11, 1}}, {"Agroindustrias", {11, 2}}, {"PENA", {11, 3}}};
    std::vector<TaxpayerRow> rows;
    std::vector<RowPointer> places;
    for (const auto& [name, place] : stored) {
        rows.push_back({Value(), name ? Value::text(name) : Value()});
        places.push_back(place);
    }
    // As Access lists them: equal names in an order of its own.
    const std::vector<RowPointer> access = {{11, 2}, {11, 0}, {11, 3}, {10, 2}, {10, 0}};
    const auto with = [&](std::vector<RowPointer> before, std::vector<RowPointer> after) {
        before.insert(before.end(), access.begin(), access.end());
        before.insert(before.end(), after.begin(), after.end());
        return before;
    };
    const char* byIndex = "Null Null Agroindustrias Agro-Sur PENA pena Peña";
    const char* byKeys = "Null Null Agroindustrias Agro-Sur pena PENA Peña";
    const std::tuple<const char*, std::optional<std::vector<RowPointer>>, const char*> cases[] = {
        {"no index", std::nullopt, byKeys},
        {"an index without the Nulls", access, byIndex},
        {"an index with the Nulls", with({{11, 1}, {10, 1}}, {}), byIndex},
        {"a row missing", std::vector<RowPointer>(access.begin(), access.end() - 1), byKeys},
        {"a row twice", with({}, {{10, 0}}), byKeys},
        {"a Null twice", with({{10, 1}, {10, 1}}, {}), byKeys},
        {"a row the table does not have", with({}, {{12, 0}}), byKeys}};
    for (const auto& [name, index, expected] : cases) {
        std::string names;
        for (const std::size_t i : taxpayerOrder(rows, places, index ? &*index : nullptr))
            names += (names.empty() ? "" : " ") + (stored[i].first ? std::string(stored[i].first) : "Null");
        EXPECT_EQ(names, expected) << name;
    }
}

// The grouped declarations: per form and month, operations 0 and 1 only, the greatest key as text (sequence 9
// outranks 11), in the order of that key; equal keys of two forms in the order of the forms.
TEST_F(Reads, DeclarationGroups) {
    auto db = open("data/impuest-cases.mdb");
    EXPECT_EQ(groups(*db, 3),
              (Rows{"30 '2006' '5' '2006511'", "30 '2007' '04' '20070411'", "30 '2007' '06' '20070611'",
                    "30 '2007' '07' '20070711'", "30 '2007' '08' '20070819'", "30 '2007' '10' '20071011'"}));
    EXPECT_EQ(groups(*db, 2),
              (Rows{"20 '2006' '03' '20060311'", "21 '2006' '03' '20060311'", "20 '2006' '04' '20060411'"}));
    EXPECT_EQ(groups(*db, 9), Rows{});   // a form without declarations
    EXPECT_EQ(groups(*db, 15), Rows{});  // a deleted taxpayer
    EXPECT_EQ(groups(*db, 999), Rows{});
}

// A declaration by its form and key: any operation, the first in the order of the form's declarations.
TEST_F(Reads, DeclarationId) {
    auto db = open("data/impuest-cases.mdb");
    const std::tuple<std::int32_t, const char*, const char*> cases[] = {
        {30, "20070411", "307"}, {30, "20070819", "300"},  {30, "200708111", "301"}, {30, "20070911", "302"},
        {30, "2007041", "none"}, {31, "20070411", "none"}, {10, "20080511", "100"},  {10, "", "none"}};
    for (const auto& [form, maximo, expected] : cases)
        EXPECT_EQ(declaration(*db, form, maximo), expected) << form << " " << maximo;
}

// A declaration's movements: joined with its form and taxpayer, only when the declaration is on a form of that
// taxpayer; deleted rows, orphans and the other table's rows never.
TEST_F(Reads, Movements) {
    auto db = open("data/impuest-cases.mdb");
    EXPECT_EQ(movements(*db, MovementTable::Retenciones, 1, 100),
              Rows{"'20-12345678-3' '9012345' 'R' #07/05/2008# 2008 5 '30-98765432-1' '456' '  Ferretería Centro "
                   "S.A. ' '0001-00001234' 1234.5d 37.04d"});
    EXPECT_EQ(movements(*db, MovementTable::Percepciones, 1, 100),
              Rows{"'20-12345678-3' '9012345' 'P' #20/05/2008# 2008 5 '30-50123456-7' '901-000123-4' "
                   "'Supermercados del Oeste S.A.' '0003-00045678' 19.99d 0.07d"});
    EXPECT_EQ(movements(*db, MovementTable::Retenciones, 2, 100), Rows{});  // another taxpayer's declaration
    EXPECT_EQ(movements(*db, MovementTable::Retenciones, 1, 111), Rows{});  // a deleted declaration's orphan
    EXPECT_EQ(movements(*db, MovementTable::Percepciones, 3, 305), Rows{});
    EXPECT_EQ(movements(*db, MovementTable::Retenciones, 14, 1400).size(), 1u);
}

// The same reads on a file made for them (tests/data/reads-cases.json says what each row is there for): names
// equal but for case and accents, a Null and an empty name, references with letters and a leading blank, Null
// keys, years, months and operations, forms of missing taxpayers, declarations of missing forms, equal keys,
// deleted rows and rows that grew and moved.
TEST_F(Reads, MadeToPinWhatEachReadMeans) {
    const auto db = readingOf(testData("data/reads-cases.mdb"));
    EXPECT_EQ(taxpayers(*db),
              (Rows{"'20-00000006-6' Null", "'20-00000007-7' ''", "'20-00000011-1' 'angel'", "'20-00000010-0' 'Ángel'",
                    "' 20-0000009-9' 'Blanco'", "'20-00000013-3' 'Movida'", "'20-00000003-3' 'Pena, Ana'",
                    "'20-00000001-1' 'peña, ana'", "'20-00000002-2' 'PEÑA, ANA'", "'20-00000004-4' 'peña, ana'",
                    "'20-00000001-1' 'Repetida'", "Null 'Sin Referencia'", "'ab-00000005-5' 'Zeta'"}));
    const std::pair<const char*, const char*> lookups[] = {{"20-00000001-1", "1 '20-00000001-1'"},
                                                           {"AB-00000005-5", "5 'ab-00000005-5'"},
                                                           {" 20-0000009-9", "9 ' 20-0000009-9'"},
                                                           {"20-0000009-9", "none"},
                                                           {"20-00000012-2", "none"},
                                                           {"20-00000013-3", "13 '20-00000013-3'"},
                                                           {"", "none"}};
    expectLookups(testData("data/reads-cases.mdb"), lookups);

    EXPECT_EQ(groups(*db, 1),
              (Rows{"10 Null Null Null", "10 Null '03' '0311'", "10 '2020' '01' '20200111'",
                    "11 '2020' '01' '20200111'", "10 '2020' '02' '20200219'", "10 '2020' '4' '2020411'"}));
    EXPECT_EQ(groups(*db, 2), Rows{"40 '2020' '07' '20200711'"});
    EXPECT_EQ(groups(*db, 13), Rows{"130 '2020' '08' '20200811'"});
    EXPECT_EQ(groups(*db, 99), Rows{});  // only a form of it
    EXPECT_EQ(groups(*db, 12), Rows{});  // deleted

    const std::tuple<std::int32_t, const char*, const char*> declarations[] = {
        {10, "20200111", "101"},  {10, "202002111", "103"}, {10, "0311", "104"},    {11, "20200111", "110"},
        {130, "20200811", "130"}, {10, "20200511", "107"},  {10, "2020511", "none"}};
    for (const auto& [form, maximo, expected] : declarations)
        EXPECT_EQ(declaration(*db, form, maximo), expected) << form << " " << maximo;

    const auto vouchers = [&](MovementTable table, std::int32_t taxpayer, std::int32_t sid) {
        Rows rows;
        db->movements(table, taxpayer, sid, [&](const Movement& m) {
            rows.push_back(show({&m.CMD_NumRef, &m.CP01_IngBrut, &m.tipo, &m.Per_Concepto, &m.Per_Monto}));
        });
        return rows;
    };
    const auto R = MovementTable::Retenciones, P = MovementTable::Percepciones;
    EXPECT_EQ(vouchers(R, 1, 100),
              (Rows{"'20-00000001-1' '901-000010' 'R' 'R-3' 100d", "'20-00000001-1' '901-000010' 'R' 'R-1' 100d",
                    "'20-00000001-1' '901-000010' 'R' 'R-7 movida' 100d"}));
    EXPECT_EQ(vouchers(P, 1, 100), Rows{"'20-00000001-1' '901-000010' 'P' 'P-2' Null"});
    EXPECT_EQ(vouchers(R, 1, 101).size(), 1u);
    EXPECT_EQ(vouchers(P, 1, 105), Rows{"'20-00000001-1' '901-000010' 'P' 'P-3' 100d"});
    EXPECT_EQ(vouchers(P, 1, 110), Rows{"'20-00000001-1' '901-000011' 'P' 'P-1' 100d"});
    EXPECT_EQ(vouchers(R, 2, 400), Rows{"'20-00000002-2' '901-000040' 'R' 'R-9' 100d"});
    EXPECT_EQ(vouchers(R, 13, 131), Rows{"'20-00000013-3' '901-0000130' 'R' 'R-10' 100d"});
    for (const auto& [taxpayer, sid] : {std::pair{99, 200}, {1, 400}, {1, 777}, {1, 500}, {1, 501}, {1, 300}})
        EXPECT_EQ(vouchers(R, taxpayer, sid), Rows{}) << taxpayer << " " << sid;
}

// A row that grew when edited and moved keeps its first place, as Jet reads it: of two taxpayers sharing a
// reference, the first stored is found though it was edited after the second was added; of two declarations with one
// key, the first stored; a declaration's movements in the order of their first places.
TEST_F(Reads, RowsThatGrewKeepTheirFirstPlace) {
    const auto db = readingOf(testData("data/edited-twins.mdb"));
    EXPECT_EQ(taxpayer(*db, "20-00000001-1"), "1 '20-00000001-1'");
    EXPECT_EQ(declaration(*db, 10, "20200211"), "101");
    const auto vouchers = [&](MovementTable table, std::int32_t taxpayer, std::int32_t sid) {
        Rows rows;
        db->movements(table, taxpayer, sid, [&](const Movement& m) { rows.push_back(show({&m.Per_Concepto})); });
        return rows;
    };
    EXPECT_EQ(vouchers(MovementTable::Retenciones, 2, 200), (Rows{"'R-2 Nueva movida'", "'R-3 Nueva'"}));
    EXPECT_EQ(vouchers(MovementTable::Percepciones, 1, 100), (Rows{"'P-1 Editada'", "'P-3 Editada movida'"}));
    EXPECT_EQ(groups(*db, 1), (Rows{"10 '2020' '01' '20200111'", "10 '2020' '02' '20200211'"}));
}

// The list follows CMD's index on the names, where it has one that lists every row with a name: an order no sorting
// of the names gives. A Null name, which the index leaves out, comes first.
TEST_F(Reads, TheListFollowsAnIndexOnTheNames) {
    EXPECT_EQ(taxpayers(*readingOf(testData("data/name-index.mdb"))),
              (Rows{"'20-00000004-4' Null", "'20-00000005-5' 'Zeta S.A.'", "'20-00000001-1' 'Beta'",
                    "'20-00000007-7' 'Ñandú'", "'20-00000003-3' 'Álvarez, José'", "'20-00000009-9' ''",
                    "'20-00000006-6' 'beta'", "'20-00000002-2' 'alfa'"}));
}

// What real files hold and the hand-made fixtures seldom do, each in a file made for it (tests/data/*.json say how):
// rows written before a table's last columns were added, compressed texts that switch to UTF-16 and back, keys found
// only through an index node's tail page, index entries whose key is not their row's, and tables far into a big file
// whose page maps name several bitmap pages.
TEST_F(Reads, RarerShapesOfTheFile) {
    const auto R = MovementTable::Retenciones, P = MovementTable::Percepciones;
    const auto columns = [](Reading& db, MovementTable table, std::int32_t taxpayer, std::int32_t sid) {
        Rows rows;
        db.movements(table, taxpayer, sid, [&](const Movement& m) {
            rows.push_back(
                show({&m.Per_Concepto, &m.Per_Monto, &m.Per_Monto1, &m.Per_NumAgenteRet, &m.Per_Responsable}));
        });
        return rows;
    };

    // Columns a row lacks read as Null: a declaration whose operation it lacks is neither 0 nor 1.
    const auto shortRows = readingOf(testData("data/short-rows.mdb"));
    EXPECT_EQ(taxpayers(*shortRows)[0], "'20-00000002-2' Null");
    EXPECT_EQ(groups(*shortRows, 1),
              (Rows{"10 '2020' '01' '20200111'", "11 '2020' '01' '20200111'", "10 '2020' '03' '20200311'"}));
    EXPECT_EQ(groups(*shortRows, 2), Rows{});
    EXPECT_EQ(
        columns(*shortRows, R, 1, 100),
        (Rows{"'R-1 completo' 100d 3d '1' 'Agente Uno S.A.'", "'R-2 sin alicuota' 100d 3d '1' 'Agente Uno S.A.'",
              "'R-3 sin monto1' 100d Null '1' 'Agente Uno S.A.'", "'R-4 sin montos' Null Null '1' 'Agente Uno S.A.'"}));
    EXPECT_EQ(columns(*shortRows, P, 1, 100),
              (Rows{"Null Null Null '1' 'Agente Uno S.A.'", "'P-2 completo' 100d 3d '1' 'Agente Uno S.A.'"}));

    const auto mixed = readingOf(testData("data/mixed-texts.mdb"));
    EXPECT_EQ(taxpayers(*mixed), (Rows{"'20-00000001-1' 'Œuvre — “Française” S.A.'", "'20-00000002-2' 'Plano S.A.'"}));
    EXPECT_EQ(
        columns(*mixed, R, 1, 100),
        (Rows{"'€ 0001-00001234' 100d 3d '901–1' 'Distribuidora D’Alessandro & Cía. € S.R.L.'",
              "'R-2' 100d 3d '1' 'Agente Ñandú ’'", "'R-3' 100d 3d '1' 'Distribuidora D’Alessandro & Cía. € S.R.L.'"}));
    EXPECT_EQ(columns(*mixed, P, 1, 100), Rows{"'P-1' 100d 3d '1' '‘Comillas’ y “dobles”'"});

    const auto tails = readingOf(testData("data/tail-pages.mdb"));
    EXPECT_EQ(groups(*tails, 4), (Rows{"40 '2020' '01' '20200111'", "40 '2020' '02' '20200211'"}));
    EXPECT_EQ(declaration(*tails, 40, "20200211"), "401");
    EXPECT_EQ(columns(*tails, R, 4, 401).size(), 1u);
    EXPECT_EQ(columns(*tails, R, 1, 100).size(), 3u);
    EXPECT_EQ(columns(*tails, P, 3, 300).size(), 1u);

    // A row found through an entry that names another key is not that key's.
    const auto keys = readingOf(testData("data/index-keys.mdb"));
    EXPECT_EQ(columns(*keys, R, 2, 200), Rows{"'R-3' 200d 3d '1' 'Agente Uno S.A.'"});
    EXPECT_EQ(columns(*keys, P, 2, 200), Rows{"'P-2' 200d 3d '1' 'Agente Uno S.A.'"});
    EXPECT_EQ(groups(*keys, 2), Rows{"20 '2020' '01' '20200111'"});

    FakeClock clock;
    const SparsePages big(testData("data/big-map.pages"));
    const auto far = JetDatabase([&] { return big.open(); }, "Kb7731R28", clock).read();
    const auto vouchers = [&](MovementTable table, std::int32_t sid) {
        Rows rows;
        far->movements(table, 1, sid, [&](const Movement& m) { rows.push_back(show({&m.Per_Concepto})); });
        return rows;
    };
    EXPECT_EQ(vouchers(R, 100), (Rows{"'R-1'", "'R-2'", "'R-3 pagina 40000'"}));
    EXPECT_EQ(vouchers(R, 101), (Rows{"'R-4 pagina 40000'", "'R-5 pagina 70000'"}));
    EXPECT_EQ(vouchers(P, 100), Rows{"'P-1 pagina 50000'"});
    EXPECT_EQ(vouchers(P, 101), Rows{"'P-2 pagina 70001'"});
}

// A batch's reading reads its declarations' movements ahead, in one pass over each table: every declaration then
// gives the rows a search gives, in the same order, whatever the order the exports ask for them in.
TEST_F(Reads, MovementsReadAheadAreTheRowsASearchGives) {
    for (const std::string& path :
         {testData("data/reads-cases.mdb"), testData("data/edited-twins.mdb"), testData("data/short-rows.mdb"),
          testData("data/tail-pages.mdb"), testData("data/index-keys.mdb")}) {
        const auto searched = readingOf(path), ahead = readingOf(path);
        std::vector<std::pair<std::int32_t, std::int32_t>> exports;  // taxpayer and declaration
        std::vector<std::int32_t> taxpayers;
        for (std::int32_t taxpayer = 20; taxpayer-- > 0;) {
            taxpayers.push_back(taxpayer);
            for (const DeclarationGroup& group : searched->declarationGroups(taxpayer))
                if (const auto sid = searched->declarationId(std::int32_t(group.CP01_ID.asInteger()),
                                                             group.maximo.isNull() ? "" : group.maximo.asText()))
                    exports.emplace_back(taxpayer, std::int32_t(sid->asInteger()));
        }
        ASSERT_FALSE(exports.empty()) << path;
        // Every period but 2020-02, which is then searched.
        ahead->expectMovements(taxpayers, [](const Value& year, const Value& month) {
            return !(year == Value::text("2020") && month == Value::text("02"));
        });
        std::reverse(exports.begin(), exports.end());
        for (const auto& [taxpayer, sid] : exports)
            for (const MovementTable table : {MovementTable::Retenciones, MovementTable::Percepciones})
                EXPECT_EQ(movements(*ahead, table, taxpayer, sid), movements(*searched, table, taxpayer, sid))
                    << path << " " << taxpayer << " " << sid;
    }
}

// The rows kept for a batch go to buckets of a bounded size, on a scratch file when there are several, and come
// back byte for byte, each declaration's rows of each table in the order they were added.
TEST(MovementStream, KeepsRowsInBucketsAndGivesThemBackAsAdded) {
    const std::string rows[] = {"a", std::string(300, 'x'), "", std::string("\0\xFF\n", 3)};
    // Rows as a pass meets them: (table, declaration, bytes).
    const std::vector<std::tuple<std::size_t, std::int32_t, int>> met = {{0, 9, 0}, {0, 5, 1}, {0, 9, 2}, {0, 7, 3},
                                                                         {1, 5, 2}, {1, 9, 3}, {1, 5, 0}, {0, 3, 1}};
    for (const std::size_t perBucket : {std::size_t(3), std::size_t(4), std::size_t(100)}) {
        for (const std::vector<std::int32_t>& plan :
             {std::vector<std::int32_t>{5, 9, 3, 5, 1000000}, std::vector<std::int32_t>{9, 5, 3, 1000000, 5}}) {
            MovementStream stream(plan, perBucket);
            EXPECT_FALSE(stream.planned(7));
            for (const auto& [table, sid, r] : met) stream.count(table, sid, 0, false);
            stream.arrange();
            for (const auto& [table, sid, r] : met)
                if (stream.planned(sid)) stream.add(table, sid, 0, false, rows[r]);
            stream.finish();
            // Asked for out of the plan's order too.
            for (const std::int32_t sid : {3, 9, 5, 1000000, 9}) {
                for (const std::size_t table : {0u, 1u}) {
                    std::vector<std::string> expected, got;
                    for (const auto& [t, s, r] : met)
                        if (t == table && s == sid) expected.push_back(rows[r]);
                    EXPECT_TRUE(stream.serve(table, sid, [&](std::string_view row) { got.emplace_back(row); }));
                    EXPECT_EQ(got, expected)
                        << "declaration " << sid << " table " << table << ", " << perBucket << " rows a bucket";
                }
            }
            EXPECT_FALSE(stream.serve(0, 7, [](std::string_view) {}));
        }
    }
    // A declaration with more rows than a bucket holds is left to a search.
    MovementStream small(std::vector<std::int32_t>{5, 9, 3}, 2);
    for (const auto& [table, sid, r] : met) small.count(table, sid, 0, false);
    small.arrange();
    for (const auto& [table, sid, r] : met)
        if (small.planned(sid)) small.add(table, sid, 0, false, rows[r]);
    small.finish();
    EXPECT_FALSE(small.planned(5));
    EXPECT_FALSE(small.planned(9));
    EXPECT_TRUE(small.planned(3));
    std::vector<std::string> got;
    EXPECT_TRUE(small.serve(0, 3, [&](std::string_view row) { got.emplace_back(row); }));
    EXPECT_EQ(got, std::vector<std::string>{rows[1]});
    // Rows counted from an index that lists others than the table holds, or lists a row under another declaration:
    // the declaration is left to a search, with the few planned beside it.
    std::vector<std::int32_t> plan(64);
    for (std::int32_t sid = 0; sid < 64; ++sid) plan[std::size_t(sid)] = sid;
    MovementStream stream(plan);
    for (const std::uint32_t sid : {5u, 20u, 21u, 40u}) stream.count(0, sid, sid << 8, true);
    stream.arrange();
    stream.add(0, 5, 5 << 8, true, "a");
    stream.add(0, 20, 21 << 8, true, "b");  // the index lists this row under 21, which holds it twice
    stream.add(0, 21, 21 << 8, true, "c");
    stream.add(0, 40, 41 << 8, true, "d");  // another row than the index lists
    stream.finish();
    EXPECT_TRUE(stream.planned(5));
    EXPECT_TRUE(stream.planned(15));
    EXPECT_FALSE(stream.planned(20));
    EXPECT_FALSE(stream.planned(21));
    EXPECT_FALSE(stream.planned(40));
    EXPECT_TRUE(stream.planned(63));
}

}  // namespace

namespace {

// A writer of the test's own, as another program keeping the database up to date writes it: the file in memory,
// its stamps given by a clock the test moves.
struct Writer {
    explicit Writer(const std::string& from) : file(readBytes(from), "Impuest.mdb") { settle(); }
    JetDatabase database() {
        return JetDatabase([this] { return file.open(); }, "Kb7731R28", clock);
    }
    // Writes `bytes` over the file now, or appends a page.
    void write(std::string bytes) { file.write(std::move(bytes), clock.now()); }
    void appendPage() { file.write(file.bytes().size(), std::string(4096, '\0'), clock.now()); }
    // Lets the last write grow old, as if the writer had stopped a while ago.
    void settle() { file.touch(clock.now() - std::chrono::nanoseconds(std::chrono::hours(1)).count()); }

    FakeClock clock;
    MemoryFile file;
};

// A command reads the file as it is when it starts, and is made again while the file changes under it; a file
// that keeps changing ends it with an error that says so, and what looks like damage in a file being written is
// reported as the change it is.
TEST(Reading, ACommandIsReadAgainWhileTheFileChangesUnderIt) {
    Writer w(testData("data/impuest-cases.mdb"));
    JetDatabase db = w.database();
    const auto expected = db.read()->declarationGroups(3).size();

    // Written a moment ago: writes within the same tick of the clock leave one stamp, so a first reading of a file
    // that has just been written cannot tell whether it changed, and is made again once the file has settled.
    int attempts = 0, discarded = 0;
    w.write(w.file.bytes());
    readUnchangedFile(
        db, [&](Reading& reading) { ++attempts, reading.taxpayers(); }, [&] { ++discarded; });
    EXPECT_EQ(attempts, 2);
    EXPECT_EQ(discarded, 1);

    attempts = discarded = 0;
    std::size_t read = 0;
    const auto writeOnce = [&](Reading& reading) {
        read = reading.declarationGroups(3).size();
        if (++attempts == 1) w.appendPage();
    };
    readUnchangedFile(db, writeOnce, [&] { ++discarded; });
    EXPECT_EQ(attempts, 2);
    EXPECT_EQ(discarded, 1);
    EXPECT_EQ(read, expected);

    attempts = discarded = 0;
    try {
        readUnchangedFile(
            db,
            [&](Reading& reading) {
                ++attempts;
                reading.taxpayers();
                w.appendPage();
            },
            [&] { ++discarded; });
        ADD_FAILURE() << "a file that keeps changing was read";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), RuntimeError::DatabaseChanged);
        EXPECT_NE(e.Description().find("cambió mientras se leía: vuelva a intentarlo"), std::string::npos);
    }
    EXPECT_EQ(attempts, 4);
    EXPECT_EQ(discarded, 4);

    // Cut short while a command reads it: the pages it still needs are gone, and the command hears of a change.
    w.clock.advance(std::chrono::seconds(1));
    auto reading = db.read();
    reading->taxpayers();
    w.write(w.file.bytes().substr(0, 8 * 4096));
    try {
        reading->movements(MovementTable::Retenciones, 1, 100, [](const Movement&) {});
        ADD_FAILURE() << "a file cut short was read";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), RuntimeError::DatabaseChanged) << e.Description();
    }
    EXPECT_FALSE(reading->unchanged());
    // Once the file is as it will stay, the damage is damage.
    w.clock.advance(std::chrono::seconds(1));
    try {
        db.read()->movements(MovementTable::Retenciones, 1, 100, [](const Movement&) {});
        ADD_FAILURE() << "a file cut short was read";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), RuntimeError::DatabaseError) << e.Description();
    }
}

// A time of the last write ahead of the clock by more than a tick is a file server's clock, not a write under way:
// the file reads at once. Within a tick either way, it may be a write under way.
TEST(Reading, AModificationTimeAheadOfTheClock) {
    Writer w(testData("data/impuest-cases.mdb"));
    JetDatabase db = w.database();
    // Ten milliseconds ahead: read once the clock has gone 25 ms past it, after two waits of 30 ms.
    for (const auto& [ahead, attempts] : {std::pair{std::chrono::hours(1), 1}, {std::chrono::hours(0), 3}}) {
        w.file.touch(w.clock.now() + std::chrono::nanoseconds(ahead).count() + 10'000'000);
        int made = 0;
        readUnchangedFile(db, [&](Reading& reading) { ++made, reading.taxpayers(); });
        EXPECT_EQ(made, attempts) << "ahead by " << ahead.count() << " h and 10 ms";
    }
}

// A batch keeps its reading while the file under the name read is the one read, unchanged; otherwise its next
// command reads the file as it is when it starts. A batch waits for a file being written to settle, within a bound.
TEST(Reading, ABatchGoesOnWithItsReadingWhileTheFileStaysAsRead) {
    Writer w(testData("data/impuest-cases.mdb"));
    JetDatabase db = w.database();
    std::unique_ptr<Reading> kept;
    const auto exportOnce = [&] {
        int attempts = 0;
        std::size_t listed = 0;
        readUnchangedFile(db, kept, [&](Reading& reading) {
            ++attempts;
            listed = reading.taxpayers().size();
        });
        EXPECT_EQ(attempts, 1);
        return listed;
    };
    EXPECT_EQ(exportOnce(), 14u);
    const Reading* first = kept.get();
    EXPECT_EQ(exportOnce(), 14u);
    EXPECT_EQ(kept.get(), first);
    w.appendPage();
    w.settle();
    EXPECT_FALSE(kept->current());
    EXPECT_EQ(exportOnce(), 14u);
    EXPECT_TRUE(kept->current());
    w.write(readBytes(testData("data/reads-cases.mdb")));
    w.settle();
    EXPECT_EQ(exportOnce(), 13u);
    EXPECT_EQ(kept->taxpayerByReference("20-00000013-3")->CMD_ID.asInteger(), 13);

    EXPECT_TRUE(db.waitUntilSettled(std::chrono::seconds(5)));
    EXPECT_EQ(w.clock.slept(), 0);
    w.appendPage();
    EXPECT_TRUE(db.waitUntilSettled(std::chrono::seconds(5)));
    EXPECT_GE(w.clock.slept(), kSettledFor.count());
    EXPECT_LE(w.clock.slept(), kSettledFor.count() + 2);
}

// Another file put in the place of the one read (the old one renamed aside, as a backup, and the new one renamed to
// its name): the reading is no longer current, though it can still read the file it holds open. (Windows keeps the
// name of a file deleted or replaced while it is open until it is closed: renamed, it gives the name up at once.)
TEST(Reading, AFileReplacedUnderItsName) {
    TempDir dir;
    const auto path = dir.path() / "Impuest.mdb";
    std::filesystem::copy_file(testData("data/impuest-cases.mdb"), path);
    std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    JetDatabase db(path.string(), "Kb7731R28");
    std::unique_ptr<Reading> kept = db.read();
    EXPECT_TRUE(kept->current());
    const auto other = dir.path() / "new.mdb";
    std::filesystem::copy_file(testData("data/reads-cases.mdb"), other);
    std::filesystem::rename(path, dir.path() / "Impuest.bak");
    std::filesystem::rename(other, path);
    EXPECT_FALSE(kept->current());
    EXPECT_EQ(kept->taxpayers().size(), 14u);
    EXPECT_EQ(db.read()->taxpayers().size(), 13u);
}

}  // namespace
