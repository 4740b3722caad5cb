#include "older_method_encoders.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <numeric>
#include <unordered_map>
#include <vector>

namespace vellum::testing {

namespace {

// Packs values LSB-first, as all three formats do.
class BitWriter {
public:
    void put(std::uint32_t value, int count) {
        for (int bit = 0; bit < count; ++bit) {
            m_byte |= static_cast<std::uint8_t>(((value >> bit) & 1u) << m_used);
            if (++m_used == 8)
                flushByte();
        }
    }
    std::string finish() {
        if (m_used > 0)
            flushByte();
        return m_bytes;
    }

private:
    void flushByte() {
        m_bytes.push_back(static_cast<char>(m_byte));
        m_byte = 0;
        m_used = 0;
    }
    std::string m_bytes;
    std::uint8_t m_byte = 0;
    int m_used = 0;
};

std::uint8_t byteAt(std::string_view data, std::size_t index) {
    return static_cast<std::uint8_t>(data[index]);
}

// The longest earlier match for position within window bytes back, found through chains of
// positions that share their next three bytes.
class MatchFinder {
public:
    MatchFinder(std::string_view data, std::size_t window, std::size_t maximumLength)
        : m_data(data), m_window(window), m_maximum(maximumLength), m_previous(data.size(), -1) {}

    // Returns the length (0 when none) and sets distance; then records position.
    std::size_t find(std::size_t position, std::size_t& distance) {
        std::size_t best = 0;
        if (position + 3 <= m_data.size()) {
            int candidate = m_heads.count(keyAt(position)) ? m_heads[keyAt(position)] : -1;
            for (int chain = 0; candidate >= 0 && chain < 48; ++chain) {
                const auto from = static_cast<std::size_t>(candidate);
                if (position - from > m_window)
                    break;
                std::size_t length = 0;
                while (length < m_maximum && position + length < m_data.size() &&
                       m_data[from + length] == m_data[position + length])
                    ++length;
                if (length > best) {
                    best = length;
                    distance = position - from;
                }
                candidate = m_previous[from];
            }
        }
        return best;
    }
    void record(std::size_t position) {
        if (position + 3 > m_data.size())
            return;
        const std::uint32_t key = keyAt(position);
        m_previous[position] = m_heads.count(key) ? m_heads[key] : -1;
        m_heads[key] = static_cast<int>(position);
    }

private:
    std::uint32_t keyAt(std::size_t position) const {
        return byteAt(m_data, position) | byteAt(m_data, position + 1) << 8 |
               byteAt(m_data, position + 2) << 16;
    }
    std::string_view m_data;
    std::size_t m_window;
    std::size_t m_maximum;
    std::vector<int> m_previous;
    std::unordered_map<std::uint32_t, int> m_heads;
};

} // namespace

std::string shrinkEncode(std::string_view data, ShrinkStatistics* statistics) {
    constexpr unsigned CodeCount = 8192;
    ShrinkStatistics counts;
    BitWriter writer;
    std::unordered_map<std::uint32_t, unsigned> codes; // (prefix << 8 | byte) -> code
    std::vector<std::uint16_t> prefix(CodeCount);
    std::vector<std::uint8_t> suffix(CodeCount);
    std::vector<bool> used(CodeCount, false);
    unsigned codeSize = 9;
    unsigned freeCode = 257;
    // The code defined after the last emitted one, which the reader defines only on the next.
    int pendingDefinition = -1;

    const auto emit = [&](unsigned code) {
        while (code >= (1u << codeSize)) {
            writer.put(256, static_cast<int>(codeSize));
            writer.put(1, static_cast<int>(codeSize));
            ++codeSize;
            ++counts.widenings;
        }
        if (static_cast<int>(code) == pendingDefinition)
            ++counts.codesDefinedByUse;
        writer.put(code, static_cast<int>(codeSize));
    };
    // The reader frees every code that is no other code's prefix; the writer must forget the same.
    const auto partialClear = [&] {
        std::vector<bool> isPrefix(CodeCount, false);
        for (unsigned code = 257; code < CodeCount; ++code)
            if (used[code])
                isPrefix[prefix[code]] = true;
        for (unsigned code = 257; code < CodeCount; ++code) {
            if (used[code] && !isPrefix[code]) {
                used[code] = false;
                codes.erase(std::uint32_t{prefix[code]} << 8 | suffix[code]);
            }
        }
        freeCode = 257;
        while (freeCode < CodeCount && used[freeCode])
            ++freeCode;
        ++counts.partialClears;
    };
    if (data.empty())
        return {};
    unsigned current = byteAt(data, 0);
    for (std::size_t index = 1; index < data.size(); ++index) {
        const std::uint8_t next = byteAt(data, index);
        const std::uint32_t key = current << 8 | next;
        if (const auto found = codes.find(key); found != codes.end()) {
            current = found->second;
            continue;
        }
        emit(current);
        pendingDefinition = -1;
        // Clear only after a byte-value code: those are never freed, so the code the reader
        // defines next never has a freed prefix.
        if (freeCode >= CodeCount && current < 256) {
            writer.put(256, static_cast<int>(codeSize));
            writer.put(2, static_cast<int>(codeSize));
            partialClear();
        }
        if (freeCode < CodeCount) {
            prefix[freeCode] = static_cast<std::uint16_t>(current);
            suffix[freeCode] = next;
            used[freeCode] = true;
            codes[key] = freeCode;
            pendingDefinition = static_cast<int>(freeCode);
            do
                ++freeCode;
            while (freeCode < CodeCount && used[freeCode]);
        }
        current = next;
    }
    emit(current);
    if (statistics)
        *statistics = counts;
    return writer.finish();
}

std::string reduceEncode(std::string_view data, int factor) {
    constexpr std::uint8_t Dle = 144;
    const unsigned lengthMask = 0xFFu >> factor;
    const std::size_t window = std::size_t{256} << factor;
    // Length 3 at a distance under 257 would make the byte after DLE zero, which means a literal
    // DLE, so matches start at 4.
    MatchFinder finder(data, window, lengthMask + 255 + 3);
    std::vector<std::uint8_t> runs;
    for (std::size_t position = 0; position < data.size();) {
        std::size_t distance = 0;
        const std::size_t length = finder.find(position, distance);
        if (length >= 4) {
            const unsigned lengthCode = static_cast<unsigned>(length - 3);
            const unsigned high = static_cast<unsigned>((distance - 1) >> 8);
            runs.push_back(Dle);
            runs.push_back(
                static_cast<std::uint8_t>(high << (8 - factor) | std::min(lengthCode, lengthMask)));
            if (lengthCode >= lengthMask)
                runs.push_back(static_cast<std::uint8_t>(lengthCode - lengthMask));
            runs.push_back(static_cast<std::uint8_t>((distance - 1) & 0xFF));
            for (std::size_t step = 0; step < length; ++step)
                finder.record(position + step);
            position += length;
            continue;
        }
        runs.push_back(byteAt(data, position));
        if (byteAt(data, position) == Dle)
            runs.push_back(0);
        finder.record(position++);
    }

    // Follower sets of varying sizes, the most frequent followers first, some sets empty.
    std::vector<std::array<int, 256>> pairs(256);
    for (auto& row : pairs)
        row.fill(0);
    std::uint8_t last = 0;
    for (const std::uint8_t value : runs) {
        ++pairs[last][value];
        last = value;
    }
    constexpr std::array<std::size_t, 8> SetSizes = {0, 1, 2, 3, 5, 8, 17, 32};
    std::vector<std::vector<std::uint8_t>> sets(256);
    for (std::size_t byte = 0; byte < 256; ++byte) {
        std::vector<int> order(256);
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return pairs[byte][a] > pairs[byte][b]; });
        for (const int value : order) {
            if (sets[byte].size() == SetSizes[byte % SetSizes.size()] || pairs[byte][value] == 0)
                break;
            sets[byte].push_back(static_cast<std::uint8_t>(value));
        }
    }
    BitWriter writer;
    for (int byte = 255; byte >= 0; --byte) {
        writer.put(static_cast<std::uint32_t>(sets[byte].size()), 6);
        for (const std::uint8_t value : sets[byte])
            writer.put(value, 8);
    }
    last = 0;
    for (const std::uint8_t value : runs) {
        const std::vector<std::uint8_t>& set = sets[last];
        if (set.empty()) {
            writer.put(value, 8);
        } else {
            const auto found = std::find(set.begin(), set.end(), value);
            if (found == set.end()) {
                writer.put(1, 1);
                writer.put(value, 8);
            } else {
                int bits = 1;
                while ((std::size_t{1} << bits) < set.size())
                    ++bits;
                writer.put(0, 1);
                writer.put(static_cast<std::uint32_t>(found - set.begin()), bits);
            }
        }
        last = value;
    }
    return writer.finish();
}

int implodeFlags(bool largeWindow, bool literalTree) {
    return (largeWindow ? 2 : 0) | (literalTree ? 4 : 0);
}

namespace {

// Code lengths from a fixed profile, handed out by falling frequency. Every profile satisfies the
// prefix condition; the literal and distance profiles are complete, the length profile reaches 11
// bits and leaves some codes unused.
std::vector<std::uint8_t> lengthsByRank(const std::vector<int>& frequencies,
                                        const std::vector<std::uint8_t>& profile) {
    std::vector<int> order(frequencies.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return frequencies[a] > frequencies[b]; });
    std::vector<std::uint8_t> lengths(frequencies.size());
    for (std::size_t rank = 0; rank < order.size(); ++rank)
        lengths[static_cast<std::size_t>(order[rank])] = profile[rank];
    return lengths;
}

std::vector<std::uint8_t> profileOf(std::initializer_list<std::pair<int, std::uint8_t>> runs) {
    std::vector<std::uint8_t> profile;
    for (const auto& [count, length] : runs)
        profile.insert(profile.end(), static_cast<std::size_t>(count), length);
    return profile;
}

// Canonical codes: shorter first, equal lengths in symbol order.
std::vector<std::uint32_t> canonicalCodes(const std::vector<std::uint8_t>& lengths) {
    std::vector<std::uint32_t> codes(lengths.size());
    std::uint32_t code = 0;
    for (std::uint8_t length = 1; length <= 16; ++length) {
        for (std::size_t symbol = 0; symbol < lengths.size(); ++symbol)
            if (lengths[symbol] == length)
                codes[symbol] = code++;
        code <<= 1;
    }
    return codes;
}

void writeTree(BitWriter& writer, const std::vector<std::uint8_t>& lengths) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t start = 0; start < lengths.size();) {
        std::size_t run = 1;
        while (run < 16 && start + run < lengths.size() && lengths[start + run] == lengths[start])
            ++run;
        bytes.push_back(static_cast<std::uint8_t>((run - 1) << 4 | (lengths[start] - 1u)));
        start += run;
    }
    writer.put(static_cast<std::uint32_t>(bytes.size() - 1), 8);
    for (const std::uint8_t value : bytes)
        writer.put(value, 8);
}

// The format stores each code first bit first, every bit inverted.
void writeCode(BitWriter& writer, std::uint32_t code, std::uint8_t length) {
    for (int bit = length - 1; bit >= 0; --bit)
        writer.put(((code >> bit) & 1u) ^ 1u, 1);
}

} // namespace

std::string implodeEncode(std::string_view data, bool largeWindow, bool literalTree) {
    const std::size_t minimum = literalTree ? 3 : 2;
    const int lowBits = largeWindow ? 7 : 6;
    MatchFinder finder(data, largeWindow ? 8192 : 4096, minimum + 63 + 255);
    struct Item {
        std::size_t length = 0; // 0 for a literal
        std::size_t distance = 0;
        std::uint8_t literal = 0;
    };
    std::vector<Item> items;
    std::vector<int> literalCounts(256), lengthCounts(64), distanceCounts(64);
    for (std::size_t position = 0; position < data.size();) {
        std::size_t distance = 0;
        const std::size_t length = finder.find(position, distance);
        if (length >= minimum) {
            items.push_back({length, distance, 0});
            ++lengthCounts[std::min<std::size_t>(length - minimum, 63)];
            ++distanceCounts[(distance - 1) >> lowBits];
            for (std::size_t step = 0; step < length; ++step)
                finder.record(position + step);
            position += length;
        } else {
            items.push_back({0, 0, byteAt(data, position)});
            ++literalCounts[byteAt(data, position)];
            finder.record(position++);
        }
    }
    const auto literalLengths = lengthsByRank(literalCounts, profileOf({{16, 6}, {144, 8}, {96, 9}}));
    const auto lengthLengths =
        lengthsByRank(lengthCounts, profileOf({{1, 1}, {1, 2}, {1, 3}, {1, 4}, {1, 5}, {59, 11}}));
    const auto distanceLengths = lengthsByRank(distanceCounts, profileOf({{2, 3}, {8, 5}, {10, 6}, {44, 7}}));
    const auto literalCodes = canonicalCodes(literalLengths);
    const auto lengthCodes = canonicalCodes(lengthLengths);
    const auto distanceCodes = canonicalCodes(distanceLengths);

    BitWriter writer;
    if (literalTree)
        writeTree(writer, literalLengths);
    writeTree(writer, lengthLengths);
    writeTree(writer, distanceLengths);
    for (const Item& item : items) {
        if (item.length == 0) {
            writer.put(1, 1);
            if (literalTree)
                writeCode(writer, literalCodes[item.literal], literalLengths[item.literal]);
            else
                writer.put(item.literal, 8);
            continue;
        }
        writer.put(0, 1);
        const std::size_t distance = item.distance - 1;
        writer.put(static_cast<std::uint32_t>(distance & ((1u << lowBits) - 1)), lowBits);
        const std::size_t high = distance >> lowBits;
        writeCode(writer, distanceCodes[high], distanceLengths[high]);
        const std::size_t code = std::min<std::size_t>(item.length - minimum, 63);
        writeCode(writer, lengthCodes[code], lengthLengths[code]);
        if (code == 63)
            writer.put(static_cast<std::uint32_t>(item.length - minimum - 63), 8);
    }
    return writer.finish();
}

} // namespace vellum::testing
