// The allocator of PPMd variant I: blocks of 1 to 128 units of 12 bytes in 38 size classes, with
// free lists per class, a gap between the statistics growing up (LoUnit) and the contexts growing
// down (HiUnit), and the text area below UnitsStart that the units may claim when all else fails.
// A free block carries a node header over its first unit: an all-ones stamp, the next free block
// and its size in units. Its exact behaviour decides when the model runs out of memory, which the
// decoder must reproduce to the byte.

#include "codecs/own/ppmd_model.h"

#include <cstring>

namespace vellum {

namespace {

constexpr std::array<std::uint8_t, 38> makeIndexToUnits() {
    std::array<std::uint8_t, 38> units{};
    unsigned count = 0;
    for (unsigned index = 0; index < 38; ++index) {
        count += index < 12 ? (index >> 2) + 1 : 4;
        units[index] = static_cast<std::uint8_t>(count);
    }
    return units;
}

constexpr std::array<std::uint8_t, 128> makeUnitsToIndex() {
    const auto units = makeIndexToUnits();
    std::array<std::uint8_t, 128> index{};
    unsigned current = 0;
    for (unsigned count = 1; count <= 128; ++count) {
        if (units[current] < count)
            ++current;
        index[count - 1] = static_cast<std::uint8_t>(current);
    }
    return index;
}

} // namespace

const std::array<std::uint8_t, 38> PpmdModel::IndexToUnits = makeIndexToUnits();
const std::array<std::uint8_t, 128> PpmdModel::UnitsToIndex = makeUnitsToIndex();

PpmdModel::~PpmdModel() {
    release();
}

void PpmdModel::release() {
    m_heap.release(m_memory);
    m_memory = m_base = nullptr;
    m_capacity = 0;
}

PpmdModel::Reserved PpmdModel::reserve(std::uint32_t size, std::uint64_t allowance) {
    m_size = size;
    m_heap.setAllowance(allowance);
    m_heap.clearNeeded();
    // Room for the null reference and alignment below the text, and one spare unit above the
    // top, which no valid model touches but which keeps a stray header read inside the block.
    const std::uint32_t needed = TextStart + m_size + UnitSize;
    if (needed > m_capacity) {
        release();
        // The heap maps a block this large straight from the system: the model touches its text
        // from the bottom and its units from the two ends of their area, so a model that never
        // fills its memory takes only the pages it uses.
        m_memory = static_cast<std::uint8_t*>(m_heap.allocate(needed));
        if (!m_memory)
            return m_heap.needed() > allowance ? Reserved::OverAllowance : Reserved::NoMemory;
        m_capacity = needed;
    }
    m_base = m_memory;
    std::memset(m_base, 0, TextStart);
    std::memset(m_base + TextStart + m_size, 0, UnitSize);
    return Reserved::Ready;
}

void PpmdModel::insertNode(std::uint32_t node, unsigned index) {
    store32(node, EmptyNode);
    store32(node + 4, m_freeList[index]);
    store32(node + 8, unitsOf(index));
    m_freeList[index] = node;
    ++m_freeCount[index];
}

std::uint32_t PpmdModel::removeNode(unsigned index) {
    const std::uint32_t node = m_freeList[index];
    m_freeList[index] = load32(node + 4);
    --m_freeCount[index];
    return node;
}

// Frees the part of a block of class oldIndex beyond the first newIndex-class units.
void PpmdModel::splitBlock(std::uint32_t block, unsigned oldIndex, unsigned newIndex) {
    const unsigned units = unitsOf(oldIndex) - unitsOf(newIndex);
    block += unitsOf(newIndex) * UnitSize;
    unsigned index = indexOf(units);
    if (unitsOf(index) != units) {
        const unsigned head = unitsOf(--index);
        insertNode(block + head * UnitSize, units - head - 1);
    }
    insertNode(block, index);
}

// Merges free blocks that lie next to each other and sorts the results back into the lists.
// Blocks absorbed into a neighbour keep their header with a size of zero and are skipped.
void PpmdModel::glueFreeBlocks() {
    m_glueCount = 1u << 13;
    m_freeCount.fill(0);
    // A zero stamp at LoUnit stops a merge from running into the unused gap; the order-0 context
    // at the very top stops it at the end.
    if (m_loUnit != m_hiUnit)
        store32(m_loUnit, 0);
    std::uint32_t head = 0;
    std::uint32_t tail = 0;
    for (unsigned index = 0; index < IndexCount; ++index) {
        std::uint32_t next = m_freeList[index];
        m_freeList[index] = 0;
        while (next != 0) {
            const std::uint32_t node = next;
            if (load32(node + 8) != 0) {
                if (tail == 0)
                    head = node;
                else
                    store32(tail + 4, node);
                tail = node;
                for (;;) {
                    const std::uint32_t neighbour = node + load32(node + 8) * UnitSize;
                    if (load32(neighbour) != EmptyNode)
                        break;
                    store32(node + 8, load32(node + 8) + load32(neighbour + 8));
                    store32(neighbour + 8, 0);
                }
            }
            next = load32(node + 4);
        }
    }
    if (tail != 0)
        store32(tail + 4, 0);
    while (head != 0) {
        std::uint32_t node = head;
        head = load32(node + 4);
        unsigned units = load32(node + 8);
        if (units == 0)
            continue;
        for (; units > 128; units -= 128, node += 128 * UnitSize)
            insertNode(node, IndexCount - 1);
        unsigned index = indexOf(units);
        if (unitsOf(index) != units) {
            const unsigned part = unitsOf(--index);
            insertNode(node + part * UnitSize, units - part - 1);
        }
        insertNode(node, index);
    }
}

std::uint32_t PpmdModel::allocUnitsRare(unsigned index) {
    if (m_glueCount == 0) {
        glueFreeBlocks();
        if (m_freeList[index] != 0)
            return removeNode(index);
    }
    unsigned larger = index;
    do {
        if (++larger == IndexCount) {
            const std::uint32_t bytes = unitsOf(index) * UnitSize;
            --m_glueCount;
            if (m_unitsStart - m_text > bytes) {
                m_unitsStart -= bytes;
                return m_unitsStart;
            }
            return 0;
        }
    } while (m_freeList[larger] == 0);
    const std::uint32_t block = removeNode(larger);
    splitBlock(block, larger, index);
    return block;
}

std::uint32_t PpmdModel::allocUnits(unsigned index) {
    if (m_freeList[index] != 0)
        return removeNode(index);
    const std::uint32_t bytes = unitsOf(index) * UnitSize;
    if (bytes <= m_hiUnit - m_loUnit) {
        const std::uint32_t block = m_loUnit;
        m_loUnit += bytes;
        return block;
    }
    return allocUnitsRare(index);
}

std::uint32_t PpmdModel::allocContext() {
    if (m_hiUnit != m_loUnit)
        return m_hiUnit -= UnitSize;
    if (m_freeList[0] != 0)
        return removeNode(0);
    return allocUnitsRare(0);
}

std::uint32_t PpmdModel::shrinkUnits(std::uint32_t block, unsigned oldUnits, unsigned newUnits) {
    const unsigned oldIndex = indexOf(oldUnits);
    const unsigned newIndex = indexOf(newUnits);
    if (oldIndex == newIndex)
        return block;
    if (m_freeList[newIndex] != 0) {
        const std::uint32_t moved = removeNode(newIndex);
        std::memmove(m_base + moved, m_base + block, newUnits * UnitSize);
        insertNode(block, oldIndex);
        return moved;
    }
    splitBlock(block, oldIndex, newIndex);
    return block;
}

void PpmdModel::specialFreeUnit(std::uint32_t block) {
    if (block != m_unitsStart)
        insertNode(block, 0);
    else
        m_unitsStart += UnitSize;
}

// Moves a block of statistics that lies near the bottom of the units to the first free block of
// its class when that one lies higher, so that the bottom can become text. Returns where the
// statistics are now.
std::uint32_t PpmdModel::moveUnitsUp(std::uint32_t block, unsigned units) {
    const unsigned index = indexOf(units);
    // The writer moves it when the list's first block lies at or above it; that block cannot be
    // the statistics themselves, which are in use.
    if (block - m_unitsStart > (1u << 14) || block >= m_freeList[index])
        return block;
    const std::uint32_t moved = removeNode(index);
    std::memmove(m_base + moved, m_base + block, units * UnitSize);
    if (block != m_unitsStart)
        insertNode(block, index);
    else
        m_unitsStart += unitsOf(index) * UnitSize;
    return moved;
}

// Gives the free blocks that lie at the bottom of the units, one after another from UnitsStart,
// to the text area, and takes them out of their free lists.
void PpmdModel::expandTextArea() {
    std::array<std::uint32_t, IndexCount> count{};
    if (m_loUnit != m_hiUnit)
        store32(m_loUnit, 0);
    std::uint32_t node = m_unitsStart;
    while (node <= top() - UnitSize && load32(node) == EmptyNode) {
        const std::uint32_t units = load32(node + 8);
        // A free block holds 1 to 128 units within the memory; anything else is no block.
        if (units == 0 || units > 128 || units * UnitSize > top() - node) {
            m_exhausted = true;
            return;
        }
        store32(node, 0);
        ++count[indexOf(units)];
        node += units * UnitSize;
    }
    m_unitsStart = node;
    for (unsigned index = 0; index < IndexCount; ++index) {
        // The stamp of each block just given away is zero: unlink as many as were counted.
        std::uint32_t previous = 0;
        std::uint32_t next = m_freeList[index];
        while (count[index] != 0 && next != 0 && next <= top() - UnitSize) {
            const std::uint32_t following = load32(next + 4);
            if (load32(next) == 0) {
                if (previous == 0)
                    m_freeList[index] = following;
                else
                    store32(previous + 4, following);
                --m_freeCount[index];
                --count[index];
            } else {
                previous = next;
            }
            next = following;
        }
        if (count[index] != 0)
            m_exhausted = true;
    }
}

// The bytes the model holds: all but the gap between the units, the text area beyond the text
// and the free blocks. The arithmetic wraps as the writer's does.
std::uint32_t PpmdModel::usedMemory() const {
    std::uint32_t freeUnits = 0;
    for (unsigned index = 0; index < IndexCount; ++index)
        freeUnits += m_freeCount[index] * unitsOf(index);
    return m_size - (m_hiUnit - m_loUnit) - (m_unitsStart - m_text) - freeUnits * UnitSize;
}

} // namespace vellum
