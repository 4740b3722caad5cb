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

#include "base/decoder_memory.h"
#include "structure/zip_format.h"

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
    bool unlocatable(std::size_t index) const { return (packed(index).state & UnlocatableBit) != 0; }

    // Where the entry lies in the file, from its local header to the end of its data descriptor;
    // false when that is not known.
    bool span(std::size_t index, std::uint64_t& start, std::uint64_t& end) const {
        const Packed& entry = packed(index);
        if (!(entry.state & SpanKnownBit))
            return false;
        const std::uint32_t state = entry.state;
        std::uint64_t compressed = entry.compressedSize;
        start = localHeaderOffset(index);
        if (state & WideBit) [[unlikely]]
            compressed = wide(entry).compressedSize;
        end =
            start + (state & DataDeltaMask) + compressed + ((state & DescriptorMask) >> DescriptorShift) * 4;
        return true;
    }
    void markDamaged(std::size_t index) { packed(index).state |= DamagedBit; }

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

            Iterator(const EntryTable* table, std::size_t position) : m_table(table), m_position(position) {
                skipUnlocatable();
            }
            std::uint32_t operator*() const {
                return m_table->m_order ? m_table->m_order[m_position]
                                        : static_cast<std::uint32_t>(m_position);
            }
            Iterator& operator++() {
                ++m_position;
                skipUnlocatable();
                return *this;
            }
            bool operator==(const Iterator& other) const { return m_position == other.m_position; }

        private:
            void skipUnlocatable() {
                if (m_table->m_order)
                    return;
                while (m_position < m_table->m_size && m_table->unlocatable(m_position))
                    ++m_position;
            }
            const EntryTable* m_table;
            std::size_t m_position;
        };

        explicit Order(const EntryTable* table) : m_table(table) {}
        Iterator begin() const { return Iterator(m_table, 0); }
        Iterator end() const {
            return Iterator(m_table, m_table->m_order ? m_table->m_orderLength : m_table->m_size);
        }

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
    // One entry in 40 bytes. What does not fit makes the entry wide: its full record is kept in the
    // side table, at the index that compressedSize then holds, and only the state is kept here.
    struct Packed {
        std::uint32_t centralOffset; // from the directory's start
        std::uint32_t crc;
        std::uint32_t compressedSize; // for a wide entry, its index in the side table
        std::uint32_t uncompressedSize;
        std::uint32_t localOffsetLow;
        std::uint32_t nameHash;
        std::uint32_t dosDateTime;
        std::uint32_t state; // see the bits below
        std::uint16_t localOffsetHigh;
        std::uint16_t nameLength;
        std::uint16_t copiedFieldsDigest;
        std::uint8_t kind; // index in m_kinds
        std::uint8_t unused;
    };
    // The state word: where the data starts from the local header (at most 30 + 2 * 65535 bytes),
    // the descriptor's length in units of four bytes (12 to 24 bytes), and the flags.
    static constexpr std::uint32_t DataDeltaBits = 18;
    static constexpr std::uint32_t DataDeltaMask = (1u << DataDeltaBits) - 1;
    static constexpr std::uint32_t DescriptorShift = DataDeltaBits;
    static constexpr std::uint32_t DescriptorMask = 7u << DescriptorShift;
    static constexpr std::uint32_t Zip64Bit = 1u << 21;
    static constexpr std::uint32_t MatchesFilterBit = 1u << 22;
    static constexpr std::uint32_t UnlocatableBit = 1u << 23;
    static constexpr std::uint32_t DamagedBit = 1u << 24;
    static constexpr std::uint32_t SpanKnownBit = 1u << 25;
    static constexpr std::uint32_t WideBit = 1u << 26;
    static constexpr std::size_t BlockShift = 12;
    static constexpr std::size_t BlockEntries = std::size_t{1} << BlockShift; // 160 KiB of records
    static constexpr std::size_t WideBlockEntries = 1024;
    static_assert(30 + 2 * 0xFFFF <= DataDeltaMask, "a local header's length fits the state word");

    static std::uint32_t stateOf(const ZipEntryRecord& record, bool wide) {
        std::uint32_t state = (record.dataDelta & DataDeltaMask) |
                              (static_cast<std::uint32_t>(record.descriptorLength / 4) << DescriptorShift);
        state |= record.zip64 ? Zip64Bit : 0;
        state |= record.matchesFilter ? MatchesFilterBit : 0;
        state |= record.unlocatable ? UnlocatableBit : 0;
        state |= record.damaged ? DamagedBit : 0;
        state |= record.spanKnown ? SpanKnownBit : 0;
        state |= wide ? WideBit : 0;
        return state;
    }

    struct Kind {
        std::uint16_t method = 0;
        std::uint16_t flags = 0;
        std::uint16_t versionNeeded = 0;
    };

    // Maps a block of bytes, taking the lease for it first when the table goes beyond its free
    // allowance; nullptr when keepWaiting gave up or the system has no memory.
    void* mapBlock(std::size_t bytes, const std::function<bool()>& keepWaiting);
    void unmapBlock(void* block, std::size_t bytes);
    // The index of the record's method, flags and version in m_kinds, added when new; UINT8_MAX
    // when the table of them is full.
    std::uint8_t kindOf(const ZipEntryRecord& record) {
        if (m_lastKind < m_kinds.size()) {
            const Kind& last = m_kinds[m_lastKind];
            if (last.method == record.method && last.flags == record.flags &&
                last.versionNeeded == record.versionNeeded)
                return m_lastKind;
        }
        return findKind(record);
    }
    std::uint8_t findKind(const ZipEntryRecord& record);
    Packed& packed(std::size_t index) { return m_blocks[index >> BlockShift][index & (BlockEntries - 1)]; }
    const Packed& packed(std::size_t index) const {
        return m_blocks[index >> BlockShift][index & (BlockEntries - 1)];
    }
    void releaseOrder();
    const ZipEntryRecord& wide(const Packed& entry) const {
        return m_wideBlocks[entry.compressedSize / WideBlockEntries][entry.compressedSize % WideBlockEntries];
    }

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
    // Whether the locatable entries pushed so far lie in the file in directory order.
    std::size_t m_locatable = 0;
    std::uint64_t m_lastOffset = 0;
    bool m_inFileOrder = true;
};

inline std::uint64_t EntryTable::localHeaderOffset(std::size_t index) const {
    const Packed& entry = packed(index);
    if (entry.state & WideBit) [[unlikely]]
        return m_wideBlocks[entry.compressedSize / WideBlockEntries][entry.compressedSize % WideBlockEntries]
            .localHeaderOffset;
    return std::uint64_t{entry.localOffsetHigh} << 32 | entry.localOffsetLow;
}

inline ZipEntryRecord EntryTable::operator[](std::size_t index) const {
    const Packed& entry = packed(index);
    ZipEntryRecord record;
    if (entry.state & WideBit) [[unlikely]] {
        record =
            m_wideBlocks[entry.compressedSize / WideBlockEntries][entry.compressedSize % WideBlockEntries];
    } else {
        const Kind& kind = m_kinds[entry.kind];
        record.centralHeaderOffset = m_directoryStart + entry.centralOffset;
        record.localHeaderOffset = std::uint64_t{entry.localOffsetHigh} << 32 | entry.localOffsetLow;
        record.compressedSize = entry.compressedSize;
        record.uncompressedSize = entry.uncompressedSize;
        record.nameHash = entry.nameHash;
        record.crc = entry.crc;
        record.method = kind.method;
        record.flags = kind.flags;
        record.nameLength = entry.nameLength;
        record.dosDateTime = entry.dosDateTime;
        record.versionNeeded = kind.versionNeeded;
        record.copiedFieldsDigest = entry.copiedFieldsDigest;
    }
    const std::uint32_t state = entry.state;
    record.dataDelta = state & DataDeltaMask;
    record.descriptorLength = static_cast<std::uint8_t>(((state & DescriptorMask) >> DescriptorShift) * 4);
    record.zip64 = (state & Zip64Bit) != 0;
    record.matchesFilter = (state & MatchesFilterBit) != 0;
    record.unlocatable = (state & UnlocatableBit) != 0;
    record.damaged = (state & DamagedBit) != 0;
    record.spanKnown = (state & SpanKnownBit) != 0;
    return record;
}

} // namespace vellum
