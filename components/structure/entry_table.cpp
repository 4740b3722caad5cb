#include "structure/entry_table.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

namespace vellum {

namespace {

constexpr std::size_t MaximumKinds = 255;

} // namespace

EntryTable::EntryTable(DecoderMemoryBudget& budget) : m_budget(budget) {
    static_assert(sizeof(Packed) == 40, "entries must stay small: directories can hold millions");
}

EntryTable::~EntryTable() {
    clear();
    for (Packed* block : m_blocks)
        unmapBlock(block, BlockEntries * sizeof(Packed));
    m_blocks.clear();
}

void* EntryTable::mapBlock(std::size_t bytes, const std::function<bool()>& keepWaiting) {
    const std::uint64_t total = m_bytesHeld + bytes;
    // Only the thread holding a directory lease may grow it; a table filled on two threads would
    // otherwise stop as if aborted.
    if (m_lease && !m_budget.holdsDirectory())
        throw std::logic_error("an entry table grew on a thread other than its lease's");
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
    m_locatable = 0;
    m_lastOffset = 0;
    m_inFileOrder = true;
}

std::uint8_t EntryTable::findKind(const ZipEntryRecord& record) {
    const auto matches = [&](const Kind& kind) {
        return kind.method == record.method && kind.flags == record.flags &&
               kind.versionNeeded == record.versionNeeded;
    };
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
    if (!record.unlocatable) {
        if (m_locatable > 0 && record.localHeaderOffset < m_lastOffset)
            m_inFileOrder = false;
        m_lastOffset = record.localHeaderOffset;
        ++m_locatable;
    }
    return true;
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
    if (m_inFileOrder)
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

} // namespace vellum
