// Keeping the PPMd variant I model within its bounds: halving a context's frequencies when one grows
// too large (rescale), and what happens when the memory runs out: the symbols just added are taken
// back, then the model restarts from scratch (restoration method 0) or is cut back (method 1):
// every successor that points into the text is dropped, since the text starts again from its
// bottom, contexts of high order left with nothing to follow go, the statistics near the bottom
// of the units move up, and the free blocks at the bottom become text, until the model fills no
// more than three quarters of its memory. The freezing method (2) is not followed.

#include "codecs/own/ppmd_model.h"

namespace vellum {

void PpmdModel::rescale() {
    const std::uint32_t context = m_minContext;
    const std::uint32_t first = stats(context);
    std::uint32_t state = m_foundState;
    // The found state moves to the front.
    if (state != first) {
        const State kept = loadState(state);
        for (; state != first; state -= 6)
            copyState(state, state - 6);
        storeState(first, kept);
    }
    const unsigned oldStats = numStats(context);
    unsigned escapeFreq = summFreq(context) - freq(state);
    const unsigned adder = m_orderFall != 0 ? 1 : 0;
    freq(state) = static_cast<std::uint8_t>((freq(state) + 4 + adder) >> 1);
    unsigned sumFreq = freq(state);
    for (unsigned left = oldStats; left > 0; --left) {
        state += 6;
        escapeFreq -= freq(state);
        freq(state) = static_cast<std::uint8_t>((freq(state) + adder) >> 1);
        sumFreq += freq(state);
        // Keep the states sorted by falling frequency.
        if (freq(state) > freq(state - 6)) {
            const State kept = loadState(state);
            std::uint32_t slot = state;
            do {
                copyState(slot, slot - 6);
                slot -= 6;
            } while (slot != first && kept.freq > freq(slot - 6));
            storeState(slot, kept);
        }
    }
    if (freq(state) == 0) {
        unsigned removed = 0;
        do {
            ++removed;
            state -= 6;
        } while (freq(state) == 0);
        escapeFreq += removed;
        numStats(context) = static_cast<std::uint8_t>(oldStats - removed);
        if (numStats(context) == 0) {
            State kept = loadState(first);
            kept.freq = static_cast<std::uint8_t>(
                std::min<unsigned>((2 * kept.freq + escapeFreq - 1) / escapeFreq, MaxFreq / 3));
            freeUnits(first, (oldStats + 2) >> 1);
            flags(context) =
                static_cast<std::uint8_t>((flags(context) & 0x10) + 0x08 * (kept.symbol >= 0x40));
            m_foundState = oneState(context);
            storeState(m_foundState, kept);
            return;
        }
        setStats(context, shrinkUnits(first, (oldStats + 2) >> 1, (numStats(context) + 2u) >> 1));
        std::uint32_t walk = stats(context);
        unsigned high = 0x08 * (symbol(walk) >= 0x40);
        for (unsigned left = numStats(context); left > 0; --left) {
            walk += 6;
            high |= 0x08 * (symbol(walk) >= 0x40);
        }
        flags(context) = static_cast<std::uint8_t>((flags(context) & ~0x08) | high);
    }
    setSummFreq(context, sumFreq + escapeFreq - (escapeFreq >> 1));
    flags(context) |= 0x04;
    m_foundState = stats(context);
}

// Shrinks a context's statistics to its symbol count and, with scale 1, halves its frequencies
// (rounding up) and its escape estimate. A total of 2^15 or more is always halved.
void PpmdModel::refresh(std::uint32_t context, unsigned oldUnits, unsigned scale) {
    unsigned left = numStats(context);
    std::uint32_t state = shrinkUnits(stats(context), oldUnits, (left + 2) >> 1);
    setStats(context, state);
    scale |= summFreq(context) >= (1u << 15) ? 1u : 0u;
    unsigned newFlags = (flags(context) & (0x10 + 0x04 * scale)) + 0x08 * (symbol(state) >= 0x40);
    unsigned escapeFreq = summFreq(context) - freq(state);
    freq(state) = static_cast<std::uint8_t>((freq(state) + scale) >> scale);
    unsigned sumFreq = freq(state);
    do {
        state += 6;
        escapeFreq -= freq(state);
        freq(state) = static_cast<std::uint8_t>((freq(state) + scale) >> scale);
        sumFreq += freq(state);
        newFlags |= 0x08 * (symbol(state) >= 0x40);
    } while (--left);
    setSummFreq(context, sumFreq + ((escapeFreq + scale) >> scale));
    flags(context) = static_cast<std::uint8_t>(newFlags);
}

// Undoes the symbols just added to the contexts from MaxContext down to stopContext, then acts
// by the restoration method.
void PpmdModel::restoreModel(std::uint32_t stopContext) {
    m_text = TextStart;
    std::uint32_t context = m_maxContext;
    for (; context != stopContext; context = suffix(context)) {
        if (--numStats(context) == 0) {
            const std::uint32_t state = stats(context);
            flags(context) =
                static_cast<std::uint8_t>((flags(context) & 0x10) + 0x08 * (symbol(state) >= 0x40));
            copyState(oneState(context), state);
            specialFreeUnit(state);
            freq(oneState(context)) = static_cast<std::uint8_t>((freq(oneState(context)) + 11) >> 3);
        } else {
            refresh(context, (numStats(context) + 3u) >> 1, 0);
        }
    }
    for (; context != m_minContext; context = suffix(context)) {
        if (numStats(context) == 0) {
            freq(oneState(context)) =
                static_cast<std::uint8_t>(freq(oneState(context)) - (freq(oneState(context)) >> 1));
        } else {
            setSummFreq(context, summFreq(context) + 4);
            if (summFreq(context) > 128u + 4u * numStats(context))
                refresh(context, (numStats(context) + 2u) >> 1, 1);
        }
    }
    if (m_restoreMethod == RestoreFreeze) {
        // Freezing keeps the model and stops it growing, in ways this decoder does not follow;
        // from here on the entry is unverifiable rather than judged by a model that may differ
        // from the writer's.
        m_exhausted = true;
        return;
    }
    // A model that fills less than half its memory gains little from being cut: it restarts.
    if (m_restoreMethod == RestoreRestart || usedMemory() < (m_size >> 1)) {
        restartModel();
        return;
    }
    while (suffix(m_maxContext) != 0)
        m_maxContext = suffix(m_maxContext);
    // One round is usually enough, two at low orders. Each round takes at least the deepest
    // remaining order away, so a valid model needs at most a couple more rounds than its order;
    // the bound only contains a fault.
    unsigned rounds = 0;
    do {
        cutOff(m_maxContext, 0);
        expandTextArea();
        if (++rounds > 2 * MaxOrderLimit)
            m_exhausted = true;
        if (m_exhausted)
            return;
    } while (usedMemory() > 3 * (m_size >> 2));
    m_glueCount = 0;
    m_orderFall = m_maxOrder;
}

// Cuts back the tree of contexts under context, which has the given order. A successor that points
// into the text, or lies beyond the highest order, is dropped: in a context of order 0 the state
// stays, with no successor; elsewhere the state goes, and so does a context of an order above
// OrderKept that is left with nothing to follow, or any context left with no state at all. A
// context with one state and no successor goes at any order above 0. Returns the context, or 0
// when it went.
std::uint32_t PpmdModel::cutOff(std::uint32_t context, unsigned order) {
    if (!holdsUnits(context, 1)) {
        m_exhausted = true;
        return 0;
    }
    if (numStats(context) == 0) {
        const std::uint32_t state = oneState(context);
        std::uint32_t next = successor(state);
        if (next >= m_unitsStart) {
            next = order < m_maxOrder ? cutOff(next, order + 1) : 0;
            setSuccessor(state, next);
            if (next != 0 || order <= OrderKept)
                return context;
        }
        specialFreeUnit(context);
        return 0;
    }
    const unsigned units = (numStats(context) + 2u) >> 1;
    if (!holdsUnits(stats(context), units)) {
        m_exhausted = true;
        return 0;
    }
    const std::uint32_t first = moveUnitsUp(stats(context), units);
    setStats(context, first);
    // The states to drop go behind the last one kept, from the end of the list backwards.
    int last = numStats(context);
    for (std::uint32_t state = first + static_cast<std::uint32_t>(last) * 6;; state -= 6) {
        const std::uint32_t next = successor(state);
        if (next < m_unitsStart) {
            const std::uint32_t kept = first + static_cast<std::uint32_t>(last--) * 6;
            if (order != 0) {
                copyState(state, kept);
            } else {
                swapStates(state, kept);
                setSuccessor(kept, 0);
            }
        } else {
            setSuccessor(state, order < m_maxOrder ? cutOff(next, order + 1) : 0);
        }
        if (state == first)
            break;
    }
    if (last == numStats(context) || order == 0)
        return context;
    if (last < 0) {
        freeUnits(first, units);
        specialFreeUnit(context);
        return 0;
    }
    numStats(context) = static_cast<std::uint8_t>(last);
    if (last == 0) {
        const State kept = loadState(first);
        flags(context) = static_cast<std::uint8_t>((flags(context) & 0x10) + 0x08 * (kept.symbol >= 0x40));
        storeState(oneState(context),
                   {kept.symbol, static_cast<std::uint8_t>((kept.freq + 11) >> 3), kept.successor});
        freeUnits(first, units);
    } else {
        refresh(context, units, summFreq(context) > 16u * static_cast<unsigned>(last) ? 1u : 0u);
    }
    return context;
}

} // namespace vellum
