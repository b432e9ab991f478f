#include "source/JetSql.h"

#include "source/JetLexer.h"
#include "source/JetTranslator.h"

std::string translateJetSql(std::string_view jetSql, const NameResolver& resolve, const TableLookup& tables) {
    return translateJet(lexJetSql(jetSql), resolve, tables, false).sql;
}

std::string sqlQuoted(std::string_view text, char quote) {
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back(quote);
    for (char c : text) {
        if (c == quote) out.push_back(quote);
        out.push_back(c);
    }
    out.push_back(quote);
    return out;
}
