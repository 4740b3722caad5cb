#include "codecs/own/deflate64_inflater.h"

#include <algorithm>
#include <cstring>

namespace vellum {

namespace {

// RFC 1951, 3.2.5: the base and extra bits of each length code (257 to 285) and distance code,
// packed as base | extra bits << 16 so that one lookup gives both.
constexpr std::uint32_t code(std::uint32_t base, std::uint32_t extraBits) {
    return base | extraBits << 16;
}
constexpr std::array<std::uint32_t, 29> DeflateLengthCodes = {
    code(3, 0),   code(4, 0),   code(5, 0),   code(6, 0),   code(7, 0),  code(8, 0),
    code(9, 0),   code(10, 0),  code(11, 1),  code(13, 1),  code(15, 1), code(17, 1),
    code(19, 2),  code(23, 2),  code(27, 2),  code(31, 2),  code(35, 3), code(43, 3),
    code(51, 3),  code(59, 3),  code(67, 4),  code(83, 4),  code(99, 4), code(115, 4),
    code(131, 5), code(163, 5), code(195, 5), code(227, 5), code(258, 0)};
// Deflate64's reading of length code 285: 16 extra bits on a base of 3.
constexpr std::uint32_t Deflate64LastLengthCode = code(3, 16);
constexpr std::array<std::uint32_t, 32> DistanceCodes = {
    code(1, 0),      code(2, 0),     code(3, 0),     code(4, 0),      code(5, 1),      code(7, 1),
    code(9, 2),      code(13, 2),    code(17, 3),    code(25, 3),     code(33, 4),     code(49, 4),
    code(65, 5),     code(97, 5),    code(129, 6),   code(193, 6),    code(257, 7),    code(385, 7),
    code(513, 8),    code(769, 8),   code(1025, 9),  code(1537, 9),   code(2049, 10),  code(3073, 10),
    code(4097, 11),  code(6145, 11), code(8193, 12), code(12289, 12), code(16385, 13), code(24577, 13),
    code(32769, 14), code(49153, 14)};
constexpr unsigned Deflate64LastLengthExtraBits = 16;
// The order in which a dynamic block sends the lengths of the code-length code.
constexpr std::array<std::uint8_t, 19> CodeLengthOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                          11, 4,  12, 3, 13, 2, 14, 1, 15};
constexpr unsigned EndOfBlock = 256;
constexpr unsigned FirstLengthSymbol = 257;

constexpr std::uint32_t lowBits(std::uint64_t bits, unsigned width) {
    return static_cast<std::uint32_t>(bits & ((std::uint64_t{1} << width) - 1));
}

// The value of a packed code plus its extra bits taken from bits.
constexpr std::uint32_t codeValue(std::uint32_t packed, std::uint64_t bits) {
    return (packed & 0xFFFFu) + lowBits(bits, packed >> 16);
}

} // namespace

Deflate64Inflater::Deflate64Inflater() : m_ring(std::make_unique<std::uint8_t[]>(RingSize + CopyChunk)) {}

void Deflate64Inflater::reset(Flavor flavor) {
    m_flavor = flavor;
    m_lengthCodes = DeflateLengthCodes;
    if (flavor == Flavor::Deflate64)
        m_lengthCodes.back() = Deflate64LastLengthCode;
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
    // Literals are written here directly, and a length hands over to the distance. A
    // literal/length code with its extra bits takes at most 15 + 16 bits. Most symbols are decoded
    // by the fast loop; this one takes what it leaves: the last bytes of the input, long codes and
    // faults.
    constexpr unsigned LongestStep = Deflate64Huffman::MaximumLength + Deflate64LastLengthExtraBits;
    std::uint8_t* const ring = m_ring.get();
    for (;;) {
        if (input.size() >= sizeof(std::uint64_t)) {
            const Progress progress = decodeSymbolsFast(input);
            if (progress != Progress::Continue || m_stage != Stage::Symbols)
                return progress;
        }
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
        if (index >= m_lengthCodes.size())
            return Progress::Failed; // 286 and 287 have a fixed code but no meaning
        const std::uint32_t lengthCode = m_lengthCodes[index];
        const unsigned extraBits = lengthCode >> 16;
        if (m_reader.count() < length + extraBits)
            return Progress::NeedsInput;
        m_matchLength = codeValue(lengthCode, m_reader.bits() >> length);
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

// The loop that decodes nearly every symbol. It runs while eight bytes of input are left, so that
// the bit buffer is refilled with one load and never runs short within a step: 56 bits or more
// after a refill hold a literal/length code with its extra bits (at most 11 + 16, since longer
// codes leave the loop), and 32 bits, refilled to if need be before the distance, hold its code
// and extra bits (at most 11 + 14). Matches that fit the output and do not wrap the ring are copied
// here in chunks. Anything else (a long code, a fault, a stop for output) goes back to the
// careful path with the stage set, before any of its bits are dropped. The state is kept in
// locals: a byte written to the ring could otherwise alias every member.
Deflate64Inflater::Progress Deflate64Inflater::decodeSymbolsFast(std::span<const std::uint8_t>& input) {
    std::uint8_t* const ring = m_ring.get();
    const std::uint8_t* next = input.data();
    const std::uint8_t* const safeEnd = input.data() + input.size() - sizeof(std::uint64_t);
    std::uint64_t bits = m_reader.bits();
    unsigned count = m_reader.count();
    std::size_t position = m_position;
    const std::size_t outputEnd = m_outputEnd;
    // A distance may reach back over what the stream produced before the ring's first byte, too.
    const std::uint64_t producedBefore = m_produced - m_position;
    const bool plainDeflate = m_flavor == Flavor::Deflate;
    Progress progress = Progress::Continue;

    const auto refill = [&] {
        std::uint64_t word = 0;
        std::memcpy(&word, next, sizeof word);
        bits |= Deflate64BitReader::toLittleEndian(word) << count;
        // Only whole bytes count; the bits of a partly loaded byte are loaded again next time.
        const unsigned taken = (63 - count) / 8;
        next += taken;
        count += taken * 8;
    };
    const auto drop = [&](unsigned width) {
        bits >>= width;
        count -= width;
    };

    // A refill is only asked for below 56 bits, which also keeps the shift within the word.
    while (next <= safeEnd) {
        if (count < 56)
            refill();
        const std::uint16_t entry = m_literalCode.fastEntry(bits);
        const unsigned length = entry >> Deflate64Huffman::LengthShift;
        const unsigned symbol = entry & Deflate64Huffman::SymbolMask;
        if (length == 0)
            break;
        if (symbol < EndOfBlock) {
            if (position == outputEnd) {
                progress = Progress::OutputFull;
                break;
            }
            ring[position++] = static_cast<std::uint8_t>(symbol);
            drop(length);
            continue;
        }
        if (symbol == EndOfBlock) {
            drop(length);
            m_stage = m_finalBlock ? Stage::Done : Stage::BlockHeader;
            break;
        }
        const unsigned index = symbol - FirstLengthSymbol;
        if (index >= m_lengthCodes.size())
            break;
        const std::uint32_t lengthCode = m_lengthCodes[index];
        const std::uint32_t matchLength = codeValue(lengthCode, bits >> length);
        drop(length + (lengthCode >> 16));
        m_matchLength = matchLength;
        m_stage = Stage::Distance;
        if (count < 32) {
            if (next > safeEnd)
                break;
            refill();
        }
        const std::uint16_t distanceEntry = m_distanceCode.fastEntry(bits);
        const unsigned distanceLength = distanceEntry >> Deflate64Huffman::LengthShift;
        const unsigned distanceSymbol = distanceEntry & Deflate64Huffman::SymbolMask;
        if (distanceLength == 0 || (plainDeflate && distanceSymbol >= 30))
            break;
        const std::uint32_t distanceCode = DistanceCodes[distanceSymbol];
        const std::uint32_t distance = codeValue(distanceCode, bits >> distanceLength);
        if (distance > producedBefore + position)
            break;
        drop(distanceLength + (distanceCode >> 16));
        if (matchLength > outputEnd - position || distance > position) {
            m_matchDistance = distance;
            m_stage = Stage::MatchCopy;
            break;
        }
        m_stage = Stage::Symbols;
        std::uint8_t* const destination = ring + position;
        const std::uint8_t* const source = destination - distance;
        // Chunks may run past the match's end into bytes not yet written, which the ring's spare
        // room absorbs. Each chunk reads only bytes before the one it writes, so that an
        // overlapping match repeats its period as deflate requires.
        if (distance >= CopyChunk) {
            for (std::size_t copied = 0; copied < matchLength; copied += CopyChunk)
                std::memcpy(destination + copied, source + copied, CopyChunk);
        } else if (distance >= 8) {
            for (std::size_t copied = 0; copied < matchLength; copied += 8)
                std::memcpy(destination + copied, source + copied, 8);
        } else if (distance == 1) {
            std::memset(destination, *source, matchLength);
        } else {
            for (std::size_t copied = 0; copied < matchLength; ++copied)
                destination[copied] = source[copied];
        }
        position += matchLength;
    }

    m_reader.restore(bits, count);
    input = input.subspan(static_cast<std::size_t>(next - input.data()));
    m_produced += position - m_position;
    m_position = position;
    return progress;
}

Deflate64Inflater::Progress Deflate64Inflater::readDistance() {
    unsigned length = 0;
    const int symbol = m_distanceCode.decode(m_reader.bits(), m_reader.count(), length);
    if (symbol < 0)
        return symbol == Deflate64Huffman::NeedsBits ? Progress::NeedsInput : Progress::Failed;
    const auto index = static_cast<unsigned>(symbol);
    if (index >= 30 && m_flavor == Flavor::Deflate)
        return Progress::Failed;
    const std::uint32_t distanceCode = DistanceCodes[index];
    const unsigned extraBits = distanceCode >> 16;
    if (m_reader.count() < length + extraBits)
        return Progress::NeedsInput;
    const std::uint32_t distance = codeValue(distanceCode, m_reader.bits() >> length);
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
