#include "codecs/own/deflate64_inflater.h"

#include <algorithm>
#include <cstring>

namespace vellum {

namespace {

// RFC 1951, 3.2.5: the base and extra bits of each length code (257 to 285) and distance code.
constexpr std::array<std::uint16_t, 29> LengthBases = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                                       15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                                       67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint8_t, 29> LengthExtraBits = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                          2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<std::uint16_t, 32> DistanceBases = {
    1,   2,   3,   4,   5,    7,    9,    13,   17,   25,   33,   49,    65,    97,    129,   193,
    257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr std::array<std::uint8_t, 32> DistanceExtraBits = {
    0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
// Deflate64's reading of length code 285.
constexpr unsigned Deflate64LastLengthBase = 3;
constexpr unsigned Deflate64LastLengthExtraBits = 16;
// The order in which a dynamic block sends the lengths of the code-length code.
constexpr std::array<std::uint8_t, 19> CodeLengthOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                          11, 4,  12, 3, 13, 2, 14, 1, 15};
constexpr unsigned EndOfBlock = 256;
constexpr unsigned FirstLengthSymbol = 257;

constexpr std::uint32_t lowBits(std::uint64_t bits, unsigned width) {
    return static_cast<std::uint32_t>(bits & ((std::uint64_t{1} << width) - 1));
}

} // namespace

Deflate64Inflater::Deflate64Inflater() : m_ring(std::make_unique<std::uint8_t[]>(RingSize)) {}

void Deflate64Inflater::reset(Flavor flavor) {
    m_flavor = flavor;
    m_stage = Stage::BlockHeader;
    m_finalBlock = false;
    m_reader.clear();
    m_position = 0;
    m_produced = 0;
    m_storedLeft = 0;
    m_matchLength = 0;
}

CodecStep Deflate64Inflater::inflate(std::span<const std::uint8_t> input, std::size_t outputLimit) {
    const std::size_t inputSize = input.size();
    if (m_position == RingSize)
        m_position = 0;
    const std::size_t start = m_position;
    m_outputEnd = start + std::min(outputLimit, RingSize - start);

    Progress progress = Progress::Continue;
    while (progress == Progress::Continue && m_stage != Stage::Done && m_stage != Stage::Failed) {
        m_reader.refill(input);
        switch (m_stage) {
        case Stage::BlockHeader:
            progress = readBlockHeader();
            break;
        case Stage::StoredLengths:
            progress = readStoredLengths();
            break;
        case Stage::StoredCopy:
            progress = copyStored(input);
            break;
        case Stage::TableSizes:
            progress = readTableSizes();
            break;
        case Stage::CodeLengthCode:
            progress = readCodeLengthCode();
            break;
        case Stage::CodeLengths:
            progress = readCodeLengths();
            break;
        case Stage::Symbols:
            progress = decodeSymbols(input);
            break;
        case Stage::Distance:
            progress = readDistance();
            break;
        case Stage::MatchCopy:
            progress = copyMatch();
            break;
        case Stage::Done:
        case Stage::Failed:
            break;
        }
        if (progress == Progress::Failed)
            m_stage = Stage::Failed;
    }

    CodecStep step;
    step.output = std::span<const std::uint8_t>(m_ring.get() + start, m_position - start);
    step.consumed = inputSize - input.size();
    if (m_stage == Stage::Failed) {
        step.state = CodecState::Damaged;
    } else if (m_stage == Stage::Done) {
        step.state = CodecState::Finished;
        // The bits left in the last byte pad it; whole bytes still buffered were never part of the
        // stream. They may come from an earlier call, so consumed cannot always give them back.
        const std::size_t buffered = m_reader.count() / 8;
        step.unusedInput = input.size() + buffered;
        step.consumed -= std::min(step.consumed, buffered);
    } else {
        step.state = progress == Progress::OutputFull ? CodecState::OutputFull : CodecState::NeedsInput;
    }
    return step;
}

Deflate64Inflater::Progress Deflate64Inflater::readBlockHeader() {
    if (m_reader.count() < 3)
        return Progress::NeedsInput;
    const std::uint32_t header = m_reader.peek(3);
    m_reader.drop(3);
    m_finalBlock = (header & 1u) != 0;
    switch (header >> 1) {
    case 0:
        m_reader.alignToByte();
        m_stage = Stage::StoredLengths;
        return Progress::Continue;
    case 1:
        useFixedCodes();
        m_stage = Stage::Symbols;
        return Progress::Continue;
    case 2:
        m_stage = Stage::TableSizes;
        return Progress::Continue;
    default:
        return Progress::Failed; // block type 3 is reserved
    }
}

void Deflate64Inflater::useFixedCodes() {
    // RFC 1951, 3.2.6. The fixed codes are complete, so building them cannot fail; they are rebuilt
    // per block because a dynamic block in between replaces the tables.
    std::array<std::uint8_t, 288> literalLengths{};
    std::fill_n(literalLengths.begin(), 144, std::uint8_t{8});
    std::fill_n(literalLengths.begin() + 144, 112, std::uint8_t{9});
    std::fill_n(literalLengths.begin() + 256, 24, std::uint8_t{7});
    std::fill_n(literalLengths.begin() + 280, 8, std::uint8_t{8});
    std::array<std::uint8_t, 32> distanceLengths{};
    distanceLengths.fill(5);
    m_literalCode.build(literalLengths, Deflate64Huffman::Kind::Symbols);
    m_distanceCode.build(distanceLengths, Deflate64Huffman::Kind::Symbols);
}

Deflate64Inflater::Progress Deflate64Inflater::readStoredLengths() {
    if (m_reader.count() < 32)
        return Progress::NeedsInput;
    const std::uint32_t length = m_reader.peek(16);
    const std::uint32_t complement = (m_reader.peek(32) >> 16) ^ 0xffffu;
    if (length != complement)
        return Progress::Failed;
    m_reader.drop(32);
    m_storedLeft = length;
    m_stage = Stage::StoredCopy;
    return Progress::Continue;
}

Deflate64Inflater::Progress Deflate64Inflater::copyStored(std::span<const std::uint8_t>& input) {
    while (m_storedLeft > 0) {
        if (m_position == m_outputEnd)
            return Progress::OutputFull;
        // The bit buffer holds whole bytes here (the block header was aligned); they come first.
        if (m_reader.count() >= 8) {
            m_ring[m_position++] = static_cast<std::uint8_t>(m_reader.peek(8));
            m_reader.drop(8);
            ++m_produced;
            --m_storedLeft;
            continue;
        }
        if (input.empty())
            return Progress::NeedsInput;
        const std::size_t length =
            std::min({std::size_t{m_storedLeft}, m_outputEnd - m_position, input.size()});
        std::memcpy(m_ring.get() + m_position, input.data(), length);
        input = input.subspan(length);
        m_position += length;
        m_produced += length;
        m_storedLeft -= static_cast<std::uint32_t>(length);
    }
    m_stage = m_finalBlock ? Stage::Done : Stage::BlockHeader;
    return Progress::Continue;
}

Deflate64Inflater::Progress Deflate64Inflater::readTableSizes() {
    if (m_reader.count() < 14)
        return Progress::NeedsInput;
    const std::uint32_t sizes = m_reader.peek(14);
    m_reader.drop(14);
    m_literalCount = (sizes & 31u) + 257;
    m_distanceCount = (sizes >> 5 & 31u) + 1;
    m_codeLengthCount = (sizes >> 10) + 4;
    // Literal/length symbols 286 and 287 never occur; distance codes 30 and 31 only in Deflate64.
    const unsigned distanceLimit = m_flavor == Flavor::Deflate64 ? 32 : 30;
    if (m_literalCount > 286 || m_distanceCount > distanceLimit)
        return Progress::Failed;
    m_codeLengthLengths.fill(0);
    m_lengthIndex = 0;
    m_stage = Stage::CodeLengthCode;
    return Progress::Continue;
}

Deflate64Inflater::Progress Deflate64Inflater::readCodeLengthCode() {
    while (m_lengthIndex < m_codeLengthCount) {
        if (m_reader.count() < 3)
            return Progress::NeedsInput;
        m_codeLengthLengths[CodeLengthOrder[m_lengthIndex++]] = static_cast<std::uint8_t>(m_reader.peek(3));
        m_reader.drop(3);
    }
    if (!m_codeLengthCode.build(m_codeLengthLengths, Deflate64Huffman::Kind::CodeLengths))
        return Progress::Failed;
    m_lengthIndex = 0;
    m_stage = Stage::CodeLengths;
    return Progress::Continue;
}

Deflate64Inflater::Progress Deflate64Inflater::readCodeLengths() {
    const unsigned total = m_literalCount + m_distanceCount;
    while (m_lengthIndex < total) {
        unsigned length = 0;
        const int symbol = m_codeLengthCode.decode(m_reader.bits(), m_reader.count(), length);
        if (symbol == Deflate64Huffman::NeedsBits)
            return Progress::NeedsInput;
        if (symbol < 0)
            return Progress::Failed;
        if (symbol < 16) {
            m_reader.drop(length);
            m_lengths[m_lengthIndex++] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        // 16 repeats the previous length 3-6 times, 17 and 18 give runs of zeros of 3-10 and 11-138.
        const unsigned extraBits = symbol == 16 ? 2 : symbol == 17 ? 3 : 7;
        const unsigned baseCount = symbol == 18 ? 11 : 3;
        if (m_reader.count() < length + extraBits)
            return Progress::NeedsInput;
        const unsigned count = baseCount + lowBits(m_reader.bits() >> length, extraBits);
        if (symbol == 16 && m_lengthIndex == 0)
            return Progress::Failed;
        if (m_lengthIndex + count > total)
            return Progress::Failed;
        const std::uint8_t value = symbol == 16 ? m_lengths[m_lengthIndex - 1] : std::uint8_t{0};
        std::fill_n(m_lengths.begin() + m_lengthIndex, count, value);
        m_lengthIndex += count;
        m_reader.drop(length + extraBits);
    }
    const auto lengths = std::span<const std::uint8_t>(m_lengths);
    // A block must be able to end.
    if (m_lengths[EndOfBlock] == 0)
        return Progress::Failed;
    if (!m_literalCode.build(lengths.first(m_literalCount), Deflate64Huffman::Kind::Symbols) ||
        !m_distanceCode.build(lengths.subspan(m_literalCount, m_distanceCount),
                              Deflate64Huffman::Kind::Symbols))
        return Progress::Failed;
    m_stage = Stage::Symbols;
    return Progress::Continue;
}

Deflate64Inflater::Progress Deflate64Inflater::decodeSymbols(std::span<const std::uint8_t>& input) {
    // The hot loop: literals are written here directly, and a length hands over to the distance.
    // A literal/length code with its extra bits takes at most 15 + 16 bits.
    constexpr unsigned LongestStep = Deflate64Huffman::MaximumLength + Deflate64LastLengthExtraBits;
    std::uint8_t* const ring = m_ring.get();
    for (;;) {
        if (m_reader.count() < LongestStep)
            m_reader.refill(input);
        unsigned length = 0;
        const int symbol = m_literalCode.decode(m_reader.bits(), m_reader.count(), length);
        if (symbol < 0)
            return symbol == Deflate64Huffman::NeedsBits ? Progress::NeedsInput : Progress::Failed;
        const auto value = static_cast<unsigned>(symbol);
        if (value < EndOfBlock) {
            if (m_position == m_outputEnd)
                return Progress::OutputFull;
            ring[m_position++] = static_cast<std::uint8_t>(value);
            ++m_produced;
            m_reader.drop(length);
            continue;
        }
        if (value == EndOfBlock) {
            m_reader.drop(length);
            m_stage = m_finalBlock ? Stage::Done : Stage::BlockHeader;
            return Progress::Continue;
        }
        const unsigned index = value - FirstLengthSymbol;
        if (index >= LengthBases.size())
            return Progress::Failed; // 286 and 287 have a fixed code but no meaning
        const bool longLength = m_flavor == Flavor::Deflate64 && index == LengthBases.size() - 1;
        const unsigned base = longLength ? Deflate64LastLengthBase : LengthBases[index];
        const unsigned extraBits = longLength ? Deflate64LastLengthExtraBits : LengthExtraBits[index];
        if (m_reader.count() < length + extraBits)
            return Progress::NeedsInput;
        m_matchLength = base + lowBits(m_reader.bits() >> length, extraBits);
        m_reader.drop(length + extraBits);
        m_stage = Stage::Distance;
        // The distance and the copy follow at once; each leaves its stage set if it has to stop.
        if (m_reader.count() < LongestStep)
            m_reader.refill(input);
        Progress progress = readDistance();
        if (progress == Progress::Continue)
            progress = copyMatch();
        if (progress != Progress::Continue)
            return progress;
    }
}

Deflate64Inflater::Progress Deflate64Inflater::readDistance() {
    unsigned length = 0;
    const int symbol = m_distanceCode.decode(m_reader.bits(), m_reader.count(), length);
    if (symbol < 0)
        return symbol == Deflate64Huffman::NeedsBits ? Progress::NeedsInput : Progress::Failed;
    const auto index = static_cast<unsigned>(symbol);
    if (index >= 30 && m_flavor == Flavor::Deflate)
        return Progress::Failed;
    const unsigned extraBits = DistanceExtraBits[index];
    if (m_reader.count() < length + extraBits)
        return Progress::NeedsInput;
    const std::uint32_t distance = DistanceBases[index] + lowBits(m_reader.bits() >> length, extraBits);
    // A distance may not reach back before the start of the stream.
    if (distance > m_produced)
        return Progress::Failed;
    m_reader.drop(length + extraBits);
    m_matchDistance = distance;
    m_stage = Stage::MatchCopy;
    return Progress::Continue;
}

Deflate64Inflater::Progress Deflate64Inflater::copyMatch() {
    std::uint8_t* const ring = m_ring.get();
    while (m_matchLength > 0) {
        const std::size_t room = m_outputEnd - m_position;
        if (room == 0)
            return Progress::OutputFull;
        const std::size_t length = std::min<std::size_t>(m_matchLength, room);
        std::size_t source = (m_position + RingSize - m_matchDistance) & RingMask;
        if (m_matchDistance >= length && source + length <= RingSize) {
            // The source lies wholly behind the destination without wrapping: one block copy.
            std::memcpy(ring + m_position, ring + source, length);
            m_position += length;
        } else if (source < m_position) {
            // Overlapping copies repeat the bytes just written, so they go one byte at a time.
            std::uint8_t* destination = ring + m_position;
            const std::uint8_t* from = ring + source;
            for (std::size_t copied = 0; copied < length; ++copied)
                destination[copied] = from[copied];
            m_position += length;
        } else {
            // The source wraps around the end of the ring.
            for (std::size_t copied = 0; copied < length; ++copied) {
                ring[m_position++] = ring[source];
                source = (source + 1) & RingMask;
            }
        }
        m_produced += length;
        m_matchLength -= static_cast<std::uint32_t>(length);
    }
    m_stage = Stage::Symbols;
    return Progress::Continue;
}

} // namespace vellum
