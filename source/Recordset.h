#pragma once

#include "runtime/Value.h"

#include <array>
#include <cstddef>
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
    // Fields(name), found by where the field was the last time `slot` was read with that name (a slot past
    // kFieldSlots is read by name): a caller reading the same fields of every row gives each name a slot of its
    // own, and reads it with the same text, the name told by where that text lies and its length.
    const Value& Fields(std::size_t slot, std::string_view name) const {
        if (slot >= kFieldSlots) return Fields(name);
        FieldSlot& kept = (m_sharedSlots ? *m_sharedSlots : m_ownSlots)[slot];
        if (kept.name == name.data() && kept.size == name.size() && kept.index != kNoIndex) [[likely]]
            return FieldAt(kept.index, name);
        const Value& value = Fields(name);
        kept = {name.data(), name.size(), FieldIndex(name)};
        return value;
    }
    virtual void MoveNext() = 0;
    // Releases the query; later calls raise a run-time error. Closing twice is harmless.
    virtual void Close() = 0;

    static constexpr std::size_t kFieldSlots = 16;
    static constexpr std::size_t kNoIndex = ~std::size_t(0);

    // Where the field a slot was last read with lies.
    struct FieldSlot {
        const char* name = nullptr;
        std::size_t size = 0;
        std::size_t index = kNoIndex;
    };
    using FieldSlots = std::array<FieldSlot, kFieldSlots>;

protected:
    // Makes the recordset keep its slots in `shared`, with the recordsets whose fields lie where its own do
    // (those of one query shape): a short result's first row then finds its fields as the rows before found them.
    void shareSlots(FieldSlots& shared) noexcept { m_sharedSlots = &shared; }

    // Where the field `name`, already read, lies in every row of this recordset; kNoIndex to have it read by name.
    virtual std::size_t FieldIndex(std::string_view name) const {
        (void)name;
        return kNoIndex;
    }
    // The current row's field at `index` (from FieldIndex), raising as Fields(name) would.
    virtual const Value& FieldAt(std::size_t index, std::string_view name) const {
        (void)index;
        return Fields(name);
    }

private:
    mutable FieldSlots m_ownSlots{};
    FieldSlots* m_sharedSlots = nullptr;
};
