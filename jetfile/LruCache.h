#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <unordered_map>
#include <utility>

// Values kept by key, the least recently used dropped first: when more than `capacity` would be kept, or, for
// values with a cost, when their costs would add up to more than the budget. A lookup that finds its value makes it
// the most recently used; it costs one hash of the key and the move of one list node, and allocates nothing. A
// value stays where it is until it is dropped: pointers and references to it stay valid until then.
//
// A key's hash may be given, so that a long key (a query text) looked up, then inserted, or looked up in two caches
// with the same Hash, is hashed once. A cache of a few values is searched without hashing.
template <typename Key, typename Value, typename Hash = std::hash<Key>>
class LruCache {
public:
    explicit LruCache(std::size_t capacity, std::size_t budget = SIZE_MAX) : m_capacity(capacity), m_budget(budget) {}
    LruCache(const LruCache&) = delete;
    LruCache& operator=(const LruCache&) = delete;

    static std::size_t hashOf(const Key& key) { return Hash{}(key); }

    // The value kept under `key`, now the most recently used; null when none is.
    Value* find(const Key& key) {
        if (m_entries.size() > kScanned) return find(key, hashOf(key));
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it)
            if (it->key == key) return &touch(it);
        return nullptr;
    }
    Value* find(const Key& key, std::size_t hash) {
        const auto it = m_index.find(KeyRef{&key, hash});
        return it == m_index.end() ? nullptr : &touch(it->second);
    }

    // The value kept under `key`, its place in the order unchanged; null when none is.
    Value* peek(const Key& key) {
        if (m_entries.size() <= kScanned) {
            for (Entry& entry : m_entries)
                if (entry.key == key) return &entry.value;
            return nullptr;
        }
        const auto it = m_index.find(KeyRef{&key, hashOf(key)});
        return it == m_index.end() ? nullptr : &it->second->value;
    }

    // Keeps `value` under `key` as the most recently used, in place of any value kept there, after dropping the
    // least recently used until there is room for it. `cost` counts against the budget.
    Value& insert(Key key, Value value, std::size_t cost = 1) {
        const std::size_t hash = hashOf(key);
        return insert(std::move(key), hash, std::move(value), cost);
    }
    Value& insert(Key key, std::size_t hash, Value value, std::size_t cost = 1) {
        if (const auto it = m_index.find(KeyRef{&key, hash}); it != m_index.end()) drop(it);
        while (!m_entries.empty() && (m_entries.size() >= m_capacity || m_cost + cost > m_budget))
            drop(m_index.find(KeyRef{&m_entries.back().key, m_entries.back().hash}));
        m_entries.push_front({std::move(key), std::move(value), hash, cost});
        try {
            m_index.emplace(KeyRef{&m_entries.front().key, hash}, m_entries.begin());
        } catch (...) {
            m_entries.pop_front();
            throw;
        }
        m_cost += cost;
        return m_entries.front().value;
    }

    void clear() noexcept {
        m_index.clear();
        m_entries.clear();
        m_cost = 0;
    }

    std::size_t size() const noexcept { return m_entries.size(); }
    // The costs of the values kept, added up.
    std::size_t cost() const noexcept { return m_cost; }

private:
    struct Entry {
        Key key;
        Value value;
        std::size_t hash;
        std::size_t cost;
    };
    using Entries = std::list<Entry>;  // most recently used first

    // The index refers to the keys in the entries, so that a long key is held once, and carries their hashes, so
    // that a key is never hashed again.
    struct KeyRef {
        const Key* key;
        std::size_t hash;
    };
    struct KeyRefHash {
        std::size_t operator()(const KeyRef& ref) const noexcept { return ref.hash; }
    };
    struct KeyRefEqual {
        bool operator()(const KeyRef& a, const KeyRef& b) const { return a.hash == b.hash && *a.key == *b.key; }
    };
    using Index = std::unordered_map<KeyRef, typename Entries::iterator, KeyRefHash, KeyRefEqual>;

    // A cache this small is searched along its order: cheaper than hashing a long key (a statement's text).
    static constexpr std::size_t kScanned = 16;

    Value& touch(typename Entries::iterator entry) noexcept {
        if (entry != m_entries.begin()) m_entries.splice(m_entries.begin(), m_entries, entry);
        return entry->value;
    }

    void drop(typename Index::iterator it) noexcept {
        const auto entry = it->second;
        m_index.erase(it);
        m_cost -= entry->cost;
        m_entries.erase(entry);
    }

    std::size_t m_capacity;
    std::size_t m_budget;
    std::size_t m_cost = 0;
    Entries m_entries;
    Index m_index;
};
