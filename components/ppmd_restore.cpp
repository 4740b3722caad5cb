// Keeping the PPMd variant I model within its bounds: halving a context's frequencies when one grows
// too large (rescale), and what the restoration method does when the memory runs out: restart
// from scratch, cut the model back to the contexts still in use, or freeze it.

#include "ppmd_model.h"

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
    const unsigned adder = (m_orderFall != 0 || m_restoreMethod > RestoreFreeze) ? 1 : 0;
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

// Shrinks a context's statistics to its symbol count and scales its frequencies down.
void PpmdModel::refresh(std::uint32_t context, unsigned oldUnits, unsigned scale) {
    unsigned left = numStats(context);
    std::uint32_t state = shrinkUnits(stats(context), oldUnits, (left + 2) >> 1);
    setStats(context, state);
    unsigned newFlags = (flags(context) & (0x10 + 0x04 * scale)) + 0x08 * (symbol(state) >= 0x40);
    int escapeFreq = static_cast<int>(summFreq(context)) - freq(state);
    freq(state) = static_cast<std::uint8_t>((freq(state) >> scale) + 1);
    unsigned sumFreq = freq(state);
    do {
        state += 6;
        escapeFreq -= freq(state);
        freq(state) = static_cast<std::uint8_t>((freq(state) >> scale) + 1);
        sumFreq += freq(state);
        newFlags |= 0x08 * (symbol(state) >= 0x40);
    } while (--left);
    setSummFreq(context, sumFreq + static_cast<unsigned>((escapeFreq + static_cast<int>(scale)) >> scale));
    flags(context) = static_cast<std::uint8_t>(newFlags);
}

// Undoes the symbols just added to the contexts from MaxContext down to stopContext, then acts
// by the restoration method.
void PpmdModel::restoreModel(std::uint32_t stopContext, std::uint32_t foundSuccessor) {
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
    if (m_restoreMethod > RestoreFreeze) {
        m_maxContext = foundSuccessor;
        m_glueCount += !(m_stamps[1] & 1);
    } else if (m_restoreMethod == RestoreFreeze) {
        while (suffix(m_maxContext) != 0)
            m_maxContext = suffix(m_maxContext);
        removeBinaryContexts(m_maxContext, 0);
        ++m_restoreMethod;
        m_glueCount = 0;
        m_orderFall = m_maxOrder;
    } else if (m_restoreMethod == RestoreRestart || usedMemory() < (m_size >> 1)) {
        restartModel();
    } else {
        while (suffix(m_maxContext) != 0)
            m_maxContext = suffix(m_maxContext);
        do {
            cutOff(m_maxContext, 0);
            expandTextArea();
        } while (usedMemory() > 3 * (m_size >> 2));
        m_glueCount = 0;
        m_orderFall = m_maxOrder;
    }
}

// Drops, below context, every successor that is only a text position and every context deeper
// than the model's order; one-symbol contexts left without successors beyond order 9 go too.
std::uint32_t PpmdModel::cutOff(std::uint32_t context, unsigned order) {
    if (numStats(context) == 0) {
        const std::uint32_t state = oneState(context);
        if (successor(state) >= m_unitsStart) {
            setSuccessor(state, order < m_maxOrder ? cutOff(successor(state), order + 1) : 0);
            if (successor(state) != 0 || order <= 9)
                return context;
        }
        specialFreeUnit(context);
        return 0;
    }
    const unsigned units = (numStats(context) + 2u) >> 1;
    setStats(context, moveUnitsUp(stats(context), units));
    int last = numStats(context);
    for (std::uint32_t state = stats(context) + static_cast<std::uint32_t>(last) * 6;; state -= 6) {
        if (successor(state) < m_unitsStart) {
            const std::uint32_t other = stats(context) + static_cast<std::uint32_t>(last--) * 6;
            setSuccessor(state, 0);
            swapStates(state, other);
        } else {
            setSuccessor(state, order < m_maxOrder ? cutOff(successor(state), order + 1) : 0);
        }
        if (state == stats(context))
            break;
    }
    if (last != numStats(context) && order != 0) {
        numStats(context) = static_cast<std::uint8_t>(last);
        const std::uint32_t state = stats(context);
        if (last < 0) {
            freeUnits(state, units);
            specialFreeUnit(context);
            return 0;
        }
        if (last == 0) {
            flags(context) =
                static_cast<std::uint8_t>((flags(context) & 0x10) + 0x08 * (symbol(state) >= 0x40));
            copyState(oneState(context), state);
            freeUnits(state, units);
            freq(oneState(context)) = static_cast<std::uint8_t>((freq(oneState(context)) + 11) >> 3);
        } else {
            refresh(context, units, summFreq(context) > 16u * static_cast<unsigned>(last));
        }
    }
    return context;
}

// Freezing: the model keeps its contexts with more than one symbol and stops growing.
std::uint32_t PpmdModel::removeBinaryContexts(std::uint32_t context, unsigned order) {
    if (numStats(context) == 0) {
        const std::uint32_t state = oneState(context);
        if (successor(state) >= m_unitsStart && order < m_maxOrder)
            setSuccessor(state, removeBinaryContexts(successor(state), order + 1));
        else
            setSuccessor(state, 0);
        // A suffix already freed shows the all-ones stamp of a free block in its flags.
        const std::uint32_t parent = suffix(context);
        if (successor(state) == 0 && (numStats(parent) == 0 || flags(parent) == 0xFF)) {
            freeUnits(context, 1);
            return 0;
        }
        return context;
    }
    for (std::uint32_t state = stats(context) + numStats(context) * 6u;; state -= 6) {
        if (successor(state) >= m_unitsStart && order < m_maxOrder)
            setSuccessor(state, removeBinaryContexts(successor(state), order + 1));
        else
            setSuccessor(state, 0);
        if (state == stats(context))
            break;
    }
    return context;
}

} // namespace vellum
