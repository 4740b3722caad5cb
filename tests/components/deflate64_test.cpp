// The deflate64 inflater. Its plain deflate flavour shares every part but three table rows with
// Deflate64, so it is checked against zlib: on many streams zlib made, and on damaged copies of
// them, where both must accept and reject the same streams and agree on what they decode. The
// Deflate64 rows are checked on streams written bit by bit here that use long lengths and far
// distances, and through the whole component as zip method 9.

#include "codecs/own/deflate64_inflater.h"
#include "zip/zip_tester.h"
#include "zip_builder.h"

#include <QTest>

#include <zlib.h>

#include <random>

using namespace vellum;
using namespace vellum::testing;

namespace {

std::span<const std::uint8_t> asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Data of several kinds, so that streams hold stored, fixed and dynamic blocks, literals, short
// and long matches.
std::string sampleData(std::size_t length, unsigned seed, int kind) {
    std::mt19937 random(seed);
    std::string data(length, '\0');
    for (std::size_t index = 0; index < length; ++index) {
        switch (kind) {
        case 0: // noise: stored blocks or literal-only codes
            data[index] = static_cast<char>(random());
            break;
        case 1: // a small alphabet: short matches everywhere
            data[index] = static_cast<char>('a' + random() % 4);
            break;
        default: // runs and repeated phrases: long matches at every distance
            data[index] = index > 300 && random() % 8 != 0 ? data[index - 1 - random() % 300]
                                                           : static_cast<char>('A' + random() % 26);
            break;
        }
    }
    return data;
}

std::string zlibDeflate(std::string_view data, int level, int strategy, int memoryLevel) {
    z_stream stream{};
    deflateInit2(&stream, level, Z_DEFLATED, -15, memoryLevel, strategy);
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

struct Inflated {
    std::string output;
    bool finished = false;
};

// zlib's reading of a raw deflate stream: finished when it reached the end of the final block.
Inflated zlibInflate(std::string_view stream) {
    Inflated result;
    z_stream state{};
    inflateInit2(&state, -15);
    state.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
    state.avail_in = static_cast<uInt>(stream.size());
    std::string buffer(65536, '\0');
    for (;;) {
        state.next_out = reinterpret_cast<Bytef*>(buffer.data());
        state.avail_out = static_cast<uInt>(buffer.size());
        const int code = inflate(&state, Z_NO_FLUSH);
        result.output.append(buffer.data(), buffer.size() - state.avail_out);
        if (code == Z_STREAM_END)
            result.finished = true;
        if (code != Z_OK)
            break;
    }
    inflateEnd(&state);
    return result;
}

Inflated inflateWith(Deflate64Inflater& inflater, Deflate64Inflater::Flavor flavor, std::string_view stream,
                     std::size_t inputPiece, std::size_t outputPiece) {
    Inflated result;
    inflater.reset(flavor);
    std::span<const std::uint8_t> rest = asBytes(stream);
    for (;;) {
        std::span<const std::uint8_t> piece = rest.first(std::min(rest.size(), inputPiece));
        rest = rest.subspan(piece.size());
        const bool last = rest.empty();
        CodecStep step;
        do {
            step = inflater.inflate(piece, outputPiece);
            piece = piece.subspan(step.consumed);
            result.output.append(reinterpret_cast<const char*>(step.output.data()), step.output.size());
        } while (step.state == CodecState::OutputFull ||
                 (step.state == CodecState::NeedsInput && !piece.empty()));
        if (step.state == CodecState::Finished) {
            result.finished = true;
            return result;
        }
        if (step.state == CodecState::Damaged || last)
            return result;
    }
}

// Writes a deflate stream bit by bit: numbers least significant bit first, Huffman codes most
// significant bit first, as RFC 1951 packs them.
class BitWriter {
public:
    void bits(std::uint32_t value, int count) {
        for (int bit = 0; bit < count; ++bit)
            push((value >> bit) & 1u);
    }
    void code(std::uint32_t value, int length) {
        for (int bit = length - 1; bit >= 0; --bit)
            push((value >> bit) & 1u);
    }
    // The fixed literal/length code (RFC 1951, 3.2.6) and the fixed five-bit distance code.
    void fixedSymbol(unsigned symbol) {
        if (symbol < 144)
            code(0x30 + symbol, 8);
        else if (symbol < 256)
            code(0x190 + symbol - 144, 9);
        else if (symbol < 280)
            code(symbol - 256, 7);
        else
            code(0xC0 + symbol - 280, 8);
    }
    void fixedDistance(unsigned symbol) { code(symbol, 5); }
    void alignToByte() {
        while (m_count != 0)
            push(0);
    }
    void byte(std::uint8_t value) { bits(value, 8); }
    std::string finish() {
        alignToByte();
        return m_bytes;
    }

private:
    void push(std::uint32_t bit) {
        if (m_count == 0)
            m_bytes.push_back('\0');
        m_bytes.back() = static_cast<char>(static_cast<std::uint8_t>(m_bytes.back()) | bit << m_count);
        m_count = (m_count + 1) % 8;
    }

    std::string m_bytes;
    int m_count = 0;
};

// A Deflate64 stream that plain deflate cannot express: a stored block of 65535 bytes, then a
// fixed block with length code 285 carrying 16 extra bits and distance codes 30 and 31, up to the
// largest distance, 65536; the output wraps the inflater's ring. expected receives the output.
std::string deflate64Stream(std::string& expected) {
    BitWriter writer;
    const std::string stored = sampleData(65535, 9, 0);
    writer.bits(0, 1); // not final
    writer.bits(0, 2); // stored
    writer.alignToByte();
    writer.bits(65535, 16);
    writer.bits(0, 16);
    for (const char value : stored)
        writer.byte(static_cast<std::uint8_t>(value));
    expected = stored;
    writer.bits(1, 1); // final
    writer.bits(1, 2); // fixed codes
    auto match = [&](unsigned lengthSymbol, unsigned lengthExtraBits, unsigned lengthExtra, unsigned length,
                     unsigned distanceSymbol, unsigned distanceExtraBits, unsigned distanceExtra,
                     unsigned distance) {
        writer.fixedSymbol(lengthSymbol);
        writer.bits(lengthExtra, static_cast<int>(lengthExtraBits));
        writer.fixedDistance(distanceSymbol);
        writer.bits(distanceExtra, static_cast<int>(distanceExtraBits));
        for (unsigned index = 0; index < length; ++index)
            expected.push_back(expected[expected.size() - distance]);
    };
    match(285, 16, 1000, 1003, 31, 14, 16382, 65535);
    match(285, 16, 65535, 65538, 30, 14, 100, 32869);
    match(257, 0, 0, 3, 0, 0, 0, 1);
    writer.fixedSymbol('Z');
    expected.push_back('Z');
    match(285, 16, 0, 3, 31, 14, 16383, 65536);
    match(284, 5, 30, 257, 4, 1, 1, 6);
    writer.fixedSymbol(256);
    return writer.finish();
}

} // namespace

class Deflate64Test : public QObject {
    Q_OBJECT

private slots:
    void deflateFlavourMatchesZlib_data();
    void deflateFlavourMatchesZlib();
    void deflateFlavourAgreesWithZlibOnDamage();
    void deflate64RowsDecode_data();
    void deflate64RowsDecode();
    void deflate64StreamVerifiesAsMethod9();
    void handWrittenStreams_data();
    void handWrittenStreams();
};

void Deflate64Test::deflateFlavourMatchesZlib_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("strategy");
    const std::pair<const char*, int> strategies[] = {{"default", Z_DEFAULT_STRATEGY},
                                                      {"filtered", Z_FILTERED},
                                                      {"huffman only", Z_HUFFMAN_ONLY},
                                                      {"rle", Z_RLE},
                                                      {"fixed", Z_FIXED}};
    for (const int kind : {0, 1, 2}) {
        // 300000 bytes wrap the inflater's ring twice.
        for (const int length : {0, 1, 1000, 100000, 300000}) {
            for (const int level : {0, 1, 6, 9}) {
                for (const auto& [name, strategy] : strategies) {
                    if (level == 0 && strategy != Z_DEFAULT_STRATEGY)
                        continue;
                    QTest::newRow(qPrintable(QStringLiteral("kind %1, %2 bytes, level %3, %4")
                                                 .arg(kind)
                                                 .arg(length)
                                                 .arg(level)
                                                 .arg(QLatin1String(name))))
                        << kind << length << level << strategy;
                }
            }
        }
    }
}

void Deflate64Test::deflateFlavourMatchesZlib() {
    QFETCH(int, kind);
    QFETCH(int, length);
    QFETCH(int, level);
    QFETCH(int, strategy);
    const std::string data =
        sampleData(static_cast<std::size_t>(length), static_cast<unsigned>(length + level), kind);
    const std::string stream = zlibDeflate(data, level, strategy, 1 + (length + level) % 9);
    QVERIFY(zlibInflate(stream).output == data);
    Deflate64Inflater inflater;
    std::mt19937 random(static_cast<unsigned>(length * 31 + level));
    for (int round = 0; round < 3; ++round) {
        const std::size_t inputPiece =
            round == 0 ? stream.size() + 1 : 1 + random() % (round == 1 ? 3 : 5000);
        const std::size_t outputPiece = round == 0 ? 1 << 20 : 1 + random() % (round == 1 ? 70000 : 3);
        const Inflated inflated =
            inflateWith(inflater, Deflate64Inflater::Flavor::Deflate, stream, inputPiece, outputPiece);
        QVERIFY(inflated.finished);
        QVERIFY(inflated.output == data);
    }
}

// Damaged copies of zlib's streams: bit flips, cut ends, and both. zlib and the inflater must
// reach the same verdict and, when they accept a stream, the same output.
void Deflate64Test::deflateFlavourAgreesWithZlibOnDamage() {
    std::mt19937 random(20240601);
    Deflate64Inflater inflater;
    int accepted = 0;
    for (int iteration = 0; iteration < 3000; ++iteration) {
        const int kind = iteration % 3;
        const std::string data = sampleData(200 + random() % 6000, static_cast<unsigned>(iteration), kind);
        const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE};
        std::string stream = zlibDeflate(data, static_cast<int>(random() % 10), strategies[random() % 4], 8);
        const int flips = static_cast<int>(random() % 4);
        for (int flip = 0; flip < flips; ++flip)
            stream[random() % stream.size()] ^= static_cast<char>(1u << (random() % 8));
        if (random() % 4 == 0)
            stream.resize(random() % stream.size());
        const Inflated reference = zlibInflate(stream);
        const std::size_t inputPiece = iteration % 7 == 0 ? 1 : 1 << 20;
        const Inflated inflated =
            inflateWith(inflater, Deflate64Inflater::Flavor::Deflate, stream, inputPiece, 4096);
        QVERIFY2(inflated.finished == reference.finished,
                 qPrintable(QStringLiteral("iteration %1").arg(iteration)));
        if (reference.finished) {
            ++accepted;
            QVERIFY(inflated.output == reference.output);
        }
    }
    // The mix must hold both verdicts in good numbers for the comparison to mean anything.
    QVERIFY2(accepted > 300 && accepted < 2700, qPrintable(QString::number(accepted)));
}

void Deflate64Test::deflate64RowsDecode_data() {
    QTest::addColumn<int>("inputPiece");
    QTest::addColumn<int>("outputPiece");
    QTest::newRow("whole") << (1 << 20) << (1 << 20);
    QTest::newRow("one byte in") << 1 << (1 << 20);
    QTest::newRow("one byte out") << (1 << 20) << 1;
    QTest::newRow("odd pieces") << 13 << 4099;
}

void Deflate64Test::deflate64RowsDecode() {
    QFETCH(int, inputPiece);
    QFETCH(int, outputPiece);
    std::string expected;
    const std::string stream = deflate64Stream(expected);
    Deflate64Inflater inflater;
    const Inflated inflated =
        inflateWith(inflater, Deflate64Inflater::Flavor::Deflate64, stream,
                    static_cast<std::size_t>(inputPiece), static_cast<std::size_t>(outputPiece));
    QVERIFY(inflated.finished);
    QCOMPARE(inflated.output.size(), expected.size());
    QVERIFY(inflated.output == expected);
    // Read as plain deflate, the same bits mean something else and cannot give the same output.
    const Inflated asDeflate =
        inflateWith(inflater, Deflate64Inflater::Flavor::Deflate, stream, 1 << 20, 1 << 20);
    QVERIFY(!(asDeflate.finished && asDeflate.output == expected));
}

void Deflate64Test::deflate64StreamVerifiesAsMethod9() {
    std::string expected;
    ZipBuilderEntry entry{"far.bin", {}, 9};
    entry.compressedData = deflate64Stream(expected);
    entry.data = expected;
    const BuiltZip good = buildZip({entry});
    ZipTester tester;
    QCOMPARE(int{tester.verifyBytes(asBytes(good.bytes))}, int{ZipResult::Verified});
    // One byte of the output changed: the CRC-32 no longer matches.
    entry.data[70000] ^= 1;
    QCOMPARE(int{tester.verifyBytes(asBytes(buildZip({entry}).bytes))}, int{ZipResult::DataMismatch});
    // Junk after the final block.
    entry.data = expected;
    *entry.compressedData += "junk";
    QCOMPARE(int{tester.verifyBytes(asBytes(buildZip({entry}).bytes))}, int{ZipResult::StreamDamaged});
}

void Deflate64Test::handWrittenStreams_data() {
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<bool>("deflate64");
    QTest::addColumn<bool>("finished");
    QTest::addColumn<QByteArray>("output");
    auto row = [](const char* name, BitWriter& writer, bool deflate64, bool finished,
                  const QByteArray& output) {
        const std::string bytes = writer.finish();
        QTest::newRow(name) << QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())) << deflate64
                            << finished << output;
    };
    for (const bool deflate64 : {false, true}) {
        BitWriter reserved;
        reserved.bits(1, 1);
        reserved.bits(3, 2);
        row(deflate64 ? "reserved block type, deflate64" : "reserved block type", reserved, deflate64, false,
            {});

        BitWriter badStored;
        badStored.bits(1, 3);
        badStored.alignToByte();
        badStored.bits(3, 16);
        badStored.bits(0x1234, 16);
        row(deflate64 ? "stored length mismatch, deflate64" : "stored length mismatch", badStored, deflate64,
            false, {});

        BitWriter tooFar;
        tooFar.bits(1, 1);
        tooFar.bits(1, 2);
        tooFar.fixedSymbol('a');
        tooFar.fixedSymbol(257);
        tooFar.fixedDistance(1); // distance 2, one byte written
        tooFar.fixedSymbol(256);
        row(deflate64 ? "distance before the start, deflate64" : "distance before the start", tooFar,
            deflate64, false, {});

        BitWriter symbol286;
        symbol286.bits(1, 1);
        symbol286.bits(1, 2);
        symbol286.fixedSymbol(286);
        row(deflate64 ? "length symbol 286, deflate64" : "length symbol 286", symbol286, deflate64, false,
            {});
    }
    // Length code 285 is 258 in deflate and takes 16 extra bits in Deflate64.
    BitWriter long285;
    long285.bits(1, 1);
    long285.bits(1, 2);
    long285.fixedSymbol('a');
    long285.fixedSymbol(285);
    long285.fixedDistance(0);
    long285.fixedSymbol(256);
    row("length code 285 in deflate", long285, false, true, QByteArray(259, 'a'));
    BitWriter long285With64;
    long285With64.bits(1, 1);
    long285With64.bits(1, 2);
    long285With64.fixedSymbol('a');
    long285With64.fixedSymbol(285);
    long285With64.bits(997, 16);
    long285With64.fixedDistance(0);
    long285With64.fixedSymbol(256);
    row("length code 285 in deflate64", long285With64, true, true, QByteArray(1001, 'a'));
    // Distance codes 30 and 31 do not exist in deflate.
    BitWriter distance30;
    distance30.bits(1, 1);
    distance30.bits(1, 2);
    distance30.fixedSymbol('a');
    distance30.fixedSymbol(257);
    distance30.fixedDistance(30);
    row("distance code 30 in deflate", distance30, false, false, {});
    // A dynamic block with 32 distance codes: too many for deflate.
    BitWriter manyDistances;
    manyDistances.bits(1, 1);
    manyDistances.bits(2, 2);
    manyDistances.bits(0, 5);
    manyDistances.bits(31, 5);
    manyDistances.bits(0, 4);
    row("32 distance codes in deflate", manyDistances, false, false, {});
}

void Deflate64Test::handWrittenStreams() {
    QFETCH(QByteArray, stream);
    QFETCH(bool, deflate64);
    QFETCH(bool, finished);
    QFETCH(QByteArray, output);
    const std::string bytes(stream.constData(), static_cast<std::size_t>(stream.size()));
    const auto flavor = deflate64 ? Deflate64Inflater::Flavor::Deflate64 : Deflate64Inflater::Flavor::Deflate;
    Deflate64Inflater inflater;
    for (const std::size_t piece : {std::size_t{1}, std::size_t{1} << 20}) {
        const Inflated inflated = inflateWith(inflater, flavor, bytes, piece, 1 << 20);
        QCOMPARE(inflated.finished, finished);
        if (finished)
            QCOMPARE(QByteArray::fromStdString(inflated.output), output);
        if (!deflate64 && piece == 1)
            QCOMPARE(zlibInflate(bytes).finished, finished);
    }
}

QTEST_GUILESS_MAIN(Deflate64Test)
#include "deflate64_test.moc"
