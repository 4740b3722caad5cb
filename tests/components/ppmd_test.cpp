// The PPMd variant I decoder (zip method 98) against archives made by 7-Zip and by the Rust zip
// crate: exact output with and without 7-Zip's end marker, input and output cut into any pieces,
// a model memory above the cap, models that restart or are cut back when their memory runs out,
// the freezing restoration it does not reproduce, and damaged or truncated streams, which must
// never crash, hang or pass as good.

#include "codecs/own/ppmd_codec.h"

#include "codec_driver.h"
#include "method_samples.h"
#include "zip/zip_result.h"
#include "zip/zip_tester.h"
#include "zip_builder.h"

#include <QTest>

#include <array>
#include <random>
#include <span>

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

// The samples whose model is cut back (restoration method 1) when its memory runs out: once in the
// first, several times in the others (see the samples' README).
constexpr std::array<const char*, 3> CutOffSamples = {
    "ppmd-o16-1m-cutoff.zip", "ppmd-o16-1m-cutoff-words.zip", "ppmd-o10-1m-cutoff-mixed.zip"};

// Every sample: models that never run out of memory, restart when they do, or are cut back.
void addDecodableRows() {
    QTest::addColumn<QString>("name");
    for (const char* name : {"ppmd.zip", "ppmd-o6-16m.zip", "ppmd-o2-1m.zip", "ppmd-o16-64m.zip",
                             "ppmd-o8-bytes.zip", "ppmd-o16-1m-restart.zip"})
        QTest::newRow(name) << QString::fromLatin1(name);
    for (const char* name : CutOffSamples)
        QTest::newRow(name) << QString::fromLatin1(name);
}

void addCutOffRows() {
    QTest::addColumn<QString>("name");
    for (const char* name : CutOffSamples)
        QTest::newRow(name) << QString::fromLatin1(name);
}

// The stream with its restoration method (bits 12-15 of the parameter word) replaced.
std::string withRestoreMethod(std::string stream, unsigned method) {
    stream[1] = static_cast<char>((static_cast<std::uint8_t>(stream[1]) & 0x0F) | (method << 4));
    return stream;
}

// The whole archive with three bytes of its entry's data inverted at the given fraction of the
// data: far past the first restorations in the cut-off samples.
std::string damagedLate(const std::string& zip, const Sample& sample, double fraction) {
    std::string damaged = zip;
    const std::size_t data = 30u + readLe16(zip, 26) + readLe16(zip, 28);
    const auto at = data + static_cast<std::size_t>(static_cast<double>(sample.stream.size()) * fraction);
    for (std::size_t index = at; index < at + 3; ++index)
        damaged[index] = static_cast<char>(~damaged[index]);
    return damaged;
}

std::span<const std::uint8_t> asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
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
    void cutOffSamplesRunOutOfMemory_data() { addCutOffRows(); }
    void cutOffSamplesRunOutOfMemory();
    void freezeRestorationIsUnsupported();
    void lateDamageAfterCutOffsIsBad_data() { addCutOffRows(); }
    void lateDamageAfterCutOffsIsBad();
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
    for (const char* name :
         {"ppmd.zip", "ppmd-o6-16m.zip", "ppmd-o8-bytes.zip", "ppmd-o10-1m-cutoff-mixed.zip"}) {
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

// The cut-off samples really run out of memory: read as if written with restarts (method 0), the
// same stream goes astray after the first restoration, and the decoder never calls it good.
void PpmdTest::cutOffSamplesRunOutOfMemory() {
    QFETCH(QString, name);
    const Sample sample = readSample(name);
    QCOMPARE(static_cast<std::uint8_t>(sample.stream[1]) >> 4, 1);
    std::vector<std::uint8_t> buffer(64 * 1024);
    PpmdCodec codec(buffer);
    const Decoded exact = decodeInPieces(codec, sample.entry, sample.stream, 4096, 4096);
    QVERIFY(exact.good(sample));
    const Decoded restarted =
        decodeInPieces(codec, sample.entry, withRestoreMethod(sample.stream, 0), 4096, 4096);
    QVERIFY(!restarted.hung);
    QVERIFY(!restarted.good(sample));
    QVERIFY(restarted.output != exact.output);
}

// Freezing (method 2) is not reproduced. The cut-off sample patched to ask for it decodes exactly
// up to where its memory first runs out, after some 46,000 symbols; from there on the entry is
// unverifiable, never damaged.
void PpmdTest::freezeRestorationIsUnsupported() {
    const Sample sample = readSample(QStringLiteral("ppmd-o16-1m-cutoff.zip"));
    std::vector<std::uint8_t> buffer(64 * 1024);
    PpmdCodec codec(buffer);
    const Decoded expected = decodeInPieces(codec, sample.entry, sample.stream, 4096, 4096);
    QVERIFY(expected.good(sample));
    const Decoded decoded =
        decodeInPieces(codec, sample.entry, withRestoreMethod(sample.stream, 2), 4096, 4096);
    QCOMPARE(decoded.state, CodecState::Unsupported);
    QVERIFY(decoded.output.size() > 40000);
    QVERIFY(decoded.output == expected.output.substr(0, decoded.output.size()));
}

// Bytes inverted late in a cut-off sample's data, after its model has been cut back, make the
// archive bad: the decoder keeps in step with the writer's model through every cut-off, so the
// damage shows, and everything before it decodes as the writer wrote it.
void PpmdTest::lateDamageAfterCutOffsIsBad() {
    QFETCH(QString, name);
    const std::string zip = readMethodSample(name);
    const Sample sample = readSample(name);
    std::vector<std::uint8_t> buffer(64 * 1024);
    PpmdCodec codec(buffer);
    const Decoded original = decodeInPieces(codec, sample.entry, sample.stream, 4096, 4096);
    QVERIFY(original.good(sample));
    // Where the memory first runs out: there a stream patched to ask for freezing stops.
    const Decoded frozen =
        decodeInPieces(codec, sample.entry, withRestoreMethod(sample.stream, 2), 4096, 4096);
    QCOMPARE(frozen.state, CodecState::Unsupported);
    for (const double fraction : {0.9, 0.95, 0.99}) {
        const std::string damaged = damagedLate(zip, sample, fraction);
        const std::size_t data = 30u + readLe16(zip, 26) + readLe16(zip, 28);
        const std::string_view stream = std::string_view(damaged).substr(data, sample.stream.size());
        const Decoded whole = decodeInPieces(codec, sample.entry, stream, stream.size(), 4096);
        const Decoded pieces = decodeInPieces(codec, sample.entry, stream, 5, 777);
        QVERIFY(!whole.hung && !pieces.hung);
        QVERIFY(!whole.good(sample));
        QCOMPARE(pieces.state, whole.state);
        QVERIFY(pieces.output == whole.output);
        // The output agrees with the original past the first cut-off, up to near the damage.
        std::size_t same = 0;
        while (same < whole.output.size() && same < original.output.size() &&
               whole.output[same] == original.output[same])
            ++same;
        QVERIFY2(same > frozen.output.size() && same > original.output.size() / 2,
                 qPrintable(QStringLiteral("%1 %2").arg(same).arg(frozen.output.size())));

        ZipTester tester;
        QCOMPARE(tester.probeBytes(asBytes(damaged)), ZipResult::Sound);
        const std::int16_t verify = tester.verifyBytes(asBytes(damaged));
        QVERIFY2(verify == ZipResult::DataMismatch || verify == ZipResult::StreamDamaged,
                 qPrintable(QString::number(verify)));
    }
}

void PpmdTest::damageIsNeverGood_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("flips");
    QTest::newRow("ipsum") << QStringLiteral("ppmd.zip") << 1000;
    QTest::newRow("order-6") << QStringLiteral("ppmd-o6-16m.zip") << 800;
    QTest::newRow("bytes") << QStringLiteral("ppmd-o8-bytes.zip") << 800;
    QTest::newRow("cut-off") << QStringLiteral("ppmd-o10-1m-cutoff-mixed.zip") << 40;
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
