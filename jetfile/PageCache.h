#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class PageSource;

// The pages of a Jet file, read from its source and kept: the lookups of an export read the same pages again
// and again (the declarations of a taxpayer, the index pages, the taxpayer's row). A page read right after the one
// before it is read with the few that follow, in one call: the rows of a declaration lie on consecutive pages.
class PageCache {
public:
    PageCache(PageSource& source, std::uint32_t pageSize, std::uint32_t pageCount);

    // The file's name, for messages.
    const std::string& path() const noexcept;
    std::uint32_t pageSize() const noexcept { return m_pageSize; }
    // The whole pages the file holds.
    std::uint32_t pageCount() const noexcept { return m_pageCount; }

    // Page `pg` of the file, `pageSize()` bytes, from the pages kept or from the file; valid until the next read.
    // Raises RuntimeError naming `table` when the page is outside the file or cannot be read.
    const unsigned char* page(const std::string& table, std::uint32_t pg);

private:
    std::size_t takeSlot();
    unsigned char* slotData(std::size_t slot) noexcept { return m_buffer.get() + slot * m_pageSize; }

    // Slots, not a least-recently-used cache: a run of pages is read by one call straight into the buffers of
    // the slots it takes, so the buffers are made once and stay where they are, and a page handed out stays valid
    // until its slot comes round again, 256 reads later. Slots are reused in turn once all are in use.
    static constexpr std::size_t kCachedPages = 256;
    static constexpr std::uint32_t kReadAhead = 8;

    PageSource& m_source;
    std::uint32_t m_pageSize;
    std::uint32_t m_pageCount;
    // The slots' pages side by side in one block, left unset until a page is read into them.
    std::unique_ptr<unsigned char[]> m_buffer;
    std::size_t m_slotsUsed = 0;
    std::vector<std::uint32_t> m_slotPages;                      // the page each slot holds, 0 for none
    std::unordered_map<std::uint32_t, std::size_t> m_pageSlots;  // page number → slot
    std::size_t m_nextSlot = 0;
    std::array<std::uint32_t, 4> m_nextInSequence{};  // the page after each of the last runs read
    std::size_t m_nextSequence = 0;
    std::uint32_t m_lastPage = 0;  // the page handed out last, and its slot
    std::size_t m_lastSlot = 0;
};
