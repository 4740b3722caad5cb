// Starting the PPMd variant I model and growing it after each symbol: new contexts for the symbol
// just seen (CreateSuccessors), the symbol added to every context it escaped from (UpdateModel),
// and the way back to a shorter context when the longest one has no successor yet (ReduceOrder).

#include "codecs/own/ppmd_model.h"

#include <algorithm>

namespace vellum {

namespace {

// Initial escape estimates of the binary contexts, by the low three bits of their summary index.
constexpr std::array<std::uint16_t, 8> InitialBinaryEscape = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3,
                                                              0x64A1, 0x5ABC, 0x6632, 0x6051};
constexpr unsigned BinaryScale = 1u << 14;
constexpr unsigned PeriodBits = 7;

constexpr std::array<std::uint8_t, 260> makeStatsToIndex() {
    std::array<std::uint8_t, 260> table{};
    unsigned index = 0;
    for (; index < 5; ++index)
        table[index] = static_cast<std::uint8_t>(index);
    for (unsigned value = index, step = 1; index < 260; ++index) {
        table[index] = static_cast<std::uint8_t>(value);
        if (--step == 0)
            step = ++value - 4;
    }
    return table;
}

constexpr std::array<std::uint8_t, 256> makeStatsToBinaryIndex() {
    std::array<std::uint8_t, 256> table{};
    for (unsigned index = 0; index < 256; ++index)
        table[index] = static_cast<std::uint8_t>(index == 0 ? 0 : index == 1 ? 2 : index < 11 ? 4 : 6);
    return table;
}

} // namespace

const std::array<std::uint8_t, 260> PpmdModel::StatsToIndex = makeStatsToIndex();
const std::array<std::uint8_t, 256> PpmdModel::StatsToBinaryIndex = makeStatsToBinaryIndex();

PpmdModel::PpmdModel() = default;

void PpmdModel::start(unsigned maxOrder, unsigned restoreMethod) {
    m_maxOrder = maxOrder;
    m_restoreMethod = restoreMethod;
    m_exhausted = false;
    m_initEscape = 0;
    restartModel();
    m_dummySee.shift = PeriodBits;
    m_dummySee.summ = 0;
    m_dummySee.count = 64;
}

// A valid model always holds the symbol it looks for; the bound only keeps a fault contained.
std::uint32_t PpmdModel::findState(std::uint32_t context, std::uint8_t wanted) {
    std::uint32_t state = stats(context);
    for (unsigned left = numStats(context); symbol(state) != wanted && left > 0; --left)
        state += 6;
    return state;
}

void PpmdModel::restartModel() {
    m_freeList.fill(0);
    m_freeCount.fill(0);
    m_text = TextStart;
    m_hiUnit = m_text + m_size;
    m_loUnit = m_unitsStart = m_hiUnit - m_size / 8 / UnitSize * 7 * UnitSize;
    m_glueCount = 0;

    m_orderFall = m_maxOrder;
    m_runLength = m_initRunLength = -static_cast<std::int32_t>(std::min(m_maxOrder, 12u)) - 1;
    m_prevSuccess = 0;

    m_hiUnit -= UnitSize;
    m_minContext = m_maxContext = m_hiUnit;
    setSuffix(m_minContext, 0);
    numStats(m_minContext) = 255;
    flags(m_minContext) = 0;
    setSummFreq(m_minContext, 256 + 1);
    m_foundState = m_loUnit;
    setStats(m_minContext, m_foundState);
    m_loUnit += 128 * UnitSize;
    for (unsigned value = 0; value < 256; ++value)
        storeState(m_foundState + value * 6, {static_cast<std::uint8_t>(value), 1, 0});

    // Each row of binary summaries serves a range of frequencies; its starting estimate divides by
    // one more than the highest frequency index of the range, so that rows for frequent symbols
    // start close to certainty.
    unsigned frequencyIndex = 0;
    for (unsigned row = 0; row < 25; ++row) {
        while (StatsToIndex[frequencyIndex] == row)
            ++frequencyIndex;
        for (unsigned column = 0; column < 8; ++column) {
            const auto value =
                static_cast<std::uint16_t>(BinaryScale - InitialBinaryEscape[column] / (frequencyIndex + 1));
            for (unsigned group = 0; group < 64; group += 8)
                m_binarySummary[row][column + group] = value;
        }
    }
    // Likewise each row of escape estimators serves a range of symbol counts (from three up); its
    // starting escape grows with the number of counts below the row's upper end.
    unsigned countIndex = 0;
    for (unsigned row = 0; row < 24; ++row) {
        while (StatsToIndex[countIndex + 3] == row + 3)
            ++countIndex;
        for (See& see : m_see[row]) {
            see.shift = PeriodBits - 4;
            see.summ = static_cast<std::uint16_t>((2 * countIndex + 5) << see.shift);
            see.count = 7;
        }
    }
}

// Creates the chain of one-symbol contexts that the found symbol leads to, from the first suffix
// of context whose state for it already has a real successor. With skip the found state itself
// gets none; firstState, when given, is the state in context's suffix, already updated.
std::uint32_t PpmdModel::createSuccessors(bool skip, std::uint32_t firstState, std::uint32_t context) {
    const std::uint32_t upBranch = successor(m_foundState);
    const std::uint8_t foundSymbol = symbol(m_foundState);
    std::array<std::uint32_t, 64> pending;
    unsigned pendingCount = 0;
    if (!skip)
        pending[pendingCount++] = m_foundState;
    while (suffix(context) != 0) {
        context = suffix(context);
        std::uint32_t state = 0;
        if (firstState != 0) {
            state = firstState;
            firstState = 0;
        } else if (numStats(context) != 0) {
            state = findState(context, foundSymbol);
            if (freq(state) < MaxFreq - 9) {
                ++freq(state);
                setSummFreq(context, summFreq(context) + 1);
            }
        } else {
            state = oneState(context);
            freq(state) = static_cast<std::uint8_t>(freq(state) +
                                                    ((numStats(suffix(context)) == 0) & (freq(state) < 24)));
        }
        if (successor(state) != upBranch) {
            context = successor(state);
            break;
        }
        if (pendingCount == pending.size())
            return 0;
        pending[pendingCount++] = state;
    }
    if (pendingCount == 0)
        return context;

    const std::uint8_t upSymbol = m_base[upBranch];
    const auto newFlags = static_cast<std::uint8_t>(0x10 * (foundSymbol >= 0x40) + 0x08 * (upSymbol >= 0x40));
    std::uint8_t upFreq = 0;
    if (numStats(context) == 0) {
        upFreq = freq(oneState(context));
    } else {
        const std::uint32_t state = findState(context, upSymbol);
        const std::uint32_t cf = freq(state) - 1u;
        const std::uint32_t s0 = std::max<std::uint32_t>(summFreq(context) - numStats(context) - cf, 1);
        upFreq = static_cast<std::uint8_t>(1 + ((2 * cf <= s0) ? (5 * cf > s0) : ((cf + 2 * s0 - 3) / s0)));
    }
    do {
        const std::uint32_t child = allocContext();
        if (child == 0)
            return 0;
        numStats(child) = 0;
        flags(child) = newFlags;
        storeState(oneState(child), {upSymbol, upFreq, upBranch + 1});
        setSuffix(child, context);
        setSuccessor(pending[--pendingCount], child);
        context = child;
    } while (pendingCount != 0);
    return context;
}

// Called when the found state has no successor at all: points it and the states of the same
// symbol in the suffixes at the text, up to the first suffix state that has a successor.
std::uint32_t PpmdModel::reduceOrder(std::uint32_t firstState, std::uint32_t context) {
    const std::uint32_t startContext = context;
    const std::uint32_t upBranch = m_text;
    const std::uint8_t foundSymbol = symbol(m_foundState);
    setSuccessor(m_foundState, upBranch);
    ++m_orderFall;
    std::uint32_t state = 0;
    for (;;) {
        if (firstState != 0) {
            context = suffix(context);
            state = firstState;
            firstState = 0;
        } else {
            if (suffix(context) == 0)
                return context;
            context = suffix(context);
            if (numStats(context) != 0) {
                state = findState(context, foundSymbol);
                if (freq(state) < MaxFreq - 9) {
                    freq(state) = static_cast<std::uint8_t>(freq(state) + 2);
                    setSummFreq(context, summFreq(context) + 2);
                }
            } else {
                state = oneState(context);
                freq(state) = static_cast<std::uint8_t>(freq(state) + (freq(state) < 32));
            }
        }
        if (successor(state) != 0)
            break;
        setSuccessor(state, upBranch);
        ++m_orderFall;
    }
    if (successor(state) <= upBranch) {
        const std::uint32_t found = m_foundState;
        m_foundState = state;
        setSuccessor(state, createSuccessors(false, 0, context));
        m_foundState = found;
    }
    if (m_orderFall == 1 && startContext == m_maxContext) {
        setSuccessor(m_foundState, successor(state));
        --m_text;
    }
    return successor(state);
}

void PpmdModel::updateModel() {
    const std::uint32_t found = m_foundState;
    const std::uint8_t foundSymbol = symbol(found);
    const unsigned foundFreq = freq(found);
    std::uint32_t foundSuccessor = successor(found);
    std::uint32_t suffixState = 0;

    if (foundFreq < MaxFreq / 4 && suffix(m_minContext) != 0) {
        const std::uint32_t context = suffix(m_minContext);
        if (numStats(context) == 0) {
            suffixState = oneState(context);
            if (freq(suffixState) < 32)
                ++freq(suffixState);
        } else {
            suffixState = stats(context);
            if (symbol(suffixState) != foundSymbol) {
                suffixState = findState(context, foundSymbol);
                if (freq(suffixState) >= freq(suffixState - 6)) {
                    swapStates(suffixState, suffixState - 6);
                    suffixState -= 6;
                }
            }
            if (freq(suffixState) < MaxFreq - 9) {
                freq(suffixState) = static_cast<std::uint8_t>(freq(suffixState) + 2);
                setSummFreq(context, summFreq(context) + 2);
            }
        }
    }

    std::uint32_t context = m_maxContext;
    if (m_orderFall == 0 && foundSuccessor != 0) {
        const std::uint32_t created = createSuccessors(true, suffixState, m_minContext);
        if (created == 0) {
            setSuccessor(found, 0);
            restoreModel(context);
        } else {
            setSuccessor(found, created);
            m_maxContext = created;
        }
        return;
    }

    m_base[m_text++] = foundSymbol;
    std::uint32_t newSuccessor = m_text;
    if (m_text >= m_unitsStart) {
        restoreModel(context);
        return;
    }
    if (foundSuccessor == 0) {
        const std::uint32_t reduced = reduceOrder(suffixState, m_minContext);
        if (reduced == 0) {
            restoreModel(context);
            return;
        }
        foundSuccessor = reduced;
    } else if (foundSuccessor < m_unitsStart) {
        const std::uint32_t created = createSuccessors(false, suffixState, m_minContext);
        if (created == 0) {
            restoreModel(context);
            return;
        }
        foundSuccessor = created;
    }

    if (--m_orderFall == 0) {
        newSuccessor = foundSuccessor;
        m_text -= (m_maxContext != m_minContext);
    }

    const unsigned minStats = numStats(m_minContext);
    const std::uint32_t s0 = summFreq(m_minContext) - minStats - foundFreq;
    const auto highFlag = static_cast<std::uint8_t>(0x08 * (foundSymbol >= 0x40));
    for (; context != m_minContext; context = suffix(context)) {
        const unsigned count = numStats(context);
        if (count != 0) {
            // The statistics fill whole units of two states; an odd count means the last is full.
            if ((count & 1) != 0) {
                const unsigned oldUnits = (count + 1) >> 1;
                const unsigned index = indexOf(oldUnits);
                if (index != indexOf(oldUnits + 1)) {
                    const std::uint32_t block = allocUnits(index + 1);
                    if (block == 0) {
                        restoreModel(context);
                        return;
                    }
                    const std::uint32_t old = stats(context);
                    std::memmove(m_base + block, m_base + old, oldUnits * UnitSize);
                    insertNode(old, index);
                    setStats(context, block);
                }
            }
            setSummFreq(context, summFreq(context) + (3 * count + 1 < minStats));
        } else {
            const std::uint32_t block = allocUnits(0);
            if (block == 0) {
                restoreModel(context);
                return;
            }
            copyState(block, oneState(context));
            setStats(context, block);
            if (freq(block) < MaxFreq / 4 - 1)
                freq(block) = static_cast<std::uint8_t>(freq(block) * 2);
            else
                freq(block) = MaxFreq - 4;
            setSummFreq(context, freq(block) + m_initEscape + (minStats > 2));
        }
        std::uint32_t cf = 2 * foundFreq * (summFreq(context) + 6);
        const std::uint32_t sf = s0 + summFreq(context);
        if (cf < 6 * sf) {
            cf = 1 + (cf > sf) + (cf >= 4 * sf);
            setSummFreq(context, summFreq(context) + 4);
        } else {
            cf = 4 + (cf > 9 * sf) + (cf > 12 * sf) + (cf > 15 * sf);
            setSummFreq(context, summFreq(context) + cf);
        }
        storeState(stats(context) + (count + 1) * 6,
                   {foundSymbol, static_cast<std::uint8_t>(cf), newSuccessor});
        flags(context) |= highFlag;
        numStats(context) = static_cast<std::uint8_t>(count + 1);
    }
    m_maxContext = m_minContext = foundSuccessor;
}

} // namespace vellum
