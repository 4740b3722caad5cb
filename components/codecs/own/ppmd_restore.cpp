// Keeping the PPMd variant I model within its bounds: halving a context's frequencies when one grows
// too large (rescale), and what happens when the memory runs out: the symbols just added are taken
// back and the model restarts from scratch (restoration method 0).

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
    // A restart is reproduced exactly. The cut-off and freezing methods rebuild the model in ways
    // this decoder does not follow symbol for symbol, so from here on the entry is unverifiable
    // rather than judged by a model that may differ from the writer's.
    if (m_restoreMethod == RestoreRestart)
        restartModel();
    else
        m_exhausted = true;
}

} // namespace vellum
