#pragma once

#include "source/Value.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// The column types the program keeps; other Jet types (OLE objects, replication ids, decimals) are not read.
enum class JetType { Boolean, Byte, Integer, Long, Currency, Single, Double, DateTime, Text, Memo };

struct JetColumn {
    std::string name;
    JetType type;
    int index;  // position among the table's columns as libmdb lists them
};

struct JetTableInfo {
    std::string name;
    std::vector<JetColumn> columns;
    // Columns that carry an index in the file, by name: the natural keys of lookups and joins.
    std::vector<std::string> indexedColumns;
};

// A Jet file opened read-only through libmdb. Values come from the stored bytes: numbers keep their bits, text is
// decoded from UTF-16 (or Jet 4's compressed form, or Jet 3's code page) to UTF-8, Null stays Null.
class JetFile {
public:
    // Opens `path` and checks `password` against the one stored in the file (a file without one opens with any).
    // Raises RuntimeError for a missing or unreadable file, a non-Jet or encrypted file, or a wrong password.
    JetFile(const std::string& path, const std::string& password);
    ~JetFile();
    JetFile(JetFile&&) noexcept;
    JetFile& operator=(JetFile&&) noexcept;
    JetFile(const JetFile&) = delete;
    JetFile& operator=(const JetFile&) = delete;

    const std::vector<JetTableInfo>& tables() const noexcept { return m_tables; }

    // Calls `row` with every live row of `table`, in storage order. A damaged row or page raises RuntimeError.
    void scan(const JetTableInfo& table, const std::function<void(const std::vector<Value>&)>& row) const;

private:
    struct Impl;

    std::unique_ptr<Impl> m_impl;
    std::vector<JetTableInfo> m_tables;
};
