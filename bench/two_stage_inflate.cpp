// What decoding one Deflate stream in two stages would cost, measured on one core, for the estimate
// in RESULTS.md ("Parallel Deflate on paper") of how one entry could be split across many cores.
//
// The stream is cut into chunks at block starts recorded while decoding it once. Each chunk is then
// decoded without the 32 KiB that precede it (stage 1): the output is 16-bit symbols, a byte value
// below 256 or, for a byte copied from before the chunk, 256 plus its offset into the unknown window.
// In order, each chunk's window is then the resolved end of the chunk before, and a second pass
// (stage 2) turns its markers into bytes. The CRC-32 of the whole is combined from the chunks' CRCs.
// Separately, finding a block start is timed: from a byte offset, every bit position is tried as a
// dynamic-Huffman or stored block header and a candidate is confirmed by decoding it and the next
// block; the position found must be the recorded block start.
//
// Everything runs on the calling thread and is timed in thread CPU seconds, in interleaved rounds:
//   ISA-L isal_inflate (as the program uses it: 256 KiB output buffer, crc32_gzip_refl)
//   zlib inflate (256 KiB output buffer, no CRC)
//   an own plain decoder, bytes out, window known (one stage)
//   the same decoder, 16-bit symbols out, each chunk without its window (stage 1)
//   the marker pass (stage 2), the chunks' CRC-32s and their combination
//   the block-start search, per chunk
// The two-stage output must equal ISA-L's byte for byte and its combined CRC-32 ISA-L's.
//
//   two_stage_inflate [--mib N] [--chunk-kib N] [--runs N] [--sources DIR] [--file FILE]
//
// --file compresses FILE's bytes instead of making a corpus; the corpus is N MiB (256) of text:
// slices of the files under DIR and paragraphs of words taken from them. The stream is zlib's raw
// Deflate at level 6, cut into chunks of about N KiB (1024) of compressed data.

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include <time.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t WindowSize = 32768;
constexpr std::size_t Padding = 64;
constexpr std::size_t ConfirmBytes = 64 * 1024;
constexpr double GiB = 1024.0 * 1024.0 * 1024.0;

double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string loadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// ---- Corpus and compression ----

std::vector<std::string> readSources(const std::string& folder) {
    std::vector<std::string> texts;
    if (folder.empty())
        return texts;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file() || entry.file_size() < 256 || entry.file_size() > (1u << 20))
            continue;
        std::ifstream file(entry.path(), std::ios::binary);
        texts.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    std::sort(texts.begin(), texts.end());
    return texts;
}

std::vector<std::string> wordsOf(const std::vector<std::string>& texts) {
    std::vector<std::string> words;
    for (const std::string& text : texts) {
        std::string word;
        for (const char c : text) {
            if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
                word += c;
            } else {
                if (word.size() > 1 && words.size() < 200000)
                    words.push_back(word);
                word.clear();
            }
        }
    }
    std::sort(words.begin(), words.end());
    words.erase(std::unique(words.begin(), words.end()), words.end());
    // Syllable words, so that a folder with few words still gives a large vocabulary.
    static const char* const syllables[] = {"ka", "lo",  "mi", "ner", "tu",  "sa", "vel", "dor",
                                            "pi", "ran", "es", "qui", "mon", "ta", "li",  "zu"};
    std::mt19937_64 random(7);
    while (words.size() < 20000) {
        std::string word;
        for (std::size_t n = 1 + random() % 4; n > 0; --n)
            word += syllables[random() % 16];
        words.push_back(word);
    }
    std::shuffle(words.begin(), words.end(), random);
    return words;
}

std::vector<std::uint8_t> makeCorpus(std::size_t size, const std::string& sourceFolder) {
    const std::vector<std::string> sources = readSources(sourceFolder);
    const std::vector<std::string> words = wordsOf(sources);
    std::mt19937_64 random(42);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::string text;
    text.reserve(size + 65536);
    while (text.size() < size) {
        if (!sources.empty() && random() % 10 < 6) {
            const std::string& source = sources[random() % sources.size()];
            const std::size_t length = std::min<std::size_t>(source.size(), 256 + random() % 16384);
            const std::size_t start = random() % (source.size() - length + 1);
            text.append(source, start, length);
        } else {
            // Zipf-like: low ranks far more often than high ones.
            for (std::size_t n = 200 + random() % 1800; n > 0; --n) {
                const double u = uniform(random);
                text += words[static_cast<std::size_t>(u * u * u * static_cast<double>(words.size()))];
                text += random() % 12 == 0 ? ".\n" : " ";
            }
        }
    }
    text.resize(size);
    return {text.begin(), text.end()};
}

std::vector<std::uint8_t> rawDeflate(const std::vector<std::uint8_t>& data) {
    z_stream stream{};
    if (deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        std::abort();
    std::vector<std::uint8_t> packed(deflateBound(&stream, data.size()) + Padding);
    std::size_t in = 0, out = 0;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        const std::size_t take = std::min<std::size_t>(data.size() - in, 1u << 30);
        stream.next_in = const_cast<Bytef*>(data.data() + in);
        stream.avail_in = static_cast<uInt>(take);
        stream.next_out = packed.data() + out;
        stream.avail_out = static_cast<uInt>(std::min<std::size_t>(packed.size() - out, 1u << 30));
        const uInt before = stream.avail_in, roomBefore = stream.avail_out;
        status = deflate(&stream, in + take == data.size() ? Z_FINISH : Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END)
            std::abort();
        in += before - stream.avail_in;
        out += roomBefore - stream.avail_out;
    }
    deflateEnd(&stream);
    packed.resize(out);
    return packed;
}

// ---- The reference decoders ----

struct Reference {
    std::vector<std::uint8_t> output;
    std::uint32_t crc = 0;
};

// ISA-L as the program uses it; with `keep` the output is also collected for the comparison.
Reference isalInflate(const std::vector<std::uint8_t>& packed, std::size_t expected, bool keep) {
    Reference result;
    if (keep)
        result.output.reserve(expected);
    static inflate_state state;
    std::vector<std::uint8_t> buffer(256 * 1024);
    isal_inflate_init(&state);
    state.crc_flag = ISAL_DEFLATE;
    state.next_in = const_cast<std::uint8_t*>(packed.data());
    state.avail_in = static_cast<std::uint32_t>(packed.size());
    do {
        state.next_out = buffer.data();
        state.avail_out = static_cast<std::uint32_t>(buffer.size());
        if (isal_inflate(&state) < 0)
            std::abort();
        const std::size_t produced = buffer.size() - state.avail_out;
        result.crc = crc32_gzip_refl(result.crc, buffer.data(), produced);
        if (keep)
            result.output.insert(result.output.end(), buffer.begin(), buffer.begin() + produced);
        if (produced == 0 && state.block_state != ISAL_BLOCK_FINISH)
            std::abort();
    } while (state.block_state != ISAL_BLOCK_FINISH);
    return result;
}

std::size_t zlibInflate(const std::vector<std::uint8_t>& packed) {
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK)
        std::abort();
    std::vector<std::uint8_t> buffer(256 * 1024);
    stream.next_in = const_cast<Bytef*>(packed.data());
    stream.avail_in = static_cast<uInt>(packed.size());
    std::size_t total = 0;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        stream.next_out = buffer.data();
        stream.avail_out = static_cast<uInt>(buffer.size());
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END)
            std::abort();
        total += buffer.size() - stream.avail_out;
    }
    inflateEnd(&stream);
    return total;
}

// ---- An own Deflate decoder ----

// A canonical Huffman code: a first-level table of FastBits bits, and the counts and sorted symbols
// for the rare longer codes, decoded a bit at a time.
constexpr unsigned FastBits = 10;

struct Huffman {
    std::uint16_t count[16]{};
    std::uint16_t symbol[320]{};
    std::uint16_t fast[1u << FastBits]{}; // length << 9 | symbol; 0 for a longer code

    // False for an over-subscribed code, or an incomplete one of more than one symbol.
    bool build(const std::uint8_t* lengths, unsigned n) {
        std::fill(std::begin(count), std::end(count), 0);
        for (unsigned s = 0; s < n; ++s)
            ++count[lengths[s]];
        int left = 1;
        unsigned used = 0;
        for (unsigned length = 1; length < 16; ++length) {
            left = left * 2 - count[length];
            used += count[length];
            if (left < 0)
                return false;
        }
        if (left > 0 && used != 1)
            return false;
        std::uint16_t offset[16]{};
        for (unsigned length = 1; length < 15; ++length)
            offset[length + 1] = static_cast<std::uint16_t>(offset[length] + count[length]);
        for (unsigned s = 0; s < n; ++s)
            if (lengths[s] != 0)
                symbol[offset[lengths[s]]++] = static_cast<std::uint16_t>(s);
        std::fill(std::begin(fast), std::end(fast), 0);
        unsigned code = 0, index = 0;
        for (unsigned length = 1; length <= FastBits; ++length) {
            for (unsigned k = 0; k < count[length]; ++k, ++code) {
                unsigned reversed = 0;
                for (unsigned bit = 0; bit < length; ++bit)
                    reversed |= ((code >> bit) & 1u) << (length - 1 - bit);
                const auto entry = static_cast<std::uint16_t>(length << 9 | symbol[index++]);
                for (unsigned r = reversed; r < (1u << FastBits); r += 1u << length)
                    fast[r] = entry;
            }
            code <<= 1;
        }
        return true;
    }

    // The symbol at the low end of `bits`, its length in `length`; -1 for no code.
    int decode(std::uint64_t bits, unsigned& length) const {
        const unsigned entry = fast[bits & ((1u << FastBits) - 1)];
        if (entry != 0) {
            length = entry >> 9;
            return static_cast<int>(entry & 511);
        }
        int code = 0, first = 0, index = 0;
        for (unsigned n = 1; n < 16; ++n) {
            code |= static_cast<int>((bits >> (n - 1)) & 1);
            const int c = count[n];
            if (code - c < first) {
                length = n;
                return symbol[index + (code - first)];
            }
            index += c;
            first = (first + c) << 1;
            code <<= 1;
        }
        return -1;
    }
};

constexpr std::uint16_t LengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                          31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t LengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                          2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t DistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                            33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                            1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::uint8_t DistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                            6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::uint8_t CodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                              11, 4,  12, 3, 13, 2, 14, 1, 15};

struct FixedCodes {
    Huffman literals, distances;
    FixedCodes() {
        std::uint8_t lengths[320];
        std::fill(lengths, lengths + 144, 8);
        std::fill(lengths + 144, lengths + 256, 9);
        std::fill(lengths + 256, lengths + 280, 7);
        std::fill(lengths + 280, lengths + 288, 8);
        literals.build(lengths, 288);
        // 32 codes of 5 bits, complete; distance symbols 30 and 31 are rejected when decoded.
        std::fill(lengths, lengths + 32, 5);
        distances.build(lengths, 32);
    }
};
const FixedCodes fixedCodes;

enum class Status { Final, ReachedStop, Full, Bad };

struct BlockStart {
    std::uint64_t bit;    // where the block's header begins
    std::uint64_t output; // bytes decoded before it
};

// Decodes blocks from bit `position` into `out` (bytes, or 16-bit symbols with markers). `window` is
// how much output precedes `out` that back-references may reach: 0 from the stream's start, 32 KiB
// in a chunk whose window is unknown, where each such byte becomes the marker 256 + its offset into
// that window. Input must be followed by Padding zero bytes.
template <typename Symbol> class Decoder {
public:
    Decoder(const std::uint8_t* input, std::size_t size, Symbol* out, std::size_t capacity,
            std::size_t window)
        : m_in(input), m_limit(static_cast<std::uint64_t>(size) * 8), m_out(out), m_capacity(capacity),
          m_window(window) {}

    std::uint64_t position = 0;
    std::size_t produced = 0;
    std::vector<BlockStart>* starts = nullptr;

    // Decodes until the final block ends, a block would start at `stop` (a block start past it is
    // Bad), or, with `confirm`, two blocks have been decoded and ConfirmBytes of output. A final
    // block confirms only if it ends where the stream does.
    Status run(std::uint64_t stop, bool confirm = false) {
        for (unsigned blocks = 0;; ++blocks) {
            if (position == stop || (confirm && blocks >= 2 && produced >= ConfirmBytes))
                return Status::ReachedStop;
            if (position > stop || position > m_limit)
                return Status::Bad;
            if (starts)
                starts->push_back({position, produced});
            const unsigned final = static_cast<unsigned>(take(1));
            const unsigned type = static_cast<unsigned>(take(2));
            Status status = Status::Bad;
            if (type == 0) {
                status = stored();
            } else if (type == 1) {
                status = codes(fixedCodes.literals, fixedCodes.distances);
            } else if (type == 2) {
                if (header())
                    status = codes(m_literals, m_distances);
            }
            if (status != Status::ReachedStop)
                return status;
            if (final) {
                const bool atEnd = confirm ? (position + 7) / 8 == m_limit / 8 : position <= m_limit;
                return atEnd ? Status::Final : Status::Bad;
            }
        }
    }

    // Only the header of a dynamic or stored block at `position`, for the block-start search.
    bool plausibleHeader() {
        take(1);
        const unsigned type = static_cast<unsigned>(take(2));
        if (type == 2)
            return header();
        if (type != 0)
            return false;
        position = (position + 7) & ~std::uint64_t{7};
        const std::uint64_t lengths = take(32);
        return ((lengths ^ (lengths >> 16)) & 0xFFFF) == 0xFFFF;
    }

private:
    std::uint64_t peek() const {
        std::uint64_t word;
        std::memcpy(&word, m_in + (position >> 3), 8);
        return word >> (position & 7);
    }

    std::uint64_t take(unsigned bits) {
        const std::uint64_t value = peek() & ((std::uint64_t{1} << bits) - 1);
        position += bits;
        return value;
    }

    Status stored() {
        position = (position + 7) & ~std::uint64_t{7};
        const auto length = static_cast<std::size_t>(take(16));
        const auto complement = static_cast<std::size_t>(take(16));
        if ((length ^ complement) != 0xFFFF || position + length * 8 > m_limit ||
            length > m_capacity - produced)
            return Status::Bad;
        const std::uint8_t* from = m_in + (position >> 3);
        std::copy(from, from + length, m_out + produced);
        produced += length;
        position += length * 8;
        return Status::ReachedStop;
    }

    bool header() {
        const unsigned literals = 257 + static_cast<unsigned>(take(5));
        const unsigned distances = 1 + static_cast<unsigned>(take(5));
        const unsigned codeLengths = 4 + static_cast<unsigned>(take(4));
        if (literals > 286 || distances > 30)
            return false;
        std::uint8_t lengths[320]{};
        unsigned count[8]{};
        for (unsigned i = 0; i < codeLengths; ++i) {
            const auto length = static_cast<std::uint8_t>(take(3));
            lengths[CodeLengthOrder[i]] = length;
            ++count[length];
        }
        // Most false starts end here: the code-length code must be complete, of two codes or more.
        int left = 1;
        for (unsigned length = 1; length < 8; ++length)
            left = left * 2 - static_cast<int>(count[length]);
        if (left != 0 || count[0] + 1 >= 19 || !m_lengthCode.build(lengths, 19))
            return false;
        const Huffman& lengthCode = m_lengthCode;
        std::fill(lengths, lengths + 19, 0);
        for (unsigned i = 0; i < literals + distances;) {
            if (position > m_limit)
                return false;
            unsigned length = 0;
            const int symbol = lengthCode.decode(peek(), length);
            if (symbol < 0)
                return false;
            position += length;
            if (symbol < 16) {
                lengths[i++] = static_cast<std::uint8_t>(symbol);
                continue;
            }
            std::uint8_t value = 0;
            unsigned repeat;
            if (symbol == 16) {
                if (i == 0)
                    return false;
                value = lengths[i - 1];
                repeat = 3 + static_cast<unsigned>(take(2));
            } else if (symbol == 17) {
                repeat = 3 + static_cast<unsigned>(take(3));
            } else {
                repeat = 11 + static_cast<unsigned>(take(7));
            }
            if (i + repeat > literals + distances)
                return false;
            std::fill(lengths + i, lengths + i + repeat, value);
            i += repeat;
        }
        if (position > m_limit || lengths[256] == 0)
            return false;
        return m_literals.build(lengths, literals) && m_distances.build(lengths + literals, distances);
    }

    Status codes(const Huffman& literalCode, const Huffman& distanceCode) {
        Symbol* const out = m_out;
        std::size_t at = produced;
        std::uint64_t bitAt = position;
        const std::uint64_t limit = m_limit;
        for (;;) {
            if (bitAt > limit)
                return Status::Bad;
            std::uint64_t bits;
            std::memcpy(&bits, m_in + (bitAt >> 3), 8);
            bits >>= bitAt & 7; // 57 bits: enough for a length and a distance with their extra bits
            unsigned length;
            int symbol = literalCode.decode(bits, length);
            if (symbol < 0)
                return Status::Bad;
            bitAt += length;
            bits >>= length;
            if (symbol < 256) {
                if (at == m_capacity) {
                    produced = at;
                    return Status::Full;
                }
                out[at++] = static_cast<Symbol>(symbol);
                continue;
            }
            if (symbol == 256)
                break;
            symbol -= 257;
            if (symbol >= 29)
                return Status::Bad;
            const unsigned lengthExtra = LengthExtra[symbol];
            std::size_t count = LengthBase[symbol] + (bits & ((1u << lengthExtra) - 1));
            bitAt += lengthExtra;
            bits >>= lengthExtra;
            symbol = distanceCode.decode(bits, length);
            if (symbol < 0 || symbol >= 30)
                return Status::Bad;
            bitAt += length;
            bits >>= length;
            const unsigned distanceExtra = DistanceExtra[symbol];
            const std::size_t distance = DistanceBase[symbol] + (bits & ((1u << distanceExtra) - 1));
            bitAt += distanceExtra;
            if (count > m_capacity - at) {
                produced = at;
                return Status::Full;
            }
            if (distance > at) {
                if (distance > at + m_window)
                    return Status::Bad;
                if constexpr (sizeof(Symbol) == 1) {
                    return Status::Bad;
                } else {
                    const std::size_t before = std::min(count, distance - at);
                    auto marker = static_cast<Symbol>(256 + WindowSize - (distance - at));
                    for (std::size_t k = 0; k < before; ++k)
                        out[at++] = marker++;
                    count -= before;
                }
            }
            Symbol* to = out + at;
            const Symbol* from = to - distance;
            if (distance * sizeof(Symbol) >= 8) {
                // Eight bytes at a time; the output has room for the overrun past its end.
                auto* toBytes = reinterpret_cast<std::uint8_t*>(to);
                const auto* fromBytes = reinterpret_cast<const std::uint8_t*>(from);
                for (std::size_t k = 0; k < count * sizeof(Symbol); k += 8)
                    std::memcpy(toBytes + k, fromBytes + k, 8);
            } else {
                for (std::size_t k = 0; k < count; ++k)
                    to[k] = from[k];
            }
            at += count;
        }
        produced = at;
        position = bitAt;
        return Status::ReachedStop;
    }

    const std::uint8_t* m_in;
    std::uint64_t m_limit;
    Symbol* m_out;
    std::size_t m_capacity;
    std::size_t m_window;
    Huffman m_literals, m_distances, m_lengthCode;
};

constexpr std::uint64_t NoStop = ~std::uint64_t{0};

// The first bit position at or after `fromBit` where a dynamic or stored block header parses and
// decoding it and the next block (ConfirmBytes of output at least) goes without an error; counts the
// candidates.
struct Found {
    std::uint64_t bit = NoStop;
    std::size_t headers = 0;  // positions whose header parsed
    std::size_t rejected = 0; // of those, the ones the decoding after the header rejected
};

Found findBlockStart(const std::vector<std::uint8_t>& packed, std::size_t size, std::uint64_t fromBit,
                     std::uint64_t searchBits, std::vector<std::uint16_t>& scratch) {
    Found found;
    const std::uint64_t end = std::min<std::uint64_t>(fromBit + searchBits, std::uint64_t{size} * 8);
    Decoder<std::uint16_t> decoder(packed.data(), size, scratch.data(), scratch.size() - Padding, WindowSize);
    for (std::uint64_t bit = fromBit; bit < end; ++bit) {
        decoder.position = bit;
        if (!decoder.plausibleHeader())
            continue;
        ++found.headers;
        decoder.position = bit;
        decoder.produced = 0;
        const Status status = decoder.run(NoStop, true);
        if (status == Status::ReachedStop || status == Status::Final || status == Status::Full) {
            found.bit = bit;
            return found;
        }
        ++found.rejected;
    }
    return found;
}

struct Options {
    std::size_t mib = 256;
    std::size_t chunkKib = 1024;
    int runs = 5;
    std::string sources;
    std::string file;
};

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "usage: two_stage_inflate [--mib N] [--chunk-kib N] [--runs N] "
                                 "[--sources DIR] [--file FILE]\n");
            std::exit(2);
        }
        const char* value = argv[++i];
        if (arg == "--mib")
            options.mib = std::strtoul(value, nullptr, 10);
        else if (arg == "--chunk-kib")
            options.chunkKib = std::strtoul(value, nullptr, 10);
        else if (arg == "--runs")
            options.runs = std::atoi(value);
        else if (arg == "--sources")
            options.sources = value;
        else if (arg == "--file")
            options.file = value;
    }
    return options;
}

} // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    std::printf("load average at start: %s\n", loadAverage().c_str());

    std::vector<std::uint8_t> plain;
    if (!options.file.empty()) {
        std::ifstream file(options.file, std::ios::binary);
        plain.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    } else {
        plain = makeCorpus(options.mib << 20, options.sources);
    }
    std::vector<std::uint8_t> packed = rawDeflate(plain);
    const std::size_t packedSize = packed.size();
    packed.resize(packedSize + Padding, 0);
    const std::size_t size = plain.size();
    std::printf("output %zu bytes, stream %zu bytes (ratio %.2f)\n", size, packedSize,
                static_cast<double>(size) / static_cast<double>(packedSize));

    const Reference reference = isalInflate(packed, size, true);
    if (reference.output != plain)
        std::abort();

    // One-stage decode, recording the block starts.
    std::vector<BlockStart> starts;
    std::vector<std::uint8_t> bytes(size + Padding);
    {
        Decoder<std::uint8_t> decoder(packed.data(), packedSize, bytes.data(), size, 0);
        decoder.starts = &starts;
        if (decoder.run(NoStop) != Status::Final || decoder.produced != size ||
            !std::equal(plain.begin(), plain.end(), bytes.begin()))
            std::abort();
    }

    // Chunks: the first block start at or after every chunkKib of the stream.
    std::vector<BlockStart> chunks{starts.front()};
    const std::uint64_t chunkBits = std::uint64_t{options.chunkKib} * 1024 * 8;
    for (std::uint64_t target = chunkBits; target < std::uint64_t{packedSize} * 8; target += chunkBits) {
        const auto next =
            std::lower_bound(starts.begin(), starts.end(), target,
                             [](const BlockStart& s, std::uint64_t bit) { return s.bit < bit; });
        if (next != starts.end() && next->bit > chunks.back().bit)
            chunks.push_back(*next);
    }
    std::printf("%zu blocks (%.1f KiB of stream, %.1f KiB of output each), %zu chunks\n", starts.size(),
                static_cast<double>(packedSize) / 1024.0 / static_cast<double>(starts.size()),
                static_cast<double>(size) / 1024.0 / static_cast<double>(starts.size()), chunks.size());

    std::vector<std::uint16_t> symbols(size + Padding);
    std::vector<std::uint8_t> resolved(size + Padding);
    std::vector<std::uint16_t> scratch(8u << 20);
    std::vector<std::uint8_t> table(256 + WindowSize);
    for (unsigned value = 0; value < 256; ++value)
        table[value] = static_cast<std::uint8_t>(value);
    std::vector<double> isal, zlib, one, stage1, stage2, crc, combine, search;
    std::size_t markers = 0, headers = 0, rejected = 0, searches = 0, wrong = 0, equivalent = 0;
    double searchMax = 0;
    for (int run = 0; run < options.runs; ++run) {
        double start = cpuSeconds();
        const Reference timed = isalInflate(packed, size, false);
        isal.push_back(cpuSeconds() - start);
        if (timed.crc != reference.crc)
            std::abort();

        start = cpuSeconds();
        if (zlibInflate(packed) != size)
            std::abort();
        zlib.push_back(cpuSeconds() - start);

        start = cpuSeconds();
        {
            Decoder<std::uint8_t> decoder(packed.data(), packedSize, bytes.data(), size, 0);
            if (decoder.run(NoStop) != Status::Final || decoder.produced != size)
                std::abort();
        }
        one.push_back(cpuSeconds() - start);

        // Stage 1: every chunk alone, its end where the next one starts.
        start = cpuSeconds();
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            const std::uint64_t stop = i + 1 < chunks.size() ? chunks[i + 1].bit : NoStop;
            const std::size_t end = i + 1 < chunks.size() ? chunks[i + 1].output : size;
            const std::size_t length = end - chunks[i].output;
            Decoder<std::uint16_t> decoder(packed.data(), packedSize, symbols.data() + chunks[i].output,
                                           length, i == 0 ? 0 : WindowSize);
            decoder.position = chunks[i].bit;
            const Status status = decoder.run(stop);
            if (status != (i + 1 < chunks.size() ? Status::ReachedStop : Status::Final) ||
                decoder.produced != length)
                std::abort();
        }
        stage1.push_back(cpuSeconds() - start);

        // Stage 2, in chunk order: the window is the resolved end of the chunk before.
        start = cpuSeconds();
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            const std::size_t from = chunks[i].output;
            const std::size_t end = i + 1 < chunks.size() ? chunks[i + 1].output : size;
            // One table for both kinds of symbol: the 256 byte values, then the window.
            const std::size_t windowStart = from - std::min(from, WindowSize);
            std::copy(resolved.begin() + static_cast<std::ptrdiff_t>(windowStart),
                      resolved.begin() + static_cast<std::ptrdiff_t>(from), table.begin() + 256);
            const std::uint16_t* in = symbols.data();
            std::uint8_t* out = resolved.data();
            for (std::size_t k = from; k < end; ++k)
                out[k] = table[in[k]];
        }
        stage2.push_back(cpuSeconds() - start);

        start = cpuSeconds();
        std::vector<std::uint32_t> crcs;
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            const std::size_t end = i + 1 < chunks.size() ? chunks[i + 1].output : size;
            crcs.push_back(crc32_gzip_refl(0, resolved.data() + chunks[i].output, end - chunks[i].output));
        }
        crc.push_back(cpuSeconds() - start);
        start = cpuSeconds();
        uLong whole = 0;
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            const std::size_t end = i + 1 < chunks.size() ? chunks[i + 1].output : size;
            whole = crc32_combine(whole, crcs[i], static_cast<z_off_t>(end - chunks[i].output));
        }
        combine.push_back(cpuSeconds() - start);
        if (whole != reference.crc || !std::equal(plain.begin(), plain.end(), resolved.begin()))
            std::abort();

        // The block-start search from each chunk's byte offset; it must find the recorded start.
        for (std::size_t i = 1; i < chunks.size(); ++i) {
            const std::uint64_t fromBit = i * chunkBits;
            start = cpuSeconds();
            const Found found = findBlockStart(packed, packedSize, fromBit, 8u << 23, scratch);
            const double spent = cpuSeconds() - start;
            // A start a few bits early before a stored block, whose data begins at the same byte,
            // decodes the same: the bits skipped are the previous block's and read as zero headers.
            const std::uint64_t trueBit = chunks[i].bit;
            const bool storedAtSameByte = found.bit < trueBit &&
                                          (packed[(trueBit + 1) / 8] >> ((trueBit + 1) % 8) & 1) == 0 &&
                                          (packed[(trueBit + 2) / 8] >> ((trueBit + 2) % 8) & 1) == 0 &&
                                          (found.bit + 10) / 8 == (trueBit + 10) / 8;
            if (found.bit != trueBit && storedAtSameByte) {
                ++equivalent;
            } else if (found.bit != trueBit) {
                std::printf("chunk %zu: search from bit %llu found %llu, the block starts at %llu\n", i,
                            static_cast<unsigned long long>(fromBit),
                            static_cast<unsigned long long>(found.bit),
                            static_cast<unsigned long long>(chunks[i].bit));
                ++wrong;
            }
            search.push_back(spent);
            searchMax = std::max(searchMax, spent);
            headers += found.headers;
            rejected += found.rejected;
            ++searches;
        }
    }
    for (std::size_t i = 1; i < chunks.size(); ++i) {
        const std::size_t end = i + 1 < chunks.size() ? chunks[i + 1].output : size;
        for (std::size_t k = chunks[i].output; k < end; ++k)
            markers += symbols[k] >= 256;
    }

    const double gib = static_cast<double>(size) / GiB;
    const double floor = median(isal) / gib;
    auto line = [&](const char* name, const std::vector<double>& seconds) {
        const double perGib = median(seconds) / gib;
        std::printf("%-40s %8.3f CPU s/GiB  %6.2fx ISA-L\n", name, perGib, perGib / floor);
    };
    std::printf("median of %d interleaved runs, one thread:\n", options.runs);
    line("(a) ISA-L isal_inflate + crc32", isal);
    line("(b) zlib inflate", zlib);
    line("(c) own decoder, bytes, one stage", one);
    line("(d) stage 1, 16-bit symbols, no window", stage1);
    line("(e) stage 2, markers to bytes", stage2);
    line("    chunks' crc32 (ISA-L)", crc);
    std::printf("%-40s %8.3f ms for %zu chunks\n", "    crc32_combine", median(combine) * 1e3, chunks.size());
    std::printf("%-40s %8.3f ms median, %.3f ms max per chunk\n", "(f) block-start search",
                median(search) * 1e3, searchMax * 1e3);
    std::printf("    per search: %.1f headers parsed, %.1f of them rejected by decoding on; %zu of %zu "
                "searches found another start\n",
                static_cast<double>(headers) / static_cast<double>(searches),
                static_cast<double>(rejected) / static_cast<double>(searches), wrong, searches);
    std::printf("    %zu searches found a start up to 7 bits before a stored block, which decodes the same\n",
                equivalent);
    std::printf("markers: %zu of %zu symbols after the first chunk (%.4f %%)\n", markers,
                size - chunks[1].output,
                100.0 * static_cast<double>(markers) / static_cast<double>(size - chunks[1].output));
    std::printf("two-stage output equals ISA-L's, CRC-32 %08x equal\n", reference.crc);
    std::printf("load average at end: %s\n", loadAverage().c_str());
    return 0;
}
