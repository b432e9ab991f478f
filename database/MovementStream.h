#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

class ScratchFile;

// The movements of the declarations a batch will export, gathered in one pass over each movement table and handed
// out in the order the exports ask for them: a batch's taxpayers have their movements all over the file, so that
// reading each declaration's rows through the index reads every page of the file again and again.
//
// Filled in two passes over the tables: the first counts each planned declaration's rows, so that the rows can be
// kept in buckets of consecutive declarations of a bounded size; the second keeps the rows' stored bytes, decoded
// only when they are handed out. Buckets are kept in memory while all rows fit in one, and on a scratch file
// otherwise, one bucket in memory at a time. What it keeps of each planned declaration is about six bytes.
class MovementStream {
public:
    // How many rows a bucket holds at most: a few megabytes. A declaration with more is left to a search.
    static constexpr std::size_t kRowsPerBucket = 8192;

    // A plan of declarations in `groups` groups (a batch's taxpayers), in the order of the groups and, within one, in
    // the order given: each declaration is given twice, to plan() then to place(), in the same order.
    explicit MovementStream(std::size_t groups, std::size_t rowsPerBucket = kRowsPerBucket);
    // `plan`: the declarations (Sid_ID), in the order their movements will be asked for (one group).
    explicit MovementStream(std::span<const std::int32_t> plan, std::size_t rowsPerBucket = kRowsPerBucket);
    // The first pass over the plan: declaration `sid` belongs to group `group`.
    void plan(std::size_t group, std::int32_t sid);
    // The second: each declaration again, in the same order, takes its place. A declaration given again keeps its
    // first place.
    void place(std::size_t group, std::int32_t sid);
    ~MovementStream();
    MovementStream(const MovementStream&) = delete;
    MovementStream& operator=(const MovementStream&) = delete;

    // Whether `sid` is a planned declaration. Only once the first pass over the tables has begun.
    bool planned(std::int64_t sid) const;

    // The first pass: a row of table `table` (0 or 1) of planned declaration `sid`, stored at `place` (its page and
    // slot, page << 8 | slot), as the table's index lists it (`listed`) or as a scan meets it.
    void count(std::size_t table, std::int64_t sid, std::uint32_t place, bool listed);
    // Between the passes.
    void arrange();
    // The second pass: a row of table `table` of planned declaration `sid` at `place`, with its stored bytes, in
    // the order the table is read; `listed`: counted from the table's index, which must list exactly these rows.
    void add(std::size_t table, std::int64_t sid, std::uint32_t place, bool listed, std::string_view row);
    // After the second pass. A declaration whose rows are not those its table's index lists (a damaged index) is
    // left to a search of the index, as if it had not been planned, and so are the few planned beside it.
    void finish();

    // Calls `visit` with the bytes of each row of table `table` of planned declaration `sid`, in the order they
    // were added; false, doing nothing, when `sid` is not planned. Raises std::system_error when the scratch file
    // cannot be read.
    bool serve(std::size_t table, std::int64_t sid, const std::function<void(std::string_view)>& visit);

private:
    struct Kept {
        std::uint32_t offset;  // of the row's bytes, in the bucket's bytes
        std::uint32_t length;
    };

    // Ends the placing, before the first count.
    void placed();
    std::int32_t ordinalOf(std::int64_t sid) const;
    std::size_t bucketOf(std::int32_t ordinal) const;
    std::uint32_t countOf(std::int32_t ordinal) const;
    void flush();
    void load(std::size_t bucket);

    std::size_t m_rowsPerBucket;
    // Each planned declaration's place in the plan: by Sid_ID in a table from the lowest one when they are close
    // together (AutoNumbers), else in a list sorted by Sid_ID.
    std::int64_t m_lowest = INT32_MAX;
    std::int64_t m_highest = INT32_MIN;
    std::vector<std::int32_t> m_groupNext;  // while planning: each group's next place
    bool m_placing = false;
    std::vector<std::int32_t> m_dense;
    std::vector<std::pair<std::int32_t, std::int32_t>> m_sparse;
    std::int32_t m_ordinals = 0;
    // By place, during the first pass: its rows, those past 65,534 kept apart.
    std::vector<std::uint16_t> m_counts;
    std::unordered_map<std::int32_t, std::uint32_t> m_bigCounts;
    // For each sixteen places, what the index lists less what the table holds, as a sum of the rows' places
    // mixed: zero when they are the same rows. Then, after the passes, the blocks left to a search.
    std::vector<std::uint32_t> m_fingerprints;
    std::vector<bool> m_unplanned;
    std::vector<std::int32_t> m_bucketFirst;  // the first place of each bucket
    // The rows not yet on the scratch file, as they came, and each one's bucket and place among them; with one
    // bucket, all its rows.
    std::string m_staged;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> m_stagedRows;
    // Each bucket's last piece on the scratch file, which begins with where its piece before it is (a chain, so
    // that what is kept in memory of a bucket does not grow with the file).
    struct Piece {
        std::uint64_t offset = 0;
        std::uint32_t length = 0;  // 0: none
    };
    std::vector<Piece> m_lastPieces;
    std::vector<std::int32_t> m_tooBig;  // places of declarations with more rows than a bucket holds, in order
    std::unique_ptr<ScratchFile> m_scratch;
    // The bucket in memory: its bytes, and where the rows of each of its places' tables start among `m_kept`.
    std::size_t m_loaded = SIZE_MAX;
    std::string m_loadedBytes;
    std::vector<Kept> m_kept;
    std::vector<std::uint32_t> m_starts;
};
