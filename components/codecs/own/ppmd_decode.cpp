// Decoding one symbol with the PPMd variant I model: from the current context, escaping to ever
// shorter suffixes with the symbols already ruled out masked, and the statistics update that each
// way out of the decoder implies. Escape frequencies of contexts with several symbols come from
// the secondary estimation tables (SEE); those of one-symbol contexts from the binary summaries.

#include "codecs/own/ppmd_model.h"

namespace vellum {

namespace {

constexpr std::array<std::uint8_t, 16> ExpEscape = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};
constexpr unsigned PeriodBits = 7;
constexpr unsigned IntervalBits = 7;
constexpr unsigned BinaryScale = 1u << 14;

unsigned meanOf(unsigned probability) {
    return (probability + (1u << (PeriodBits - 2))) >> PeriodBits;
}

} // namespace

PpmdModel::See* PpmdModel::makeEscapeFrequency(unsigned maskedStats, std::uint32_t& escapeFrequency) {
    const std::uint32_t context = m_minContext;
    const unsigned count = numStats(context);
    if (count == 0xFF) {
        escapeFrequency = 1;
        return &m_dummySee;
    }
    const unsigned column = (summFreq(context) > 11 * (count + 1)) +
                            2 * (2 * count < static_cast<unsigned>(numStats(suffix(context))) + maskedStats) +
                            flags(context);
    See& see = m_see[StatsToIndex[count + 2] - 3u][column & 31];
    const unsigned share = see.summ >> see.shift;
    see.summ = static_cast<std::uint16_t>(see.summ - share);
    escapeFrequency = share + (share == 0);
    return &see;
}

std::uint16_t& PpmdModel::binarySummary() {
    const std::uint32_t state = oneState(m_minContext);
    const unsigned row = StatsToIndex[freq(state) > 0 ? freq(state) - 1u : 0u];
    const unsigned column = StatsToBinaryIndex[numStats(suffix(m_minContext))] + m_prevSuccess +
                            flags(m_minContext) + ((m_runLength >> 26) & 0x20);
    return m_binarySummary[row < 25 ? row : 24][column & 63];
}

void PpmdModel::nextContext() {
    const std::uint32_t next = successor(m_foundState);
    if (m_orderFall == 0 && next >= m_unitsStart) {
        m_minContext = m_maxContext = next;
    } else {
        updateModel();
        m_minContext = m_maxContext;
    }
}

// The first symbol of a context with several.
void PpmdModel::updateFirst() {
    m_prevSuccess = 2u * freq(m_foundState) >= summFreq(m_minContext);
    m_runLength += static_cast<std::int32_t>(m_prevSuccess);
    setSummFreq(m_minContext, summFreq(m_minContext) + 4);
    freq(m_foundState) = static_cast<std::uint8_t>(freq(m_foundState) + 4);
    if (freq(m_foundState) > MaxFreq)
        rescale();
    nextContext();
}

// Any later symbol of a context with several: it moves up one place when it passes the one before.
void PpmdModel::updateOther() {
    std::uint32_t state = m_foundState;
    freq(state) = static_cast<std::uint8_t>(freq(state) + 4);
    setSummFreq(m_minContext, summFreq(m_minContext) + 4);
    if (freq(state) > freq(state - 6)) {
        swapStates(state, state - 6);
        m_foundState = state -= 6;
        if (freq(state) > MaxFreq)
            rescale();
    }
    nextContext();
}

// A symbol found after one or more escapes.
void PpmdModel::updateAfterEscape() {
    setSummFreq(m_minContext, summFreq(m_minContext) + 4);
    freq(m_foundState) = static_cast<std::uint8_t>(freq(m_foundState) + 4);
    if (freq(m_foundState) > MaxFreq)
        rescale();
    m_runLength = m_initRunLength;
    updateModel();
    m_minContext = m_maxContext;
}

void PpmdModel::updateBinary() {
    freq(m_foundState) = static_cast<std::uint8_t>(freq(m_foundState) + (freq(m_foundState) < 196));
    m_prevSuccess = 1;
    ++m_runLength;
    nextContext();
}

// Starts a new set of masked symbols: a symbol is masked when its stamp equals the current one, so
// the stamps are cleared only when the counter wraps.
void PpmdModel::clearMasked() {
    if (++m_maskStamp == 0) {
        m_masked.fill(0);
        m_maskStamp = 1;
    }
}

int PpmdModel::decodeSymbol(PpmdRangeDecoder& decoder) {
    if (numStats(m_minContext) != 0) {
        std::uint32_t state = stats(m_minContext);
        decoder.scale(summFreq(m_minContext));
        std::uint32_t high = freq(state);
        if (decoder.below(high)) {
            decoder.decode(0, high);
            m_foundState = state;
            const int value = symbol(state);
            updateFirst();
            return value;
        }
        const std::uint32_t count = decoder.count();
        m_prevSuccess = 0;
        for (unsigned left = numStats(m_minContext); left > 0; --left) {
            state += 6;
            if ((high += freq(state)) > count) {
                decoder.decode(high - freq(state), freq(state));
                m_foundState = state;
                const int value = symbol(state);
                updateOther();
                return value;
            }
        }
        if (count >= summFreq(m_minContext))
            return DataError;
        decoder.decode(high, summFreq(m_minContext) - high);
        clearMasked();
        for (std::uint32_t walk = stats(m_minContext); walk <= state; walk += 6)
            m_masked[symbol(walk)] = m_maskStamp;
    } else {
        std::uint16_t& probability = binarySummary();
        const std::uint32_t state = oneState(m_minContext);
        if (decoder.binaryBelow(probability)) {
            decoder.decode(0, probability);
            probability =
                static_cast<std::uint16_t>(probability + (1u << IntervalBits) - meanOf(probability));
            m_foundState = state;
            const int value = symbol(state);
            updateBinary();
            return value;
        }
        decoder.decode(probability, BinaryScale - probability);
        probability = static_cast<std::uint16_t>(probability - meanOf(probability));
        m_initEscape = ExpEscape[probability >> 10];
        clearMasked();
        m_masked[symbol(state)] = m_maskStamp;
        m_prevSuccess = 0;
    }
    for (;;) {
        const unsigned maskedStats = numStats(m_minContext);
        do {
            ++m_orderFall;
            if (suffix(m_minContext) == 0)
                return EndMark;
            m_minContext = suffix(m_minContext);
        } while (numStats(m_minContext) == maskedStats);

        std::array<std::uint32_t, 256> candidates;
        unsigned candidateCount = 0;
        std::uint32_t high = 0;
        std::uint32_t state = stats(m_minContext);
        for (unsigned left = numStats(m_minContext) + 1u; left > 0; --left, state += 6) {
            if (m_masked[symbol(state)] != m_maskStamp) {
                high += freq(state);
                candidates[candidateCount++] = state;
            }
        }
        if (candidateCount != numStats(m_minContext) - maskedStats)
            return DataError;
        std::uint32_t escapeFrequency = 0;
        See* see = makeEscapeFrequency(maskedStats, escapeFrequency);
        const std::uint32_t total = escapeFrequency + high;
        const std::uint32_t count = decoder.threshold(total);
        if (count < high) {
            unsigned index = 0;
            high = freq(candidates[0]);
            while (high <= count)
                high += freq(candidates[++index]);
            state = candidates[index];
            decoder.decode(high - freq(state), freq(state));
            if (see->shift < PeriodBits && --see->count == 0) {
                see->summ = static_cast<std::uint16_t>(see->summ * 2);
                see->count = static_cast<std::uint8_t>(3 << see->shift++);
            }
            m_foundState = state;
            const int value = symbol(state);
            updateAfterEscape();
            return value;
        }
        if (count >= total)
            return DataError;
        decoder.decode(high, total - high);
        see->summ = static_cast<std::uint16_t>(see->summ + total);
        for (unsigned index = 0; index < candidateCount; ++index)
            m_masked[symbol(candidates[index])] = m_maskStamp;
    }
}

} // namespace vellum
