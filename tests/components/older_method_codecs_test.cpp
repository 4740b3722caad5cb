// The decoders of the older methods (Shrink, Reduce, Implode): the sample archives made by other
// writers, streams of every variant made by the test writers in older_method_encoders.h, input and output
// cut into any pieces, and damaged streams, which must never crash, hang or pass as good. Also the
// PPMd samples, which must never be judged damaged.

#include "codec_driver.h"
#include "codecs/own/implode_codec.h"
#include "codecs/own/reduce_codec.h"
#include "codecs/own/shrink_codec.h"
#include "zip/zip_tester.h"

#include "method_samples.h"
#include "older_method_encoders.h"
#include "zip_builder.h"

#include <QTest>

#include <memory>
#include <random>

using namespace vellum;
using namespace vellum::testing;

namespace {

struct StreamEntry {
    CodecEntry entry;
    std::uint32_t crc = 0;
    std::uint64_t dataOffset = 0;
};

std::span<const std::uint8_t> asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The entries of an archive without an archive comment, as its central directory lists them.
std::vector<StreamEntry> entriesOf(const std::string& zip) {
    const std::uint64_t end = zip.size() - 22;
    std::vector<StreamEntry> entries;
    if (zip.size() < 22 || readLe32(zip, end) != 0x06054b50)
        return entries;
    std::uint64_t record = readLe32(zip, end + EndRecordField::DirectoryOffset);
    for (unsigned index = 0; index < readLe16(zip, end + EndRecordField::Entries); ++index) {
        StreamEntry item;
        item.entry.method = readLe16(zip, record + CentralHeaderField::Method);
        item.entry.flags = readLe16(zip, record + CentralHeaderField::Flags);
        item.entry.compressedSize = readLe32(zip, record + CentralHeaderField::CompressedSize);
        item.entry.uncompressedSize = readLe32(zip, record + CentralHeaderField::UncompressedSize);
        item.crc = readLe32(zip, record + CentralHeaderField::Crc);
        const std::uint64_t local = readLe32(zip, record + CentralHeaderField::LocalHeaderOffset);
        item.dataOffset = local + LocalHeaderField::Name +
                          readLe16(zip, local + LocalHeaderField::NameLength) +
                          readLe16(zip, local + LocalHeaderField::ExtraLength);
        entries.push_back(item);
        record += CentralHeaderField::Name + readLe16(zip, record + CentralHeaderField::NameLength) +
                  readLe16(zip, record + CentralHeaderField::ExtraLength) +
                  readLe16(zip, record + CentralHeaderField::CommentLength);
    }
    return entries;
}

std::unique_ptr<ZipCodec> makeCodec(std::uint16_t method, std::span<std::uint8_t> buffer) {
    if (method == 1)
        return std::make_unique<ShrinkCodec>(buffer);
    if (method >= 2 && method <= 5)
        return std::make_unique<ReduceCodec>(buffer);
    if (method == 6)
        return std::make_unique<ImplodeCodec>(buffer);
    return nullptr;
}

// A file of text-like lines with repeats near and far, so that every coding path is taken.
std::string sampleText(std::size_t length, unsigned seed) {
    static const char* const words[] = {
        "archive", "entry",  "header",   "central", "directory", "tester",   "deflate",    "shrink", "reduce",
        "implode", "window", "follower", "\x90",    "\x90\x90",  "\xff\xfe", "0123456789", "\t",     "\n"};
    std::mt19937 random(seed);
    std::string text;
    while (text.size() < length) {
        if (random() % 9 == 0 && text.size() > 600) {
            // A long repeat, sometimes far back, for matches that need the extra length byte.
            const std::size_t from = random() % (text.size() - 500);
            text += text.substr(from, 40 + random() % 400);
        } else if (random() % 5 == 0) {
            text += static_cast<char>(random() % 256);
        } else {
            text += words[random() % std::size(words)];
            text += ' ';
        }
    }
    text.resize(length);
    return text;
}

std::string zipOf(const std::string& data, std::uint16_t method, int flags, const std::string& stream) {
    ZipBuilderEntry entry;
    entry.name = "data.bin";
    entry.data = data;
    entry.method = method;
    entry.extraFlags = static_cast<std::uint16_t>(flags);
    entry.compressedData = stream;
    return buildZip({entry}).bytes;
}

// The archives every test runs over: the samples, then one of each variant from the test writers.
void addArchiveRows() {
    QTest::addColumn<QByteArray>("archive");
    for (const char* name : {"shrink.zip", "reduce-4.zip", "implode-4k-2trees.zip"})
        QTest::newRow(name) << QByteArray::fromStdString(readMethodSample(name));
    const std::string text = sampleText(6000, 1);
    QTest::newRow("shrink-written") << QByteArray::fromStdString(zipOf(text, 1, 0, shrinkEncode(text)));
    for (int factor = 1; factor <= 4; ++factor) {
        QTest::newRow(qPrintable(QStringLiteral("reduce-%1-written").arg(factor)))
            << QByteArray::fromStdString(
                   zipOf(text, static_cast<std::uint16_t>(1 + factor), 0, reduceEncode(text, factor)));
    }
    for (const bool largeWindow : {false, true}) {
        for (const bool literalTree : {false, true}) {
            QTest::newRow(qPrintable(QStringLiteral("implode-%1-%2-written")
                                         .arg(largeWindow ? "8k" : "4k", literalTree ? "3trees" : "2trees")))
                << QByteArray::fromStdString(zipOf(text, 6, implodeFlags(largeWindow, literalTree),
                                                   implodeEncode(text, largeWindow, literalTree)));
        }
    }
}

} // namespace

class OlderMethodCodecsTest : public QObject {
    Q_OBJECT

private slots:
    void archivesVerify_data() { addArchiveRows(); }
    void archivesVerify();
    void piecesMatchWhole_data() { addArchiveRows(); }
    void piecesMatchWhole();
    void shrinkWidensAndClears();
    void reduceAndImplodeLongData_data();
    void reduceAndImplodeLongData();
    void damageIsNeverGood_data() { addArchiveRows(); }
    void damageIsNeverGood();
    void truncationIsNeverGood_data() { addArchiveRows(); }
    void truncationIsNeverGood();
    void ppmdSamplesAreNeverDamaged_data();
    void ppmdSamplesAreNeverDamaged();
};

void OlderMethodCodecsTest::archivesVerify() {
    QFETCH(QByteArray, archive);
    ZipTester tester;
    const auto bytes =
        asBytes(std::string_view(archive.constData(), static_cast<std::size_t>(archive.size())));
    QCOMPARE(tester.probeBytes(bytes), ZipResult::Sound);
    QCOMPARE(tester.verifyBytes(bytes), ZipResult::Verified);
}

void OlderMethodCodecsTest::piecesMatchWhole() {
    QFETCH(QByteArray, archive);
    const std::string zip = archive.toStdString();
    std::vector<std::uint8_t> buffer(64 * 1024);
    const auto entries = entriesOf(zip);
    QVERIFY(!entries.empty());
    for (const StreamEntry& item : entries) {
        auto codec = makeCodec(item.entry.method, buffer);
        QVERIFY(codec);
        const std::string_view stream(zip.data() + item.dataOffset, item.entry.compressedSize);
        const Decoded whole = decodeInPieces(*codec, item.entry, stream, stream.size(), buffer.size());
        QVERIFY(whole.good(item));
        for (const auto& [inputPiece, outputPiece] :
             std::vector<std::pair<std::size_t, std::size_t>>{{1, 1}, {1, 4096}, {7, 3}, {4096, 1}}) {
            const Decoded pieces = decodeInPieces(*codec, item.entry, stream, inputPiece, outputPiece);
            QVERIFY(!pieces.hung);
            QVERIFY(pieces.good(item));
            QCOMPARE(pieces.output, whole.output);
        }
    }
}

// Enough varied data to fill the 13-bit dictionary several times over.
void OlderMethodCodecsTest::shrinkWidensAndClears() {
    const std::string data = sampleText(120000, 7);
    ShrinkStatistics statistics;
    const std::string stream = shrinkEncode(data, &statistics);
    QCOMPARE(statistics.widenings, 4);
    QVERIFY(statistics.partialClears >= 2);
    QVERIFY(statistics.codesDefinedByUse > 0);
    std::vector<std::uint8_t> buffer(64 * 1024);
    ShrinkCodec codec(buffer);
    const CodecEntry entry{1, 0, stream.size(), data.size()};
    const Decoded decoded = decodeInPieces(codec, entry, stream, 1000, 777);
    QCOMPARE(decoded.state, CodecState::Finished);
    QCOMPARE(decoded.unused, std::size_t{0});
    QVERIFY(decoded.output == data);
    const std::string zip = zipOf(data, 1, 0, stream);
    ZipTester tester;
    QCOMPARE(tester.verifyBytes(asBytes(zip)), ZipResult::Verified);
}

void OlderMethodCodecsTest::reduceAndImplodeLongData_data() {
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("flags");
    for (int method = 2; method <= 5; ++method)
        QTest::addRow("reduce-%d", method - 1) << method << 0;
    for (int flags = 0; flags <= 6; flags += 2)
        QTest::addRow("implode-flags-%d", flags) << 6 << flags;
}

// Longer than every window, with far repeats, through the whole component.
void OlderMethodCodecsTest::reduceAndImplodeLongData() {
    QFETCH(int, method);
    QFETCH(int, flags);
    const std::string data = sampleText(300000, static_cast<unsigned>(method * 10 + flags));
    const std::string stream = method == 6 ? implodeEncode(data, (flags & 2) != 0, (flags & 4) != 0)
                                           : reduceEncode(data, method - 1);
    QVERIFY(stream.size() < data.size());
    ZipTester tester;
    QCOMPARE(tester.verifyBytes(asBytes(zipOf(data, static_cast<std::uint16_t>(method), flags, stream))),
             ZipResult::Verified);
}

// Single bit flips in the first entry's data. Whatever the verifier says, a decoder fed the same
// damaged stream in pieces must say the same as when fed it whole, and the verifier may call the
// entry good only when the decoder gives the original bytes back (a flip in padding bits).
void OlderMethodCodecsTest::damageIsNeverGood() {
    QFETCH(QByteArray, archive);
    const std::string zip = archive.toStdString();
    const StreamEntry item = entriesOf(zip).front();
    std::vector<std::uint8_t> buffer(64 * 1024);
    auto codec = makeCodec(item.entry.method, buffer);
    std::mt19937 random(11);
    ZipTester tester;
    for (int iteration = 0; iteration < 400; ++iteration) {
        std::string damaged = zip;
        const std::uint64_t offset = item.dataOffset + random() % item.entry.compressedSize;
        flipBit(damaged, offset, static_cast<int>(random() % 8));
        const std::int16_t result = tester.verifyBytes(asBytes(damaged));
        QVERIFY2(result == ZipResult::Verified || result == ZipResult::DataMismatch ||
                     result == ZipResult::StreamDamaged,
                 qPrintable(QString::number(result)));
        const std::string_view stream(damaged.data() + item.dataOffset, item.entry.compressedSize);
        const Decoded whole = decodeInPieces(*codec, item.entry, stream, stream.size(), buffer.size());
        const Decoded pieces = decodeInPieces(*codec, item.entry, stream, 1, 5);
        QVERIFY(!whole.hung && !pieces.hung);
        QCOMPARE(pieces.state, whole.state);
        QVERIFY(pieces.output == whole.output);
        QCOMPARE(result == ZipResult::Verified, whole.good(item));
    }
}

// A stream cut anywhere is never decoded to a good entry, whether it ends early or its entry
// claims the shorter size.
void OlderMethodCodecsTest::truncationIsNeverGood() {
    QFETCH(QByteArray, archive);
    const std::string zip = archive.toStdString();
    const StreamEntry item = entriesOf(zip).front();
    std::vector<std::uint8_t> buffer(64 * 1024);
    auto codec = makeCodec(item.entry.method, buffer);
    const std::string_view stream(zip.data() + item.dataOffset, item.entry.compressedSize);
    std::mt19937 random(5);
    for (int iteration = 0; iteration < 200; ++iteration) {
        const std::size_t length = iteration < 8
                                       ? item.entry.compressedSize - 1 - static_cast<std::size_t>(iteration)
                                       : random() % item.entry.compressedSize;
        CodecEntry shorter = item.entry;
        shorter.compressedSize = length;
        const Decoded decoded = decodeInPieces(*codec, shorter, stream.substr(0, length), 3, 4096);
        QVERIFY(!decoded.hung);
        QVERIFY(!decoded.good(item));
        QVERIFY(decoded.state != CodecState::Finished);
    }
}

void OlderMethodCodecsTest::ppmdSamplesAreNeverDamaged_data() {
    QTest::addColumn<QByteArray>("archive");
    for (const char* name : {"ppmd.zip", "ppmd-o6-16m.zip", "ppmd-o2-1m.zip", "ppmd-o16-64m.zip",
                             "ppmd-o8-bytes.zip", "ppmd-o16-1m-restart.zip", "ppmd-o16-1m-cutoff.zip",
                             "ppmd-o16-1m-cutoff-words.zip", "ppmd-o10-1m-cutoff-mixed.zip"})
        QTest::newRow(name) << QByteArray::fromStdString(readMethodSample(name));
}

// Valid archives, those whose model restarts or is cut back when its memory runs out included:
// every entry verified.
void OlderMethodCodecsTest::ppmdSamplesAreNeverDamaged() {
    QFETCH(QByteArray, archive);
    ZipTester tester;
    const auto bytes =
        asBytes(std::string_view(archive.constData(), static_cast<std::size_t>(archive.size())));
    QCOMPARE(tester.probeBytes(bytes), ZipResult::Sound);
    QCOMPARE(tester.verifyBytes(bytes), ZipResult::Verified);
}

QTEST_GUILESS_MAIN(OlderMethodCodecsTest)
#include "older_method_codecs_test.moc"
