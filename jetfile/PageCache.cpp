#include "jetfile/PageCache.h"

#include "jetfile/JetDamage.h"
#include "jetfile/PageSource.h"

#include <algorithm>

PageCache::PageCache(PageSource& source, std::uint32_t pageSize, std::uint32_t pageCount)
    : m_source(source),
      m_pageSize(pageSize),
      m_pageCount(pageCount),
      m_buffer(std::make_unique_for_overwrite<unsigned char[]>(kCachedPages * pageSize)) {
    m_slotPages.reserve(kCachedPages);
    m_pageSlots.reserve(kCachedPages);
}

const std::string& PageCache::path() const noexcept { return m_source.name(); }

// A slot for a page about to be read: a new one while there is room, else the next in turn.
std::size_t PageCache::takeSlot() {
    std::size_t slot;
    if (m_slotsUsed < kCachedPages) {
        slot = m_slotsUsed++;
        m_slotPages.push_back(0);
    } else {
        slot = m_nextSlot++ % kCachedPages;
    }
    if (m_slotPages[slot] != 0) m_pageSlots.erase(m_slotPages[slot]);
    m_slotPages[slot] = 0;
    return slot;
}

const unsigned char* PageCache::page(const std::string& table, std::uint32_t pg) {
    // The page asked for last is asked for again row after row.
    if (pg != 0 && pg == m_lastPage && m_slotPages[m_lastSlot] == pg) return slotData(m_lastSlot);
    if (auto it = m_pageSlots.find(pg); it != m_pageSlots.end()) {
        m_lastPage = pg;
        m_lastSlot = it->second;
        return slotData(it->second);
    }
    if (pg == 0 || pg >= m_pageCount)
        throwDamaged(path(), table, "la página " + std::to_string(pg) + " está fuera del archivo");
    // Several walks may go on at once (a table's rows, its index, the rows it points at): each is followed.
    std::uint32_t count = 1;
    const auto sequence = std::find(m_nextInSequence.begin(), m_nextInSequence.end(), pg);
    if (sequence != m_nextInSequence.end())
        while (count < kReadAhead && pg + count < m_pageCount && !m_pageSlots.count(pg + count)) ++count;
    std::array<std::size_t, kReadAhead> slots{};
    std::array<std::span<unsigned char>, kReadAhead> pieces{};
    for (std::uint32_t i = 0; i < count; ++i) {
        slots[i] = takeSlot();
        pieces[i] = {slotData(slots[i]), m_pageSize};
    }
    const std::size_t got = m_source.read(std::uint64_t(pg) * m_pageSize, std::span(pieces.data(), count));
    if (got < m_pageSize) throwDamaged(path(), table, "la página " + std::to_string(pg) + " no se puede leer");
    // Pages past a short read stay unread.
    count = std::min<std::uint32_t>(count, std::uint32_t(got / m_pageSize));
    for (std::uint32_t i = 0; i < count; ++i) {
        m_slotPages[slots[i]] = pg + i;
        m_pageSlots.emplace(pg + i, slots[i]);
    }
    if (sequence != m_nextInSequence.end())
        *sequence = pg + count;
    else
        m_nextInSequence[m_nextSequence++ % m_nextInSequence.size()] = pg + count;
    m_lastPage = pg;
    m_lastSlot = slots[0];
    return slotData(slots[0]);
}
