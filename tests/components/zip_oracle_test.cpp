// The decoders against zlib as the reference: ISA-L's output must equal zlib's for the same raw
// deflate stream, however the input is cut into pieces, and the streamed CRC-32 must equal zlib's
// one-shot CRC-32. Also checks that the verifier finds the end of a stream exactly whatever the
// chunk size, which depends on ISA-L's read-ahead being accounted for.

#include "base/byte_source.h"
#include "base/byte_window.h"
#include "base/fault_log.h"
#include "base/progress_pacer.h"
#include "codecs/codec_table.h"
#include "codecs/crc32.h"
#include "codecs/deflate_codec.h"
#include "engine/entry_verifier.h"
#include "zip_builder.h"

#include <QTest>

#include <algorithm>

using namespace vellum;
using namespace vellum::testing;

namespace {

std::string mixedData(std::size_t length, unsigned seed) {
    std::string bytes(length, '\0');
    unsigned state = seed;
    for (std::size_t index = 0; index < length; ++index) {
        state = state * 1103515245u + 12345u;
        // Runs, text-like bytes and noise, so that every block type and long matches occur.
        const std::size_t kind = (index / 4096) % 3;
        bytes[index] = kind == 0   ? 'z'
                       : kind == 1 ? static_cast<char>('a' + (state >> 16) % 6)
                                   : static_cast<char>(state >> 24);
    }
    return bytes;
}

std::span<const std::uint8_t> asBytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Decodes stream with a DeflateCodec, feeding inputPiece bytes at a time and allowing outputPiece
// bytes out per call. Empty with ok false when the codec reports damage or never finishes.
std::string inflateWithCodec(const std::string& stream, std::size_t inputPiece, std::size_t outputPiece,
                             bool& ok) {
    std::vector<std::uint8_t> buffer(64 * 1024);
    DeflateCodec codec(buffer);
    std::string out;
    std::span<const std::uint8_t> input = asBytes(stream);
    ok = false;
    while (true) {
        const std::span<const std::uint8_t> piece = input.first(std::min(input.size(), inputPiece));
        std::span<const std::uint8_t> rest = piece;
        CodecStep step;
        do {
            step = codec.decode(rest, outputPiece);
            rest = rest.subspan(step.consumed);
            out.append(reinterpret_cast<const char*>(step.output.data()), step.output.size());
        } while (step.state == CodecState::OutputFull);
        input = input.subspan(piece.size() - rest.size());
        if (step.state == CodecState::Damaged)
            return {};
        if (step.state == CodecState::Finished) {
            ok = step.unusedInput == 0 && input.empty();
            return out;
        }
        if (piece.empty())
            return {};
    }
}

class NullProgress final : public ProgressSink {
public:
    bool advance(std::size_t, std::uint64_t) override { return true; }
};

} // namespace

class ZipOracleTest : public QObject {
    Q_OBJECT

private slots:
    void inflateMatchesZlib_data();
    void inflateMatchesZlib();
    void crcMatchesZlib_data();
    void crcMatchesZlib();
    void streamEndFoundAtEveryChunkSize_data();
    void streamEndFoundAtEveryChunkSize();
};

void ZipOracleTest::inflateMatchesZlib_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("inputPiece");
    QTest::addColumn<int>("outputPiece");
    const std::string mixed = mixedData(150000, 11);
    const QByteArray mixedBytes(mixed.data(), static_cast<qsizetype>(mixed.size()));
    const QByteArray zeros(1 << 20, '\0');
    for (const int level : {0, 1, 6, 9}) {
        for (const int inputPiece : {1, 7, 4096, 1 << 20}) {
            const QString name =
                QStringLiteral("mixed, level %1, input pieces of %2").arg(level).arg(inputPiece);
            QTest::newRow(qPrintable(name)) << mixedBytes << level << inputPiece << 65536;
        }
    }
    QTest::newRow("mixed, output one byte at a time") << mixedBytes.left(20000) << 6 << 4096 << 1;
    QTest::newRow("zeros, long matches") << zeros << 9 << 65536 << 65536;
    QTest::newRow("empty") << QByteArray() << 6 << 4096 << 65536;
    QTest::newRow("one byte") << QByteArray("x") << 6 << 4096 << 65536;
}

void ZipOracleTest::inflateMatchesZlib() {
    QFETCH(QByteArray, data);
    QFETCH(int, level);
    QFETCH(int, inputPiece);
    QFETCH(int, outputPiece);
    const std::string original(data.constData(), static_cast<std::size_t>(data.size()));
    const std::string stream = deflateRaw(original, level);
    const std::string reference = inflateRaw(stream);
    QCOMPARE(reference.size(), original.size());
    bool ok = false;
    const std::string decoded = inflateWithCodec(stream, static_cast<std::size_t>(inputPiece),
                                                 static_cast<std::size_t>(outputPiece), ok);
    QVERIFY(ok);
    QVERIFY(decoded == reference);
}

void ZipOracleTest::crcMatchesZlib_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("piece");
    for (const int length : {0, 1, 15, 4096, 1000003}) {
        for (const int piece : {1, 3, 64, 65536}) {
            if (length > 100000 && piece < 64)
                continue;
            QTest::newRow(qPrintable(QStringLiteral("%1 bytes in pieces of %2").arg(length).arg(piece)))
                << length << piece;
        }
    }
}

void ZipOracleTest::crcMatchesZlib() {
    QFETCH(int, length);
    QFETCH(int, piece);
    const std::string data = mixedData(static_cast<std::size_t>(length), 5);
    std::span<const std::uint8_t> rest = asBytes(data);
    std::uint32_t crc = 0;
    while (!rest.empty()) {
        const std::size_t take = std::min(rest.size(), static_cast<std::size_t>(piece));
        crc = crc32Update(crc, rest.first(take));
        rest = rest.subspan(take);
    }
    QCOMPARE(crc, crc32Of(data));
    QCOMPARE(crc32Update(0, asBytes(data)), crc32Of(data));
}

void ZipOracleTest::streamEndFoundAtEveryChunkSize_data() {
    QTest::addColumn<int>("junk");
    QTest::addColumn<int>("level");
    for (const int junk : {0, 1, 2, 3, 4, 5, 8, 9, 100}) {
        for (const int level : {0, 6}) {
            QTest::newRow(qPrintable(QStringLiteral("%1 junk bytes, level %2").arg(junk).arg(level)))
                << junk << level;
        }
    }
}

// The verifier reads in chunks of the window's capacity; a small window makes the stream's end
// fall at every position within a chunk. Junk after the stream must be found every time, and a
// clean stream must never be blamed.
void ZipOracleTest::streamEndFoundAtEveryChunkSize() {
    QFETCH(int, junk);
    QFETCH(int, level);
    const std::string data = mixedData(20000, 3);
    ZipBuilderEntry entry{"entry.bin", data, 8};
    entry.compressedData = deflateRaw(data, level) + std::string(static_cast<std::size_t>(junk), '\x5A');
    const BuiltZip zip = buildZip({entry});
    MemoryByteSource source(asBytes(zip.bytes));

    ZipEntryRecord record;
    record.localHeaderOffset = zip.entries[0].localHeaderOffset;
    record.dataDelta =
        static_cast<std::uint32_t>(zip.entries[0].dataOffset - zip.entries[0].localHeaderOffset);
    record.compressedSize = zip.entries[0].compressedSize;
    record.uncompressedSize = data.size();
    record.crc = crc32Of(data);
    record.method = 8;

    std::vector<std::uint8_t> output(4096);
    CodecTable codecs(output);
    NullProgress progress;
    for (const std::size_t capacity : {1, 2, 3, 5, 8, 13, 64, 1000, 65536}) {
        ByteWindow window(capacity);
        window.attach(&source);
        EntryVerifier verifier(window, codecs);
        std::vector<ZipFault> faults;
        FaultLog log(faults, false);
        std::uint64_t budget = UINT64_MAX;
        QCOMPARE(verifier.verify(record, 0, log, progress, budget), EntryVerifier::Outcome::Checked);
        if (junk == 0) {
            QVERIFY2(faults.empty(),
                     qPrintable(QStringLiteral("clean stream blamed at chunk size %1").arg(capacity)));
        } else {
            QVERIFY2(faults.size() == 1 && faults[0].kind == ZipFaultKind::StreamTrailingBytes,
                     qPrintable(QStringLiteral("junk missed at chunk size %1").arg(capacity)));
        }
    }
}

QTEST_GUILESS_MAIN(ZipOracleTest)
#include "zip_oracle_test.moc"
