#pragma once

// The entry records of one archive, held compactly: 40 bytes an entry for what the checks after the
// central directory need (less than the 46 bytes and more each central header takes in the file),
// and, once they are known, the entries' order in the file. Records are handed out and taken back
// as ZipEntryRecord; a value that does not fit the compact form (a size or offset of 4 GiB or more,
// a directory of 4 GiB or more, an unusual mix of method, flags and version) keeps its entry in a
// side table of full records, so that nothing is ever lost or rounded.
//
// Memory: the records live in blocks mapped straight from the system and given back to it at once.
// Up to FreeAllowance of them are kept from archive to archive for free; a table that grows beyond
// that leases all it holds from the shared DecoderMemoryBudget as a directory lease (one thread at
// a time, see decoder_memory.h), growing the lease block by block, and gives the blocks and the
// lease back when it is cleared.

#include "decoder_memory.h"
#include "zip_format.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <vector>

namespace vellum {

class EntryTable {
public:
    // What a table may hold without a lease: every engine keeps one, and a directory of up to about
    // 200,000 entries fits.
    static constexpr std::uint64_t FreeAllowance = std::uint64_t{8} << 20;

    explicit EntryTable(DecoderMemoryBudget& budget = DecoderMemoryBudget::shared());
    ~EntryTable();
    EntryTable(const EntryTable&) = delete;
    EntryTable& operator=(const EntryTable&) = delete;

    // Forgets every entry and the order; keeps up to FreeAllowance of blocks for the next archive
    // and gives back the rest and the lease. Central header offsets are kept relative to
    // directoryStart.
    void clear(std::uint64_t directoryStart = 0);

    // Appends a record. False, with nothing added, when the memory for it could not be had:
    // keepWaiting returned false while the table waited for its lease.
    bool push(const ZipEntryRecord& record, const std::function<bool()>& keepWaiting);

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    ZipEntryRecord operator[](std::size_t index) const;
    std::uint64_t localHeaderOffset(std::size_t index) const;
    bool unlocatable(std::size_t index) const;

    // Stores what the checks after the directory change in a record: its local header offset, where
    // its data starts and its descriptor's length, and whether its span is known and it is damaged.
    void update(std::size_t index, const ZipEntryRecord& record);

    // Puts the locatable entries in the order of their local header offsets (ties in directory
    // order), the order in which the file is best read. Archivers write the directory in file
    // order, so that is almost always the directory's own order and takes no memory. False when
    // keepWaiting returned false while the table waited for memory for another order.
    bool arrangeByOffset(const std::function<bool()>& keepWaiting);

    // The indices of the locatable entries in the order arrangeByOffset() found.
    class Order {
    public:
        class Iterator {
        public:
            using iterator_category = std::input_iterator_tag;
            using value_type = std::uint32_t;
            using difference_type = std::ptrdiff_t;
            using pointer = const std::uint32_t*;
            using reference = std::uint32_t;

            Iterator(const EntryTable* table, std::size_t position);
            std::uint32_t operator*() const;
            Iterator& operator++();
            bool operator==(const Iterator& other) const { return m_position == other.m_position; }

        private:
            void skipUnlocatable();
            const EntryTable* m_table;
            std::size_t m_position;
        };

        explicit Order(const EntryTable* table) : m_table(table) {}
        Iterator begin() const { return Iterator(m_table, 0); }
        Iterator end() const;

    private:
        const EntryTable* m_table;
    };
    Order order() const { return Order(this); }

    // True while the table holds a directory lease: then the archive's entries must be checked on
    // the thread that holds it.
    bool leased() const { return static_cast<bool>(m_lease); }
    // The bytes of blocks the table holds now.
    std::uint64_t bytesHeld() const { return m_bytesHeld; }

private:
    struct Packed;
    struct Kind {
        std::uint16_t method = 0;
        std::uint16_t flags = 0;
        std::uint16_t versionNeeded = 0;
    };

    // Maps a block of bytes, taking the lease for it first when the table goes beyond its free
    // allowance; nullptr when keepWaiting gave up or the system has no memory.
    void* mapBlock(std::size_t bytes, const std::function<bool()>& keepWaiting);
    void unmapBlock(void* block, std::size_t bytes);
    std::uint8_t kindOf(const ZipEntryRecord& record);
    Packed& packed(std::size_t index);
    const Packed& packed(std::size_t index) const;
    void releaseOrder();

    DecoderMemoryBudget& m_budget;
    DecoderMemoryBudget::Lease m_lease;
    std::uint64_t m_bytesHeld = 0;
    std::uint64_t m_directoryStart = 0;
    std::size_t m_size = 0;
    std::vector<Packed*> m_blocks;
    std::vector<ZipEntryRecord*> m_wideBlocks;
    std::size_t m_wideCount = 0;
    std::vector<Kind> m_kinds;
    std::uint8_t m_lastKind = 0; // the kind found last: entries of one archive mostly share one
    // An order other than the directory's, or null when the directory's is the file's.
    std::uint32_t* m_order = nullptr;
    std::size_t m_orderLength = 0;
    std::size_t m_orderBytes = 0;
    bool m_ordered = false;
    std::size_t m_locatable = 0;
};

} // namespace vellum
