#include "jetfile/IndexReader.h"

#include "jetfile/JetBytes.h"
#include "jetfile/JetDamage.h"
#include "jetfile/PageCache.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace {

constexpr unsigned char kPageIndexNode = 0x03;
constexpr unsigned char kPageIndexLeaf = 0x04;
// On a Jet 4 index page: the previous page of its level at 0x0C, the next one at 0x10, the tail page at 0x14, the
// prefix length at 0x18.
constexpr std::size_t kNextPageOffset = 0x10;
constexpr std::size_t kTailPageOffset = 0x14;
// Every index page names the table definition it belongs to.
constexpr std::size_t kOwnerOffset = 0x04;

// Jet's index key of a Long in an ascending index, packed: a flag byte for "not Null", then the number big-endian
// with its sign bit flipped, so that the bytes sort as the numbers do; then their count, five.
std::uint64_t packedLongKey(std::int32_t key) {
    const auto v = static_cast<std::uint32_t>(key) ^ 0x80000000u;
    return (std::uint64_t(0x7F) << 32 | v) << 8 | 5;
}

// The five key bytes of a packed key, before their count.
constexpr std::uint64_t kKeyBytes = 0xFFFFFFFFFF;

}  // namespace

// The entries of an index page, found where they lie. Entry ends are marked in a bitmap: bit n marks an entry
// ending n bytes after the entries start (bit 0 marks none). Entries after the first may leave out the prefix their
// page's keys share; each ends with its row's page (3 bytes) and slot, then, on node pages, the child page (4
// bytes), all big-endian. An entry is named by its bit and checked against its page when it is read; a page whose
// entries are out of order gives wrong rows, never a read outside it.
// Raises std::invalid_argument naming what is wrong; the caller words it for the table.
class IndexReader::PageEntries {
public:
    static constexpr std::size_t kNone = SIZE_MAX;

    PageEntries(const unsigned char* page, std::uint32_t pageSize, bool jet3)
        : m_page(page),
          m_pageSize(pageSize),
          m_entriesStart(jet3 ? 0xF8 : 0x1E0),
          m_prefix(jetbytes::u16(page + (jet3 ? 0x14 : 0x18))),
          m_tail(page[0] == kPageIndexNode ? 8 : 4) {
        // The bitmap is read where it lies, a word at a time as a search reaches it: a search reads a few words of
        // it. Only its last word, which the entries cut short, is put together here.
        const std::size_t bitmapStart = jet3 ? 0x16 : 0x1B;
        const std::size_t bytes = m_entriesStart - bitmapStart;
        m_bitmap = page + bitmapStart;
        m_words = (bytes + 7) / 8;
        for (std::size_t b = (m_words - 1) * 8; b < bytes; ++b)
            m_lastBits |= std::uint64_t(m_bitmap[b]) << (8 * (b - (m_words - 1) * 8));
        if (m_words == 1) m_lastBits &= ~std::uint64_t(1);
        m_firstEnd = nextEnd(0);
        if (m_firstEnd != kNone) m_first = keyBytes(m_firstEnd, kNone);
    }

    // The first entry; kNone for an empty page.
    std::size_t first() const noexcept { return m_firstEnd; }
    // The entry after, or before, entry `n`; kNone for none.
    std::size_t next(std::size_t n) const noexcept { return nextEnd(n + 1); }
    std::size_t previous(std::size_t n) const noexcept {
        std::size_t w = n / 64;
        std::uint64_t word = bits(w) & ((std::uint64_t(1) << (n % 64)) - 1);
        while (word == 0) {
            if (w == 0) return kNone;
            word = bits(--w);
        }
        return w * 64 + 63 - std::size_t(std::countl_zero(word));
    }

    // The packed key of entry `n`, which follows entry `before` (kNone for the first).
    std::uint64_t key(std::size_t n, std::size_t before) const {
        const std::size_t omitted = before == kNone ? 0 : (m_prefix > 1 ? m_prefix : 0);
        const std::size_t keyLength = std::min<std::size_t>(omitted + stored(n, before) - m_tail, 5);
        return (before == kNone ? m_first : keyBytes(n, before)) << 8 | keyLength;
    }
    // The row of entry `n`, as data page << 8 | slot.
    std::uint32_t row(std::size_t n) const { return jetbytes::u32be(m_page + m_entriesStart + n - m_tail); }
    // The child page of entry `n` of a node page.
    std::uint32_t child(std::size_t n) const { return jetbytes::u32be(m_page + m_entriesStart + n - 4); }
    // row() and child() of entry `n`, which follows entry `before`, once it is checked against its page: a walk that
    // reads no key reads these.
    std::uint32_t checkedRow(std::size_t n, std::size_t before) const { return occupied(n, before), row(n); }
    std::uint32_t checkedChild(std::size_t n, std::size_t before) const { return occupied(n, before), child(n); }

    // The first entry whose key is not below `target`, in key order, and the one before it (kNone for none); the
    // entries are searched by the first entry ending in each word of the bitmap, then one by one.
    std::pair<std::size_t, std::size_t> lowerBound(std::uint64_t target) const {
        std::size_t low = 0, high = m_words;
        while (low < high) {
            std::size_t w = low + (high - low) / 2;
            while (w < high && bits(w) == 0) ++w;
            if (w == high) {
                high = low + (high - low) / 2;
                continue;
            }
            const std::size_t n = w * 64 + std::size_t(std::countr_zero(bits(w)));
            if (key(n, previous(n)) < target)
                low = w + 1;
            else
                high = w;
        }
        // The entries from the first of the word before on: that one is below the key.
        std::size_t n = m_firstEnd;
        for (std::size_t w = low; w-- > 0;) {
            if (bits(w) == 0) continue;
            n = w * 64 + std::size_t(std::countr_zero(bits(w)));
            break;
        }
        std::size_t before = n == kNone ? kNone : previous(n);
        while (n != kNone && key(n, before) < target) {
            before = n;
            n = next(n);
        }
        return {n, before};
    }

private:
    // Word `w` of the bitmap; bit 0 marks no entry.
    std::uint64_t bits(std::size_t w) const noexcept {
        if (w + 1 == m_words) return m_lastBits;
        std::uint64_t word;
        std::memcpy(&word, m_bitmap + w * 8, 8);
        return w == 0 ? word & ~std::uint64_t(1) : word;
    }

    // The first entry ending at bit `from` or after.
    std::size_t nextEnd(std::size_t from) const noexcept {
        std::size_t w = from / 64;
        if (w >= m_words) return kNone;
        std::uint64_t word = bits(w) & (~std::uint64_t(0) << (from % 64));
        while (word == 0) {
            if (++w == m_words) return kNone;
            word = bits(w);
        }
        return w * 64 + std::size_t(std::countr_zero(word));
    }

    // The bytes entry `n` occupies, checked against the page: it ends inside the page and holds its row (and child).
    std::size_t occupied(std::size_t n, std::size_t before) const {
        const std::size_t end = m_entriesStart + n;
        const std::size_t begin = m_entriesStart + (before == kNone ? 0 : before);
        if (end > m_pageSize) throw std::invalid_argument("una entrada de un índice sale de su página");
        if (end - begin < m_tail) throw std::invalid_argument("una entrada de un índice está mal formada");
        return end - begin;
    }
    // The same, for an entry whose key is read: a Long's key leaves out at most its five bytes.
    std::size_t stored(std::size_t n, std::size_t before) const {
        const std::size_t bytes = occupied(n, before);
        const std::size_t omitted = before == kNone ? 0 : (m_prefix > 1 ? m_prefix : 0);
        if (omitted > 5) throw std::invalid_argument("una entrada de un índice está mal formada");
        return bytes;
    }

    // The five key bytes of entry `n`, the ones left out taken from the first entry's.
    std::uint64_t keyBytes(std::size_t n, std::size_t before) const {
        const std::size_t omitted = before == kNone ? 0 : (m_prefix > 1 ? m_prefix : 0);
        const std::size_t keyStored = stored(n, before) - m_tail;
        const std::size_t keyLength = std::min<std::size_t>(omitted + keyStored, 5);
        const unsigned shift = unsigned(8 * (5 - omitted));
        std::uint64_t key = m_first & (kKeyBytes >> shift << shift);
        const unsigned char* bytes = m_page + m_entriesStart + (before == kNone ? 0 : before);
        for (std::size_t b = omitted; b < keyLength; ++b) key |= std::uint64_t(bytes[b - omitted]) << (8 * (4 - b));
        return key;
    }

    const unsigned char* m_page;
    std::size_t m_pageSize;
    std::size_t m_entriesStart;
    std::size_t m_prefix;
    std::size_t m_tail;
    const unsigned char* m_bitmap = nullptr;
    std::uint64_t m_lastBits = 0;
    std::size_t m_words = 0;
    std::size_t m_firstEnd = kNone;
    std::uint64_t m_first = 0;  // the key bytes of the first entry
};

IndexReader::IndexReader(PageCache& pages, bool jet3) : m_pages(pages), m_jet3(jet3) {}

IndexReader::~IndexReader() = default;

const IndexReader::Node& IndexReader::node(const std::string& table, std::uint32_t pg, const unsigned char* p) {
    Node parsed{jetbytes::u32(p + kTailPageOffset), jetbytes::u32(p + kOwnerOffset), {}};
    try {
        const PageEntries entries(p, m_pages.pageSize(), m_jet3);
        std::size_t before = PageEntries::kNone;
        for (std::size_t n = entries.first(); n != PageEntries::kNone; before = n, n = entries.next(n))
            parsed.entries.push_back({entries.key(n, before), entries.child(n)});
    } catch (const std::invalid_argument& e) {
        throwDamaged(m_pages.path(), table, e.what());
    }
    return m_nodes.insert_or_assign(pg, std::move(parsed)).first->second;
}

bool IndexReader::collect(const std::string& table, const unsigned char* p, std::uint64_t target,
                          std::vector<RowPointer>& found) {
    try {
        const PageEntries entries(p, m_pages.pageSize(), m_jet3);
        auto [n, before] = entries.lowerBound(target);
        for (; n != PageEntries::kNone; before = n, n = entries.next(n)) {
            if (entries.key(n, before) > target) return false;
            const std::uint32_t row = entries.row(n);
            found.push_back({row >> 8, std::uint8_t(row)});
        }
    } catch (const std::invalid_argument& e) {
        throwDamaged(m_pages.path(), table, e.what());
    }
    return true;
}

// Whether page `pg` is an index page of the table whose definition is at `owner`: a tail page is followed only
// then, the leaves after the last child otherwise.
bool IndexReader::sameIndex(const std::string& table, std::uint32_t pg, std::uint32_t owner) {
    if (pg >= m_pages.pageCount()) return false;
    if (const auto kept = m_nodes.find(pg); kept != m_nodes.end()) return kept->second.owner == owner;
    const unsigned char* p = m_pages.page(table, pg);
    return (p[0] == kPageIndexLeaf || p[0] == kPageIndexNode) && jetbytes::u32(p + kOwnerOffset) == owner;
}

void IndexReader::find(const std::string& table, std::uint32_t firstPage, std::int32_t key,
                       std::vector<RowPointer>& found) {
    const std::uint64_t target = packedLongKey(key);
    const auto wrongType = [&](std::uint32_t pg) {
        throwDamaged(m_pages.path(), table, "la página " + std::to_string(pg) + " de un índice no es de índice");
    };

    // Down the nodes: each entry holds the last key under its child, so the first entry not below the key leads to
    // where its rows start. Past a node's last entry, the key can only be under the tail page; without one (or
    // with one that is not of this index), on the leaves after the last child, which the chain of leaves reaches.
    std::uint32_t pg = firstPage;
    std::size_t visited = 0;
    const unsigned char* leaf = nullptr;
    for (;;) {
        if (++visited > m_pages.pageCount())
            throwDamaged(m_pages.path(), table, "las páginas de un índice forman un ciclo");
        const auto known = m_nodes.find(pg);
        const Node* kept = known == m_nodes.end() ? nullptr : &known->second;
        if (!kept) {
            const unsigned char* p = m_pages.page(table, pg);
            if (p[0] == kPageIndexLeaf) {
                leaf = p;
                break;
            }
            if (p[0] != kPageIndexNode) wrongType(pg);
            kept = &node(table, pg, p);
        }
        const std::vector<Entry>& entries = kept->entries;
        const auto it = std::lower_bound(entries.begin(), entries.end(), target,
                                         [](const Entry& e, std::uint64_t k) { return e.key < k; });
        if (it != entries.end())
            pg = it->child;
        else if (kept->tail != 0 && sameIndex(table, kept->tail, kept->owner))
            pg = kept->tail;
        else if (!entries.empty())
            pg = entries.back().child;
        else
            return;
    }
    // Along the leaves, in key order, until a key above the one sought.
    for (;;) {
        if (!collect(table, leaf, target, found)) return;
        const std::uint32_t next = jetbytes::u32(leaf + kNextPageOffset);
        if (next == 0) return;
        if (++visited > m_pages.pageCount())
            throwDamaged(m_pages.path(), table, "las páginas de un índice forman un ciclo");
        leaf = m_pages.page(table, next);
        if (leaf[0] != kPageIndexLeaf) wrongType(next);
    }
}

void IndexReader::inOrder(const std::string& table, std::uint32_t owner, std::uint32_t firstPage,
                          std::vector<RowPointer>& found) {
    forEachEntry(table, owner, firstPage, [&](std::uint64_t, RowPointer row) { found.push_back(row); });
}

void IndexReader::forEachLongEntry(const std::string& table, std::uint32_t owner, std::uint32_t firstPage,
                                   const std::function<void(std::int32_t, RowPointer)>& each) {
    forEachEntry(table, owner, firstPage, [&](std::uint64_t key, RowPointer row) {
        // A Long's key is the flag for "not Null" and the number with its sign bit flipped: five bytes.
        if ((key & 0xFF) != 5 || (key >> 40) != 0x7F) return;
        each(std::int32_t(std::uint32_t(key >> 8) ^ 0x80000000u), row);
    });
}

void IndexReader::forEachEntry(const std::string& table, std::uint32_t owner, std::uint32_t firstPage,
                               const std::function<void(std::uint64_t, RowPointer)>& each) {
    // A walk that visits more pages than the file holds goes round in a loop.
    std::size_t visited = 0;
    const auto indexPage = [&](std::uint32_t pg, bool leafOnly) {
        if (++visited > m_pages.pageCount())
            throwDamaged(m_pages.path(), table, "las páginas de un índice forman un ciclo");
        const unsigned char* p = m_pages.page(table, pg);
        if ((p[0] != kPageIndexLeaf && (leafOnly || p[0] != kPageIndexNode)) ||
            jetbytes::u32(p + kOwnerOffset) != owner)
            throwDamaged(m_pages.path(), table, "la página " + std::to_string(pg) + " de un índice no es de índice");
        return p;
    };
    try {
        // Down the first child of each node to the leftmost leaf. A node without entries has its keys under its
        // tail page; an index with neither holds no rows.
        const unsigned char* p = indexPage(firstPage, false);
        while (p[0] == kPageIndexNode) {
            const PageEntries entries(p, m_pages.pageSize(), m_jet3);
            std::uint32_t child = jetbytes::u32(p + kTailPageOffset);
            if (entries.first() != PageEntries::kNone)
                child = entries.checkedChild(entries.first(), PageEntries::kNone);
            else if (child == 0)
                return;
            p = indexPage(child, false);
        }
        // Along the leaves, each of which names the next. What `each` reads may take the leaf's place in the
        // cache: the leaf's entries are taken first.
        std::vector<std::pair<std::uint64_t, RowPointer>> onPage;
        for (;;) {
            onPage.clear();
            const PageEntries entries(p, m_pages.pageSize(), m_jet3);
            for (std::size_t n = entries.first(), before = PageEntries::kNone; n != PageEntries::kNone;
                 before = n, n = entries.next(n)) {
                const std::uint32_t row = entries.checkedRow(n, before);
                onPage.emplace_back(entries.key(n, before), RowPointer{row >> 8, std::uint8_t(row)});
            }
            const std::uint32_t next = jetbytes::u32(p + kNextPageOffset);
            for (const auto& [key, row] : onPage) each(key, row);
            if (next == 0) return;
            p = indexPage(next, true);
        }
    } catch (const std::invalid_argument& e) {
        throwDamaged(m_pages.path(), table, e.what());
    }
}
