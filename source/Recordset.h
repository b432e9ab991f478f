#pragma once

#include "runtime/Value.h"

#include <string>
#include <string_view>

// A forward-only recordset: the rows of one query, walked once. It is used by the thread that uses the database it
// came from, like the database itself.
class Recordset {
public:
    virtual ~Recordset() = default;

    // True when there is no current row (past the last row, or no row at all).
    virtual bool isEOF() const = 0;
    // The current row's field of that name, matched without regard to case (Unicode-aware). An unknown name, or
    // no current row, raises a run-time error.
    virtual const Value& Fields(std::string_view name) const = 0;
    virtual void MoveNext() = 0;
    // Releases the query; later calls raise a run-time error. Closing twice is harmless.
    virtual void Close() = 0;
};
