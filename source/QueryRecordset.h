#pragma once

#include "source/QueryColumns.h"
#include "source/Recordset.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QueryEngine;
class SqliteStatement;

// The rows of one query. The first rows are read when the query opens (all of them for the program's small
// queries, which can then be kept); a longer result, or one that is not to be kept, is read on as it is walked,
// one row at a time into the same place and each column when it is asked for, its statement held until the end and
// then given back to the engine.
class QueryRecordset final : public Recordset {
public:
    // A result read whole.
    QueryRecordset(std::shared_ptr<const QueryColumns> columns, std::shared_ptr<const QueryRows> head);
    // A result whose rows after `head` are still to be read: `statement` (of shape `shape`, on `engine`) has
    // stepped to the first of them, whose columns are read as they are asked for.
    QueryRecordset(std::shared_ptr<const QueryColumns> columns, std::shared_ptr<const QueryRows> head,
                   std::shared_ptr<QueryEngine> engine, std::string shape, std::unique_ptr<SqliteStatement> statement,
                   int timeoutSeconds);
    ~QueryRecordset() override;

    bool isEOF() const override { return m_closed || (m_position >= m_head->size() && !m_statement); }
    const Value& Fields(std::string_view name) const override;
    void MoveNext() override;
    void Close() override;

protected:
    std::size_t FieldIndex(std::string_view name) const override { return m_columns->column(name); }
    const Value& FieldAt(std::size_t column, std::string_view name) const override;

private:
    [[noreturn]] void noCurrentRow(std::string_view name) const;
    void finish() noexcept;
    std::shared_ptr<const QueryColumns> m_columns;
    std::shared_ptr<const QueryRows> m_head;
    std::size_t m_position = 0;
    // While more rows are to be read: the reading they come from and the statement reading them.
    std::shared_ptr<QueryEngine> m_engine;
    std::string m_shape;
    std::unique_ptr<SqliteStatement> m_statement;
    int m_timeout = 0;
    mutable std::vector<Value> m_row;  // the current row once past the head
    mutable std::vector<char> m_read;  // which of its columns were read
    bool m_closed = false;
};
