#pragma once

#include "runtime/Value.h"
#include "source/Recordset.h"

#include <string>
#include <utility>
#include <vector>

// A recordset over rows given in the test: each row a list of named values. Names match without regard to case
// (Unicode-aware, so "per_año" finds "Per_Año"); an unknown name, a read past the last row or a call after
// Close raises RuntimeError (DatabaseError).
class FakeRecordset : public Recordset {
public:
    using Row = std::vector<std::pair<std::string, Value>>;

    explicit FakeRecordset(std::vector<Row> rows = {}) : m_rows(std::move(rows)) {}

    bool isEOF() const override;
    const Value& Fields(std::string_view name) const override;
    void MoveNext() override;
    void Close() override { m_closed = true; }

    bool isClosed() const noexcept { return m_closed; }

private:
    void checkOpen() const;

    std::vector<Row> m_rows;
    std::size_t m_current = 0;
    bool m_closed = false;
};
