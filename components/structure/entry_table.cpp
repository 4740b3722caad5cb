#include "entry_table.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace vellum {

// One entry in 40 bytes. What does not fit (see canPack) makes the entry wide: its full record is
// kept in the side table, at the index that compressedSize then holds, and only the state below is
// kept here.
struct EntryTable::Packed {
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

namespace {

// The state word: where the data starts from the local header (at most 30 + 2 * 65535 bytes), the
// descriptor's length in units of four bytes (12 to 24 bytes), and the flags.
constexpr std::uint32_t DataDeltaBits = 18;
constexpr std::uint32_t DataDeltaMask = (1u << DataDeltaBits) - 1;
constexpr std::uint32_t DescriptorShift = DataDeltaBits;
constexpr std::uint32_t DescriptorMask = 7u << DescriptorShift;
constexpr std::uint32_t Zip64Bit = 1u << 21;
constexpr std::uint32_t MatchesFilterBit = 1u << 22;
constexpr std::uint32_t UnlocatableBit = 1u << 23;
constexpr std::uint32_t DamagedBit = 1u << 24;
constexpr std::uint32_t SpanKnownBit = 1u << 25;
constexpr std::uint32_t WideBit = 1u << 26;

static_assert(30 + 2 * 0xFFFF <= DataDeltaMask, "a local header's length fits the state word");

constexpr std::size_t BlockEntries = 16384; // 640 KiB of records
constexpr std::size_t WideBlockEntries = 1024;
constexpr std::size_t MaximumKinds = 255;

std::uint32_t stateOf(const ZipEntryRecord& record, bool wide) {
    std::uint32_t state = (record.dataDelta & DataDeltaMask) |
                          (static_cast<std::uint32_t>(record.descriptorLength / 4) << DescriptorShift);
    if (record.zip64)
        state |= Zip64Bit;
    if (record.matchesFilter)
        state |= MatchesFilterBit;
    if (record.unlocatable)
        state |= UnlocatableBit;
    if (record.damaged)
        state |= DamagedBit;
    if (record.spanKnown)
        state |= SpanKnownBit;
    if (wide)
        state |= WideBit;
    return state;
}

void applyState(std::uint32_t state, ZipEntryRecord& record) {
    record.dataDelta = state & DataDeltaMask;
    record.descriptorLength = static_cast<std::uint8_t>(((state & DescriptorMask) >> DescriptorShift) * 4);
    record.zip64 = (state & Zip64Bit) != 0;
    record.matchesFilter = (state & MatchesFilterBit) != 0;
    record.unlocatable = (state & UnlocatableBit) != 0;
    record.damaged = (state & DamagedBit) != 0;
    record.spanKnown = (state & SpanKnownBit) != 0;
}

} // namespace

EntryTable::EntryTable(DecoderMemoryBudget& budget) : m_budget(budget) {}

EntryTable::~EntryTable() {
    clear();
    for (Packed* block : m_blocks)
        unmapBlock(block, BlockEntries * sizeof(Packed));
    m_blocks.clear();
}

void* EntryTable::mapBlock(std::size_t bytes, const std::function<bool()>& keepWaiting) {
    const std::uint64_t total = m_bytesHeld + bytes;
    if (total > FreeAllowance) {
        if (!m_lease) {
            m_lease = m_budget.acquireDirectory(total, keepWaiting);
            if (!m_lease)
                return nullptr;
        } else if (m_lease.bytes() < total &&
                   !m_budget.growDirectory(m_lease, total - m_lease.bytes(), keepWaiting)) {
            return nullptr;
        }
    }
    void* block =
        mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (block == MAP_FAILED)
        throw std::bad_alloc();
    m_bytesHeld = total;
    return block;
}

void EntryTable::unmapBlock(void* block, std::size_t bytes) {
    munmap(block, bytes);
    m_bytesHeld -= bytes;
}

void EntryTable::releaseOrder() {
    if (m_order)
        unmapBlock(m_order, m_orderBytes);
    m_order = nullptr;
    m_orderLength = 0;
    m_orderBytes = 0;
}

void EntryTable::clear(std::uint64_t directoryStart) {
    releaseOrder();
    for (ZipEntryRecord* block : m_wideBlocks)
        unmapBlock(block, WideBlockEntries * sizeof(ZipEntryRecord));
    m_wideBlocks.clear();
    // The first blocks are kept for the next archive while they are within the free allowance;
    // used ones hold stale records, which push() overwrites.
    const std::size_t kept =
        std::min<std::size_t>(m_blocks.size(), FreeAllowance / (BlockEntries * sizeof(Packed)));
    for (std::size_t block = kept; block < m_blocks.size(); ++block)
        unmapBlock(m_blocks[block], BlockEntries * sizeof(Packed));
    m_blocks.resize(kept);
    m_lease.release();
    m_directoryStart = directoryStart;
    m_size = 0;
    m_wideCount = 0;
    m_kinds.clear();
    m_lastKind = 0;
    m_ordered = false;
    m_locatable = 0;
}

std::uint8_t EntryTable::kindOf(const ZipEntryRecord& record) {
    const auto matches = [&](const Kind& kind) {
        return kind.method == record.method && kind.flags == record.flags &&
               kind.versionNeeded == record.versionNeeded;
    };
    if (m_lastKind < m_kinds.size() && matches(m_kinds[m_lastKind]))
        return m_lastKind;
    for (std::size_t index = 0; index < m_kinds.size(); ++index) {
        if (matches(m_kinds[index])) {
            m_lastKind = static_cast<std::uint8_t>(index);
            return m_lastKind;
        }
    }
    if (m_kinds.size() >= MaximumKinds)
        return UINT8_MAX;
    m_kinds.push_back(Kind{record.method, record.flags, record.versionNeeded});
    m_lastKind = static_cast<std::uint8_t>(m_kinds.size() - 1);
    return m_lastKind;
}

EntryTable::Packed& EntryTable::packed(std::size_t index) {
    return m_blocks[index / BlockEntries][index % BlockEntries];
}

const EntryTable::Packed& EntryTable::packed(std::size_t index) const {
    return m_blocks[index / BlockEntries][index % BlockEntries];
}

bool EntryTable::push(const ZipEntryRecord& record, const std::function<bool()>& keepWaiting) {
    if (m_size / BlockEntries >= m_blocks.size()) {
        void* block = mapBlock(BlockEntries * sizeof(Packed), keepWaiting);
        if (!block)
            return false;
        m_blocks.push_back(static_cast<Packed*>(block));
    }
    const std::uint64_t central = record.centralHeaderOffset - m_directoryStart;
    const std::uint8_t kind = kindOf(record);
    const bool wide = central > UINT32_MAX || record.compressedSize > UINT32_MAX ||
                      record.uncompressedSize > UINT32_MAX ||
                      record.localHeaderOffset >= std::uint64_t{1} << 48 || kind == UINT8_MAX;
    Packed entry{};
    entry.state = stateOf(record, wide);
    if (wide) {
        if (m_wideCount / WideBlockEntries >= m_wideBlocks.size()) {
            void* block = mapBlock(WideBlockEntries * sizeof(ZipEntryRecord), keepWaiting);
            if (!block)
                return false;
            m_wideBlocks.push_back(static_cast<ZipEntryRecord*>(block));
        }
        m_wideBlocks[m_wideCount / WideBlockEntries][m_wideCount % WideBlockEntries] = record;
        entry.compressedSize = static_cast<std::uint32_t>(m_wideCount++);
    } else {
        entry.centralOffset = static_cast<std::uint32_t>(central);
        entry.crc = record.crc;
        entry.compressedSize = static_cast<std::uint32_t>(record.compressedSize);
        entry.uncompressedSize = static_cast<std::uint32_t>(record.uncompressedSize);
        entry.localOffsetLow = static_cast<std::uint32_t>(record.localHeaderOffset);
        entry.localOffsetHigh = static_cast<std::uint16_t>(record.localHeaderOffset >> 32);
        entry.nameHash = record.nameHash;
        entry.dosDateTime = record.dosDateTime;
        entry.nameLength = record.nameLength;
        entry.copiedFieldsDigest = record.copiedFieldsDigest;
        entry.kind = kind;
    }
    packed(m_size) = entry;
    ++m_size;
    return true;
}

ZipEntryRecord EntryTable::operator[](std::size_t index) const {
    const Packed& entry = packed(index);
    ZipEntryRecord record;
    if (entry.state & WideBit) {
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
    applyState(entry.state, record);
    return record;
}

std::uint64_t EntryTable::localHeaderOffset(std::size_t index) const {
    const Packed& entry = packed(index);
    if (entry.state & WideBit)
        return m_wideBlocks[entry.compressedSize / WideBlockEntries][entry.compressedSize % WideBlockEntries]
            .localHeaderOffset;
    return std::uint64_t{entry.localOffsetHigh} << 32 | entry.localOffsetLow;
}

bool EntryTable::unlocatable(std::size_t index) const {
    return (packed(index).state & UnlocatableBit) != 0;
}

void EntryTable::update(std::size_t index, const ZipEntryRecord& record) {
    Packed& entry = packed(index);
    const bool wide = (entry.state & WideBit) != 0;
    if (wide) {
        m_wideBlocks[entry.compressedSize / WideBlockEntries][entry.compressedSize % WideBlockEntries]
            .localHeaderOffset = record.localHeaderOffset;
    } else {
        // Offsets only ever move down (data before the archive taken off), so they still fit.
        entry.localOffsetLow = static_cast<std::uint32_t>(record.localHeaderOffset);
        entry.localOffsetHigh = static_cast<std::uint16_t>(record.localHeaderOffset >> 32);
    }
    entry.state = stateOf(record, wide);
}

bool EntryTable::arrangeByOffset(const std::function<bool()>& keepWaiting) {
    releaseOrder();
    m_locatable = 0;
    bool sorted = true;
    std::uint64_t previous = 0;
    for (std::size_t index = 0; index < m_size; ++index) {
        if (unlocatable(index))
            continue;
        const std::uint64_t offset = localHeaderOffset(index);
        if (m_locatable > 0 && offset < previous)
            sorted = false;
        previous = offset;
        ++m_locatable;
    }
    m_ordered = true;
    if (sorted)
        return true;
    const std::size_t bytes = m_locatable * sizeof(std::uint32_t);
    void* block = mapBlock(bytes, keepWaiting);
    if (!block)
        return false;
    m_order = static_cast<std::uint32_t*>(block);
    m_orderBytes = bytes;
    m_orderLength = 0;
    for (std::size_t index = 0; index < m_size; ++index) {
        if (!unlocatable(index))
            m_order[m_orderLength++] = static_cast<std::uint32_t>(index);
    }
    // Ties keep the directory's order, as a stable sort would; sorting in place takes no memory.
    std::sort(m_order, m_order + m_orderLength, [this](std::uint32_t left, std::uint32_t right) {
        const std::uint64_t leftOffset = localHeaderOffset(left);
        const std::uint64_t rightOffset = localHeaderOffset(right);
        return leftOffset < rightOffset || (leftOffset == rightOffset && left < right);
    });
    return true;
}

EntryTable::Order::Iterator::Iterator(const EntryTable* table, std::size_t position)
    : m_table(table), m_position(position) {
    skipUnlocatable();
}

void EntryTable::Order::Iterator::skipUnlocatable() {
    if (m_table->m_order)
        return;
    while (m_position < m_table->m_size && m_table->unlocatable(m_position))
        ++m_position;
}

std::uint32_t EntryTable::Order::Iterator::operator*() const {
    return m_table->m_order ? m_table->m_order[m_position] : static_cast<std::uint32_t>(m_position);
}

EntryTable::Order::Iterator& EntryTable::Order::Iterator::operator++() {
    ++m_position;
    skipUnlocatable();
    return *this;
}

EntryTable::Order::Iterator EntryTable::Order::end() const {
    return Iterator(m_table, m_table->m_order ? m_table->m_orderLength : m_table->m_size);
}

} // namespace vellum
