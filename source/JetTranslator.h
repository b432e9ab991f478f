#pragma once

#include "source/JetLexer.h"
#include "source/JetSql.h"

#include <string>
#include <string_view>
#include <vector>

// Writing a Jet SELECT statement, read into tokens, as SQLite SQL (see translateJetSql).
std::string translateTokens(std::string_view sql, const std::vector<JetToken>& tokens, const NameResolver& resolve,
                            const TableLookup& tables);
