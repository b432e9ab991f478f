#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
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
// otherwise, one bucket in memory at a time.
class MovementStream {
public:
    // How many rows a bucket holds at most (more only when one declaration has more): about 8 MB.
    static constexpr std::size_t kRowsPerBucket = 65536;

    // `plan`: the declarations (Sid_ID), in the order their movements will be asked for; one listed again keeps its
    // first place.
    explicit MovementStream(std::span<const std::int32_t> plan, std::size_t rowsPerBucket = kRowsPerBucket);
    ~MovementStream();
    MovementStream(const MovementStream&) = delete;
    MovementStream& operator=(const MovementStream&) = delete;

    // Whether `sid` is a planned declaration.
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
    // left to a search of the index, as if it had not been planned.
    void finish();

    // Calls `visit` with the bytes of each row of table `table` of planned declaration `sid`, in the order they
    // were added; false, doing nothing, when `sid` is not planned. Raises std::system_error when the scratch file
    // cannot be read.
    bool serve(std::size_t table, std::int64_t sid, const std::function<void(std::string_view)>& visit);

private:
    struct Kept;  // a row's place in the bucket in memory

    std::int32_t ordinalOf(std::int64_t sid) const;
    std::size_t bucketOf(std::int32_t ordinal) const;
    void load(std::size_t bucket);

    std::size_t m_rowsPerBucket;
    // Each planned declaration's place in the plan: by Sid_ID in a table from the lowest one when they are close
    // together (AutoNumbers), else in a list sorted by Sid_ID.
    std::int64_t m_lowest = 0;
    std::vector<std::int32_t> m_dense;
    std::vector<std::pair<std::int32_t, std::int32_t>> m_sparse;
    std::int32_t m_ordinals = 0;
    std::vector<std::uint32_t> m_counts;  // by place, during the first pass
    // By place, what the index lists less what the table holds, as a sum of the rows' places mixed: zero when they
    // are the same rows. Then, after the passes, the declarations left to a search.
    std::vector<std::uint32_t> m_fingerprints;
    std::vector<bool> m_unplanned;
    std::vector<std::int32_t> m_bucketFirst;  // the first place of each bucket
    std::vector<std::string> m_buffers;       // each bucket's rows not yet on the scratch file
    std::vector<std::vector<std::pair<std::uint64_t, std::size_t>>> m_chunks;  // each bucket's pieces on it
    std::unique_ptr<ScratchFile> m_scratch;
    // The bucket in memory, and where each of its rows is, in the order served.
    std::size_t m_loaded = SIZE_MAX;
    std::string m_loadedBytes;
    std::vector<Kept> m_kept;
};
