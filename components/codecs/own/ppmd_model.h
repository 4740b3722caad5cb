#pragma once

// The context model of PPMd variant I revision 1 (Dmitry Shkarin's PPMII), the model behind zip
// method 98, for decoding. Everything lives in one block of memory addressed by 32-bit offsets, as
// the format's memory-size parameter prescribes: the text of recent symbols grows from the bottom,
// contexts and their symbol statistics are carved from the top in 12-byte units, and the decoder
// must run out of memory exactly where the writer did, because what the model does then (restart
// or cut back, by the restoration method) shapes every later symbol.
//
// Layout of a context (12 bytes): symbol count minus one, flags, frequency total (16 bits), the
// offset of its statistics, the offset of its suffix context. A context with one symbol keeps that
// symbol's state in place of the total and the statistics offset. A state (6 bytes): symbol,
// frequency, offset of the successor (a context, or a position in the text before one exists).

#include "base/decoder_memory.h"
#include "codecs/own/ppmd_range_decoder.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace vellum {

class PpmdModel {
public:
    static constexpr int EndMark = -1;   // an escape out of the order-0 context
    static constexpr int DataError = -2; // a code outside every interval
    static constexpr unsigned RestoreRestart = 0;
    static constexpr unsigned RestoreCutOff = 1;
    static constexpr unsigned RestoreFreeze = 2;
    static constexpr unsigned MaxOrderLimit = 16; // the highest order the parameter word can give

    PpmdModel();
    ~PpmdModel();
    PpmdModel(const PpmdModel&) = delete;
    PpmdModel& operator=(const PpmdModel&) = delete;

    enum class Reserved { Ready, OverAllowance, NoMemory };
    // Makes size bytes of model memory ready, reusing the block of an earlier call when it is big
    // enough. The block comes from the heap, within its allowance; heap().needed() tells how much an
    // OverAllowance answer would have taken.
    Reserved reserve(std::uint32_t size, std::uint64_t allowance);
    // Frees the block.
    void release();
    const DecoderHeap& heap() const { return m_heap; }
    void start(unsigned maxOrder, unsigned restoreMethod);

    // The next symbol (0..255), EndMark or DataError.
    int decodeSymbol(PpmdRangeDecoder& decoder);

    // True once the memory ran out under the freezing restoration method, which this model does
    // not follow symbol for symbol (restarting and cutting off are): it stops being the writer's
    // model there. Also set if a cut-off meets a structure no writer's model can have, which only
    // a fault of this decoder could make: the rest of the entry is then not judged either.
    bool exhausted() const { return m_exhausted; }

private:
    static constexpr std::uint32_t UnitSize = 12;
    static constexpr unsigned IndexCount = 38;
    static constexpr unsigned MaxFreq = 124;
    static constexpr std::uint32_t TextStart = 4; // offset 0 stays the null reference
    static constexpr std::uint32_t EmptyNode = 0xFFFFFFFF;
    // Contexts up to this order survive a cut-off even when nothing follows them any more.
    static constexpr unsigned OrderKept = 9;

    struct See {
        std::uint16_t summ = 0;
        std::uint8_t shift = 0;
        std::uint8_t count = 0;
    };
    struct State {
        std::uint8_t symbol;
        std::uint8_t freq;
        std::uint32_t successor;
    };

    // Raw access by offset. Fields are copied rather than cast so that any layout is safe.
    std::uint16_t load16(std::uint32_t at) const {
        std::uint16_t value;
        std::memcpy(&value, m_base + at, 2);
        return value;
    }
    std::uint32_t load32(std::uint32_t at) const {
        std::uint32_t value;
        std::memcpy(&value, m_base + at, 4);
        return value;
    }
    void store16(std::uint32_t at, unsigned value) {
        const auto narrow = static_cast<std::uint16_t>(value);
        std::memcpy(m_base + at, &narrow, 2);
    }
    void store32(std::uint32_t at, std::uint32_t value) { std::memcpy(m_base + at, &value, 4); }

    // Context fields.
    std::uint8_t& numStats(std::uint32_t context) { return m_base[context]; }
    std::uint8_t& flags(std::uint32_t context) { return m_base[context + 1]; }
    unsigned summFreq(std::uint32_t context) const { return load16(context + 2); }
    void setSummFreq(std::uint32_t context, unsigned value) { store16(context + 2, value); }
    std::uint32_t stats(std::uint32_t context) const { return load32(context + 4); }
    void setStats(std::uint32_t context, std::uint32_t value) { store32(context + 4, value); }
    std::uint32_t suffix(std::uint32_t context) const { return load32(context + 8); }
    void setSuffix(std::uint32_t context, std::uint32_t value) { store32(context + 8, value); }
    static std::uint32_t oneState(std::uint32_t context) { return context + 2; }

    // State fields.
    std::uint8_t& symbol(std::uint32_t state) { return m_base[state]; }
    std::uint8_t& freq(std::uint32_t state) { return m_base[state + 1]; }
    std::uint32_t successor(std::uint32_t state) const { return load32(state + 2); }
    void setSuccessor(std::uint32_t state, std::uint32_t value) { store32(state + 2, value); }
    State loadState(std::uint32_t state) const {
        return {m_base[state], m_base[state + 1], load32(state + 2)};
    }
    void storeState(std::uint32_t at, const State& state) {
        m_base[at] = state.symbol;
        m_base[at + 1] = state.freq;
        store32(at + 2, state.successor);
    }
    void copyState(std::uint32_t to, std::uint32_t from) { std::memmove(m_base + to, m_base + from, 6); }
    void swapStates(std::uint32_t first, std::uint32_t second) {
        const State kept = loadState(first);
        copyState(first, second);
        storeState(second, kept);
    }
    std::uint32_t findState(std::uint32_t context, std::uint8_t wanted);

    // The memory allocator (ppmd_allocator.cpp).
    static unsigned unitsOf(unsigned index) { return IndexToUnits[index]; }
    static unsigned indexOf(unsigned units) { return UnitsToIndex[units - 1]; }
    void insertNode(std::uint32_t node, unsigned index);
    std::uint32_t removeNode(unsigned index);
    void splitBlock(std::uint32_t block, unsigned oldIndex, unsigned newIndex);
    void glueFreeBlocks();
    std::uint32_t allocUnitsRare(unsigned index);
    std::uint32_t allocUnits(unsigned index);
    std::uint32_t allocContext();
    std::uint32_t shrinkUnits(std::uint32_t block, unsigned oldUnits, unsigned newUnits);
    void freeUnits(std::uint32_t block, unsigned units) { insertNode(block, indexOf(units)); }
    void specialFreeUnit(std::uint32_t block);
    std::uint32_t moveUnitsUp(std::uint32_t block, unsigned units);
    void expandTextArea();
    std::uint32_t usedMemory() const;
    // The end of the model's memory: no block reaches past it.
    std::uint32_t top() const { return TextStart + m_size; }

    // Growing the model (ppmd_model.cpp).
    void restartModel();
    std::uint32_t createSuccessors(bool skip, std::uint32_t firstState, std::uint32_t context);
    std::uint32_t reduceOrder(std::uint32_t firstState, std::uint32_t context);
    void updateModel();

    // Keeping it within bounds (ppmd_restore.cpp).
    void rescale();
    void refresh(std::uint32_t context, unsigned oldUnits, unsigned scale);
    void restoreModel(std::uint32_t stopContext);
    std::uint32_t cutOff(std::uint32_t context, unsigned order);
    bool holdsUnits(std::uint32_t block, unsigned units) const {
        return block >= m_unitsStart && block <= top() && units * UnitSize <= top() - block;
    }

    // Symbol decoding and the updates that follow it (ppmd_decode.cpp).
    void clearMasked();
    See* makeEscapeFrequency(unsigned maskedStats, std::uint32_t& escapeFrequency);
    std::uint16_t& binarySummary();
    void nextContext();
    void updateFirst();
    void updateOther();
    void updateAfterEscape();
    void updateBinary();

    static const std::array<std::uint8_t, IndexCount> IndexToUnits;
    static const std::array<std::uint8_t, 128> UnitsToIndex;
    static const std::array<std::uint8_t, 260> StatsToIndex;       // NS2Indx
    static const std::array<std::uint8_t, 256> StatsToBinaryIndex; // NS2BSIndx

    DecoderHeap m_heap;
    std::uint8_t* m_memory = nullptr;
    std::uint32_t m_capacity = 0;
    std::uint8_t* m_base = nullptr;
    std::uint32_t m_size = 0;
    bool m_exhausted = false;

    std::uint32_t m_text = 0;
    std::uint32_t m_unitsStart = 0;
    std::uint32_t m_loUnit = 0;
    std::uint32_t m_hiUnit = 0;
    std::uint32_t m_glueCount = 0;
    std::array<std::uint32_t, IndexCount> m_freeList{};
    std::array<std::uint32_t, IndexCount> m_freeCount{}; // blocks in each free list

    std::uint32_t m_minContext = 0;
    std::uint32_t m_maxContext = 0;
    std::uint32_t m_foundState = 0;
    unsigned m_maxOrder = 0;
    unsigned m_restoreMethod = 0;
    unsigned m_orderFall = 0;
    unsigned m_initEscape = 0;
    unsigned m_prevSuccess = 0;
    std::int32_t m_runLength = 0;
    std::int32_t m_initRunLength = 0;
    std::array<std::array<std::uint16_t, 64>, 25> m_binarySummary{};
    std::array<std::array<See, 32>, 24> m_see{};
    See m_dummySee;
    // The symbols an escape has ruled out for the symbol being decoded (see clearMasked).
    std::array<std::uint8_t, 256> m_masked{};
    std::uint8_t m_maskStamp = 0;
};

} // namespace vellum
