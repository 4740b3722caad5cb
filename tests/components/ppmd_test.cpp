// The PPMd variant I decoder (zip method 98) against archives made by 7-Zip and by the Rust zip
// crate: exact output with and without 7-Zip's end marker, input and output cut into any pieces,
// a model memory above the cap, the cut-off restoration it does not reproduce, and damaged or
// truncated streams, which must never crash, hang or pass as good.

#include "ppmd_codec.h"

#include "codec_driver.h"
#include "method_samples.h"
#include "zip_builder.h"

#include <QTest>

#include <random>

using namespace vellum;
using namespace vellum::testing;

namespace {

// The one entry of a sample archive, taken from its local header.
struct Sample {
    CodecEntry entry;
    std::uint32_t crc = 0;
    std::string stream;
};

Sample readSample(const QString& name) {
    const std::string zip = readMethodSample(name);
    Sample sample;
    sample.entry.method = readLe16(zip, 8);
    sample.entry.flags = readLe16(zip, 6);
    sample.crc = readLe32(zip, 14);
    sample.entry.compressedSize = readLe32(zip, 18);
    sample.entry.uncompressedSize = readLe32(zip, 22);
    const std::size_t data = 30u + readLe16(zip, 26) + readLe16(zip, 28);
    sample.stream = zip.substr(data, sample.entry.compressedSize);
    return sample;
}

// The samples whose model either never runs out of memory or restarts when it does.
void addDecodableRows() {
    QTest::addColumn<QString>("name");
    for (const char* name : {"ppmd.zip", "ppmd-o6-16m.zip", "ppmd-o2-1m.zip", "ppmd-o16-64m.zip",
                             "ppmd-o8-bytes.zip", "ppmd-o16-1m-restart.zip"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

} // namespace

class PpmdTest : public QObject {
    Q_OBJECT

private slots:
    void samplesDecodeExactly_data() { addDecodableRows(); }
    void samplesDecodeExactly();
    void piecesMatchWhole_data();
    void piecesMatchWhole();
    void bytesAfterTheEndMarkStayUnused();
    void largeModelIsAskedForFirst();
    void cutOffRestorationIsUnsupported();
    void damageIsNeverGood_data();
    void damageIsNeverGood();
    void truncationIsNeverGood();
};

// Each sample gives its bytes back, the end marker of 7-Zip's streams included in the stream.
void PpmdTest::samplesDecodeExactly() {
    QFETCH(QString, name);
    const Sample sample = readSample(name);
    QCOMPARE(sample.entry.method, std::uint16_t{98});
    std::vector<std::uint8_t> buffer(64 * 1024);
    PpmdCodec codec(buffer);
    const Decoded decoded = decodeInPieces(codec, sample.entry, sample.stream, sample.stream.size(), 4096);
    QCOMPARE(decoded.state, CodecState::Finished);
    QCOMPARE(decoded.unused, std::size_t{0});
    QCOMPARE(decoded.output.size(), sample.entry.uncompressedSize);
    QCOMPARE(crc32Of(decoded.output), sample.crc);
}

void PpmdTest::piecesMatchWhole_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("inputPiece");
    QTest::addColumn<int>("outputPiece");
    for (const char* name : {"ppmd.zip", "ppmd-o6-16m.zip", "ppmd-o8-bytes.zip"}) {
        QTest::addRow("%s-1-1", name) << QString::fromLatin1(name) << 1 << 1;
        QTest::addRow("%s-1-4096", name) << QString::fromLatin1(name) << 1 << 4096;
        QTest::addRow("%s-7-3", name) << QString::fromLatin1(name) << 7 << 3;
        QTest::addRow("%s-300-1", name) << QString::fromLatin1(name) << 300 << 1;
    }
}

// One codec reused for every entry, fed in any pieces, gives what one call over the whole gives.
void PpmdTest::piecesMatchWhole() {
    QFETCH(QString, name);
    QFETCH(int, inputPiece);
    QFETCH(int, outputPiece);
    const Sample sample = readSample(name);
    std::vector<std::uint8_t> buffer(64 * 1024);
    PpmdCodec codec(buffer);
    const Decoded whole =
        decodeInPieces(codec, sample.entry, sample.stream, sample.stream.size(), buffer.size());
    QVERIFY(whole.good(sample));
    const Decoded pieces =
        decodeInPieces(codec, sample.entry, sample.stream, static_cast<std::size_t>(inputPiece),
                       static_cast<std::size_t>(outputPiece));
    QVERIFY(!pieces.hung);
    QVERIFY(pieces.good(sample));
    QVERIFY(pieces.output == whole.output);
}

// Whatever follows the end marker is not part of the stream: the verifier judges it as junk.
void PpmdTest::bytesAfterTheEndMarkStayUnused() {
    Sample sample = readSample(QStringLiteral("ppmd-o6-16m.zip"));
    sample.stream += "JUNK";
    sample.entry.compressedSize = sample.stream.size();
    std::vector<std::uint8_t> buffer(64 * 1024);
    PpmdCodec codec(buffer);
    const Decoded decoded = decodeInPieces(codec, sample.entry, sample.stream, 5, 4096);
    QCOMPARE(decoded.state, CodecState::Finished);
    QCOMPARE(decoded.unused, std::size_t{4});
    QCOMPARE(crc32Of(decoded.output), sample.crc);
}

// A parameter word asking for 256 MiB over a stream whose model never fills even 16 MiB: the
// decoder asks for the whole model before it takes it, and the model decodes in it. Only the pages
// the model uses are touched, however much it declares.
void PpmdTest::largeModelIsAskedForFirst() {
    Sample sample = readSample(QStringLiteral("ppmd-o6-16m.zip"));
    const unsigned word = static_cast<std::uint8_t>(sample.stream[0]) |
                          static_cast<unsigned>(static_cast<std::uint8_t>(sample.stream[1])) << 8;
    const unsigned larger = (word & 0xF00F) | (0xFFu << 4);
    sample.stream[0] = static_cast<char>(larger & 0xFF);
    sample.stream[1] = static_cast<char>(larger >> 8);
    std::vector<std::uint8_t> buffer(64 * 1024);
    PpmdCodec codec(buffer);
    QVERIFY(codec.reset(sample.entry));
    const CodecStep step = codec.decode(
        std::span(reinterpret_cast<const std::uint8_t*>(sample.stream.data()), sample.stream.size()), 4096);
    QCOMPARE(step.state, CodecState::NeedsMemory);
    QVERIFY(step.memoryNeeded >= std::uint64_t{256} << 20);
    QVERIFY(step.output.empty());
    QVERIFY(decodeInPieces(codec, sample.entry, sample.stream, 1000, 4096).good(sample));
}

// The cut-off sample's model runs out of memory after some 46,000 symbols. Up to there the output
// is exact; from there on the entry is unverifiable, never damaged.
void PpmdTest::cutOffRestorationIsUnsupported() {
    const Sample cutOff = readSample(QStringLiteral("ppmd-o16-1m-cutoff.zip"));
    const Sample restart = readSample(QStringLiteral("ppmd-o16-1m-restart.zip"));
    std::vector<std::uint8_t> buffer(64 * 1024);
    PpmdCodec codec(buffer);
    const Decoded expected = decodeInPieces(codec, restart.entry, restart.stream, 4096, 4096);
    QVERIFY(expected.good(restart));
    const Decoded decoded = decodeInPieces(codec, cutOff.entry, cutOff.stream, 4096, 4096);
    QCOMPARE(decoded.state, CodecState::Unsupported);
    QVERIFY(decoded.output.size() > 40000);
    QVERIFY(decoded.output == expected.output.substr(0, decoded.output.size()));
}

void PpmdTest::damageIsNeverGood_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("flips");
    QTest::newRow("ipsum") << QStringLiteral("ppmd.zip") << 1000;
    QTest::newRow("order-6") << QStringLiteral("ppmd-o6-16m.zip") << 800;
    QTest::newRow("bytes") << QStringLiteral("ppmd-o8-bytes.zip") << 800;
}

// Random bit flips anywhere in the stream, the parameter word included. Fed whole or in small
// pieces the decoder must say the same, and it may call the entry good only when the flip did not
// change what it decodes (the last bytes of the coder's flush carry no symbol).
void PpmdTest::damageIsNeverGood() {
    QFETCH(QString, name);
    QFETCH(int, flips);
    const Sample sample = readSample(name);
    std::vector<std::uint8_t> buffer(64 * 1024);
    PpmdCodec codec(buffer);
    const Decoded original = decodeInPieces(codec, sample.entry, sample.stream, sample.stream.size(), 4096);
    QVERIFY(original.good(sample));
    std::mt19937 random(static_cast<unsigned>(flips));
    for (int flip = 0; flip < flips; ++flip) {
        std::string stream = sample.stream;
        const std::size_t bit = random() % (stream.size() * 8);
        stream[bit / 8] = static_cast<char>(stream[bit / 8] ^ (1 << (bit % 8)));
        const Decoded whole = decodeInPieces(codec, sample.entry, stream, stream.size(), 4096);
        const Decoded pieces = decodeInPieces(codec, sample.entry, stream, 3, 1000);
        QVERIFY(!whole.hung && !pieces.hung);
        QCOMPARE(pieces.state, whole.state);
        QVERIFY(pieces.output == whole.output);
        if (whole.good(sample))
            QVERIFY(whole.output == original.output);
    }
}

// Every cut of a stream short of its end, with the entry's sizes saying so, fails to give the
// entry back. Only a cut inside 7-Zip's end marker and final flush may leave every symbol intact,
// which then reads as a stream written without the marker.
void PpmdTest::truncationIsNeverGood() {
    const Sample sample = readSample(QStringLiteral("ppmd-o6-16m.zip"));
    std::vector<std::uint8_t> buffer(64 * 1024);
    PpmdCodec codec(buffer);
    for (std::size_t length = 0; length < sample.stream.size(); length += 1 + length / 16) {
        CodecEntry shorter = sample.entry;
        shorter.compressedSize = length;
        const Decoded decoded =
            decodeInPieces(codec, shorter, std::string_view(sample.stream).substr(0, length), 7, 4096);
        QVERIFY(!decoded.hung);
        if (decoded.good(sample))
            QVERIFY(length + 6 > sample.stream.size());
    }
}

QTEST_GUILESS_MAIN(PpmdTest)
#include "ppmd_test.moc"
