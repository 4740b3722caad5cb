// The decoders built on packaged libraries (bzip2, LZMA, xz, Zstandard) and the Deflate64
// decoder, over sample archives made by other writers: every sample must verify through the whole
// component, every decoder must give the same output however its input and output are cut, and
// damaged or truncated streams must never crash a decoder or pass as good.

#include "codecs/codec_table.h"
#include "codecs/crc32.h"
#include "codecs/library/lzma_codec.h"
#include "codecs/library/xz_codec.h"
#include "codecs/library/zstd_codec.h"
#include "method_samples.h"
#include "zip/zip_tester.h"
#include "zip_builder.h"

#include <QTest>

#include <algorithm>
#include <random>

using namespace vellum;
using namespace vellum::testing;

namespace {

std::span<const std::uint8_t> asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// An entry of an archive, found through its central directory, as a decoder sees it.
struct FixtureEntry {
    CodecEntry codecEntry;
    std::uint32_t crc = 0;
    std::string stream;
};

FixtureEntry entryAt(const std::string& archive, int index) {
    const std::size_t endRecord = archive.rfind(std::string("PK\x05\x06", 4));
    std::uint64_t central = readLe32(archive, endRecord + EndRecordField::DirectoryOffset);
    for (int skipped = 0; skipped < index; ++skipped)
        central += CentralHeaderField::Name + readLe16(archive, central + CentralHeaderField::NameLength) +
                   readLe16(archive, central + CentralHeaderField::ExtraLength) +
                   readLe16(archive, central + CentralHeaderField::CommentLength);
    FixtureEntry entry;
    entry.codecEntry.flags = readLe16(archive, central + CentralHeaderField::Flags);
    entry.codecEntry.method = readLe16(archive, central + CentralHeaderField::Method);
    entry.codecEntry.compressedSize = readLe32(archive, central + CentralHeaderField::CompressedSize);
    entry.codecEntry.uncompressedSize = readLe32(archive, central + CentralHeaderField::UncompressedSize);
    entry.crc = readLe32(archive, central + CentralHeaderField::Crc);
    const std::uint32_t local = readLe32(archive, central + CentralHeaderField::LocalHeaderOffset);
    const std::uint64_t data = local + LocalHeaderField::Name +
                               readLe16(archive, local + LocalHeaderField::NameLength) +
                               readLe16(archive, local + LocalHeaderField::ExtraLength);
    entry.stream = archive.substr(data, entry.codecEntry.compressedSize);
    return entry;
}

FixtureEntry firstEntry(const std::string& archive) {
    return entryAt(archive, 0);
}

// What a decoder made of a stream, driven the way the verifier drives it.
struct DecodeRun {
    std::string output;
    bool cleanEnd = false; // finished exactly at the end of the input (or, for streams that end
                           // with their input, ran out of it at a sound place)
    bool damaged = false;
    bool unsupported = false;
    std::uint64_t memoryNeeded = 0; // asked for before any memory beyond the allowance was taken
};

DecodeRun runCodecOnce(ZipCodec& codec, const CodecEntry& entry, std::string_view stream,
                       std::size_t inputPiece, std::size_t outputPiece);

// Feeds stream in pieces of inputPiece bytes, asking for at most outputPiece bytes per call, then
// makes one call with no input. Stops, as the verifier does, one byte past the declared size. When
// the decoder asks for more memory, it gets that much and more for its small state, and the stream
// starts again; memoryNeeded keeps the first request.
DecodeRun runCodec(ZipCodec& codec, CodecEntry entry, std::string_view stream, std::size_t inputPiece,
                   std::size_t outputPiece) {
    std::uint64_t firstNeed = 0;
    for (;;) {
        DecodeRun run = runCodecOnce(codec, entry, stream, inputPiece, outputPiece);
        if (firstNeed == 0)
            firstNeed = run.memoryNeeded;
        if (run.memoryNeeded == 0 || run.memoryNeeded <= entry.memoryAllowance) {
            run.memoryNeeded = firstNeed;
            return run;
        }
        codec.releaseMemory();
        entry.memoryAllowance = run.memoryNeeded + DecoderMemoryBudget::UnleasedAllowance;
    }
}

DecodeRun runCodecOnce(ZipCodec& codec, const CodecEntry& entry, std::string_view stream,
                       std::size_t inputPiece, std::size_t outputPiece) {
    DecodeRun run;
    if (!codec.reset(entry)) {
        run.damaged = true;
        return run;
    }
    std::span<const std::uint8_t> rest = asBytes(stream);
    bool drained = false;
    // Every call either takes input, gives output or ends the loop; the bound only guards the test.
    for (int calls = 0; calls < 50'000'000; ++calls) {
        const std::size_t pieceLength = std::min(rest.size(), inputPiece);
        std::span<const std::uint8_t> piece = rest.first(pieceLength);
        const bool lastPiece = pieceLength == rest.size();
        rest = rest.subspan(pieceLength);
        for (;;) {
            const CodecStep step = codec.decode(piece, outputPiece);
            if (step.consumed > piece.size() || step.output.size() > outputPiece)
                qFatal("decoder overstepped its input or output");
            piece = piece.subspan(step.consumed);
            run.output.append(reinterpret_cast<const char*>(step.output.data()), step.output.size());
            if (run.output.size() > entry.uncompressedSize)
                return run;
            if (step.state == CodecState::NeedsMemory) {
                run.memoryNeeded = step.memoryNeeded;
                return run;
            }
            if (step.state == CodecState::Damaged || step.state == CodecState::Unsupported) {
                run.damaged = step.state == CodecState::Damaged;
                run.unsupported = step.state == CodecState::Unsupported;
                return run;
            }
            if (step.state == CodecState::Finished) {
                run.cleanEnd = step.unusedInput == 0 && rest.empty() && piece.empty();
                return run;
            }
            if (step.state == CodecState::NeedsInput &&
                (piece.empty() || (step.consumed == 0 && step.output.empty())))
                break;
        }
        if (!piece.empty())
            return run; // asked for more while input was left: the verifier calls that damage
        if (lastPiece && rest.empty()) {
            if (drained) {
                run.cleanEnd = codec.endsWithInput();
                return run;
            }
            drained = true;
        }
    }
    qFatal("decoder made no progress");
}

bool judgedGood(const DecodeRun& run, const FixtureEntry& entry) {
    return run.cleanEnd && run.output.size() == entry.codecEntry.uncompressedSize &&
           crc32Update(0, asBytes(run.output)) == entry.crc;
}

// The sample archives of the methods these decoders handle, with the verify result each must give.
struct Sample {
    const char* file;
    std::int16_t verifyResult;
};

constexpr Sample Samples[] = {
    {"deflate64.zip", ZipResult::Verified},
    {"deflate64-words.zip", ZipResult::Verified},
    {"deflate64-far-match.zip", ZipResult::Verified},
    {"bzip2.zip", ZipResult::Verified},
    {"bzip2-7z.zip", ZipResult::Verified},
    {"lzma.zip", ZipResult::Verified},
    {"lzma-7z-eos.zip", ZipResult::Verified},
    {"lzma-python-eos.zip", ZipResult::Verified},
    {"lzma-no-eos.zip", ZipResult::Verified},
    {"xz.zip", ZipResult::Verified},
    {"zstd.zip", ZipResult::Verified},
    {"zstd-two-frames.zip", ZipResult::Verified},
    // Streams that declare far more memory than they use: verified in the memory they touch.
    {"xz-dict-4gib.zip", ZipResult::Verified},
    {"zstd-window-1gib.zip", ZipResult::Verified},
};

} // namespace

class LibraryCodecsTest : public QObject {
    Q_OBJECT

private slots:
    void samplesVerify_data();
    void samplesVerify();
    void piecesGiveTheSameOutput_data();
    void piecesGiveTheSameOutput();
    void damagedStreamsNeverPass_data();
    void damagedStreamsNeverPass();
    void truncatedStreamsNeverPass_data();
    void truncatedStreamsNeverPass();
    void trailingBytesAreFound_data();
    void trailingBytesAreFound();
    void lzmaHugeDictionaryIsCappedBySize();
    void lzmaAsksForItsDictionaryFirst();
    void lzmaBadPropertiesAreDamage_data();
    void lzmaBadPropertiesAreDamage();
    void decodersAskBeyondTheirAllowance_data();
    void decodersAskBeyondTheirAllowance();
    void zstdTruncatedBetweenFramesIsCaughtBySize();
};

void LibraryCodecsTest::samplesVerify_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("verifyResult");
    for (const Sample& sample : Samples)
        QTest::newRow(sample.file) << QString::fromLatin1(sample.file) << int{sample.verifyResult};
}

void LibraryCodecsTest::samplesVerify() {
    QFETCH(QString, file);
    QFETCH(int, verifyResult);
    const std::string archive = readMethodSample(file);
    ZipTester tester;
    QCOMPARE(int{tester.probeBytes(asBytes(archive))}, int{ZipResult::Sound});
    QCOMPARE(int{tester.verifyBytes(asBytes(archive))}, verifyResult);
    const bool unverifiableNoted =
        std::any_of(tester.lastFaults().begin(), tester.lastFaults().end(),
                    [](const ZipFault& fault) { return fault.kind == ZipFaultKind::MethodUnsupported; });
    QCOMPARE(unverifiableNoted, verifyResult == ZipResult::VerifiedWithUnverifiableEntries);
}

void LibraryCodecsTest::piecesGiveTheSameOutput_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("entryIndex");
    for (const Sample& sample : Samples) {
        if (sample.verifyResult == ZipResult::Verified)
            QTest::newRow(sample.file) << QString::fromLatin1(sample.file) << 0;
    }
    QTest::newRow("zstd-two-frames.zip, entry of method 20") << QStringLiteral("zstd-two-frames.zip") << 1;
}

void LibraryCodecsTest::piecesGiveTheSameOutput() {
    QFETCH(QString, file);
    QFETCH(int, entryIndex);
    const FixtureEntry entry = entryAt(readMethodSample(file), entryIndex);
    std::vector<std::uint8_t> buffer(1 << 16);
    CodecTable table(buffer);
    ZipCodec* codec = table.find(entry.codecEntry.method);
    QVERIFY(codec);
    const DecodeRun whole = runCodec(*codec, entry.codecEntry, entry.stream, 1 << 20, 1 << 16);
    QVERIFY(judgedGood(whole, entry));
    // One byte at a time both ways, then odd sizes; the codec is reused, as the table reuses it.
    for (const auto& [inputPiece, outputPiece] :
         {std::pair{1, 1}, {1, 4096}, {3, 7}, {4096, 1}, {777, 333}}) {
        const DecodeRun pieces = runCodec(*codec, entry.codecEntry, entry.stream, inputPiece, outputPiece);
        QVERIFY2(pieces.output == whole.output,
                 qPrintable(QStringLiteral("pieces %1/%2").arg(inputPiece).arg(outputPiece)));
        QVERIFY(pieces.cleanEnd);
    }
}

void LibraryCodecsTest::damagedStreamsNeverPass_data() {
    QTest::addColumn<QString>("file");
    for (const char* file : {"deflate64-words.zip", "deflate64-far-match.zip", "bzip2-7z.zip",
                             "lzma-7z-eos.zip", "lzma-no-eos.zip", "xz.zip", "zstd-two-frames.zip"})
        QTest::newRow(file) << QString::fromLatin1(file);
}

// Random bit flips in the compressed data. Whatever a decoder makes of them, it must come back,
// and whenever the result passes as good (clean end, declared size, matching CRC-32), it must be
// the original data: a decoder may not hide damage that the checks would otherwise see.
void LibraryCodecsTest::damagedStreamsNeverPass() {
    QFETCH(QString, file);
    const std::string archive = readMethodSample(file);
    const FixtureEntry entry = firstEntry(archive);
    std::vector<std::uint8_t> buffer(1 << 16);
    CodecTable table(buffer);
    ZipCodec* codec = table.find(entry.codecEntry.method);
    QVERIFY(codec);
    const std::string original = runCodec(*codec, entry.codecEntry, entry.stream, 1 << 20, 1 << 16).output;
    std::mt19937 random(static_cast<unsigned>(qHash(file)));
    int passed = 0;
    for (int iteration = 0; iteration < 1500; ++iteration) {
        std::string stream = entry.stream;
        const int flips = 1 + static_cast<int>(random() % 3);
        for (int flip = 0; flip < flips; ++flip)
            stream[random() % stream.size()] ^= static_cast<char>(1u << (random() % 8));
        const std::size_t piece = iteration % 5 == 0 ? 1 + random() % 16 : 1 << 20;
        const DecodeRun run = runCodec(*codec, entry.codecEntry, stream, piece, 1 + random() % 70000);
        if (judgedGood(run, entry)) {
            ++passed;
            QVERIFY(run.output == original);
        }
    }
    // A few flips land where they change nothing (padding, an unused header field); most must not.
    QVERIFY2(passed < 1500 / 10, qPrintable(QString::number(passed)));

    // The same through the whole component: flipped data bytes are never reported as sound unless
    // they decode to the original, and never as anything but a data or stream fault.
    const std::uint64_t dataOffset = archive.find(entry.stream);
    ZipTester tester;
    for (int iteration = 0; iteration < 200; ++iteration) {
        std::string damaged = archive;
        const std::uint64_t position = random() % entry.stream.size();
        flipBit(damaged, dataOffset + position, static_cast<int>(random() % 8));
        const std::int16_t result = tester.verifyBytes(asBytes(damaged));
        // LZMA's model byte (offset 4) may turn into a valid model that liblzma does not take.
        const bool lzmaModel = entry.codecEntry.method == 14 && position == 4;
        QVERIFY2(result == ZipResult::Verified || result == ZipResult::DataMismatch ||
                     result == ZipResult::StreamDamaged ||
                     (lzmaModel && result == ZipResult::VerifiedWithUnverifiableEntries),
                 qPrintable(QStringLiteral("%1 at %2").arg(result).arg(position)));
        if (result == ZipResult::Verified) {
            const std::string stream = damaged.substr(dataOffset, entry.stream.size());
            QVERIFY(runCodec(*codec, entry.codecEntry, stream, 1 << 20, 1 << 16).output == original);
        }
    }
}

void LibraryCodecsTest::truncatedStreamsNeverPass_data() {
    damagedStreamsNeverPass_data();
}

void LibraryCodecsTest::truncatedStreamsNeverPass() {
    QFETCH(QString, file);
    const FixtureEntry entry = firstEntry(readMethodSample(file));
    std::vector<std::uint8_t> buffer(1 << 16);
    CodecTable table(buffer);
    ZipCodec* codec = table.find(entry.codecEntry.method);
    QVERIFY(codec);
    for (std::size_t length = 0; length < entry.stream.size(); ++length) {
        const std::string_view stream = std::string_view(entry.stream).substr(0, length);
        const std::size_t piece = length % 3 == 0 ? 1 : 1 << 20;
        const DecodeRun run = runCodec(*codec, entry.codecEntry, stream, piece, 1 << 16);
        QVERIFY2(!judgedGood(run, entry), qPrintable(QStringLiteral("cut to %1 bytes").arg(length)));
        QVERIFY(!run.unsupported);
    }
}

void LibraryCodecsTest::trailingBytesAreFound_data() {
    damagedStreamsNeverPass_data();
}

void LibraryCodecsTest::trailingBytesAreFound() {
    QFETCH(QString, file);
    FixtureEntry entry = firstEntry(readMethodSample(file));
    std::vector<std::uint8_t> buffer(1 << 16);
    CodecTable table(buffer);
    ZipCodec* codec = table.find(entry.codecEntry.method);
    QVERIFY(codec);
    // Zstandard allows concatenated frames, so junk after its stream is judged as a broken frame.
    for (const std::string& junk : {std::string(1, '\0'), std::string("junk after the stream")}) {
        const std::string stream = entry.stream + junk;
        for (const std::size_t piece : {std::size_t{1}, std::size_t{1} << 20}) {
            const DecodeRun run = runCodec(*codec, entry.codecEntry, stream, piece, 1 << 16);
            QVERIFY(!run.cleanEnd);
            QVERIFY(!run.unsupported);
        }
    }
}

void LibraryCodecsTest::lzmaHugeDictionaryIsCappedBySize() {
    // A good archive whose stream declares a 4 GiB dictionary decodes with one of the entry's size.
    std::string archive = readMethodSample(QStringLiteral("lzma-7z-eos.zip"));
    const FixtureEntry entry = firstEntry(archive);
    const std::uint64_t dictionaryOffset = archive.find(entry.stream) + 5;
    patchLe32(archive, dictionaryOffset, 0xFFFFFFFFu);
    ZipTester tester;
    QCOMPARE(int{tester.verifyBytes(asBytes(archive))}, int{ZipResult::Verified});
}

void LibraryCodecsTest::lzmaAsksForItsDictionaryFirst() {
    FixtureEntry entry = firstEntry(readMethodSample(QStringLiteral("lzma-7z-eos.zip")));
    std::vector<std::uint8_t> buffer(1 << 16);
    LzmaCodec codec(buffer);
    // An allowance below the entry's size and its dictionary: the codec asks for what it needs,
    // which is the entry's size, not the declared dictionary, and decodes in exactly that.
    CodecEntry tight = entry.codecEntry;
    tight.memoryAllowance = 4096;
    const DecodeRun run = runCodec(codec, tight, entry.stream, 1 << 20, 1 << 16);
    QVERIFY(run.memoryNeeded > tight.memoryAllowance);
    QVERIFY(judgedGood(run, entry));
    QVERIFY(codec.heap().peakInUse() < entry.codecEntry.uncompressedSize + 64 * 1024);
    // An entry that claims 1 GiB with a 1 GiB dictionary asks for it before any memory is taken.
    patchLe32(entry.stream, 5, 1u << 30);
    CodecEntry huge = entry.codecEntry;
    huge.uncompressedSize = std::uint64_t{1} << 30;
    codec.releaseMemory();
    QVERIFY(codec.reset(huge));
    const CodecStep step = codec.decode(asBytes(entry.stream), 1 << 16);
    QCOMPARE(step.state, CodecState::NeedsMemory);
    QVERIFY(step.memoryNeeded > huge.uncompressedSize);
    QVERIFY(codec.heap().inUse() < DecoderMemoryBudget::UnleasedAllowance);
    codec.releaseMemory();
}

void LibraryCodecsTest::lzmaBadPropertiesAreDamage_data() {
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("value");
    QTest::newRow("properties size 4") << 2 << 4;
    QTest::newRow("properties size 0x105") << 3 << 1;
    QTest::newRow("model byte 225") << 4 << 225;
    QTest::newRow("model byte 255") << 4 << 255;
}

void LibraryCodecsTest::lzmaBadPropertiesAreDamage() {
    QFETCH(int, offset);
    QFETCH(int, value);
    FixtureEntry entry = firstEntry(readMethodSample(QStringLiteral("lzma-7z-eos.zip")));
    entry.stream[static_cast<std::size_t>(offset)] = static_cast<char>(value);
    std::vector<std::uint8_t> buffer(1 << 16);
    LzmaCodec codec(buffer);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{1} << 20})
        QVERIFY(runCodec(codec, entry.codecEntry, entry.stream, piece, 1 << 16).damaged);
}

void LibraryCodecsTest::decodersAskBeyondTheirAllowance_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("xz") << QStringLiteral("xz.zip");
    QTest::newRow("zstd") << QStringLiteral("zstd-two-frames.zip");
    QTest::newRow("xz, 4 GiB dictionary") << QStringLiteral("xz-dict-4gib.zip");
    QTest::newRow("zstd, 1 GiB window") << QStringLiteral("zstd-window-1gib.zip");
}

// With one page allowed, each stream asks for more before it takes it, and decodes with what it
// asked for.
void LibraryCodecsTest::decodersAskBeyondTheirAllowance() {
    QFETCH(QString, file);
    const FixtureEntry entry = firstEntry(readMethodSample(file));
    std::vector<std::uint8_t> buffer(1 << 16);
    CodecTable table(buffer);
    ZipCodec* codec = table.find(entry.codecEntry.method);
    QVERIFY(codec);
    CodecEntry tight = entry.codecEntry;
    tight.memoryAllowance = 4096;
    const DecodeRun run = runCodec(*codec, tight, entry.stream, 1, 1 << 16);
    QVERIFY(run.memoryNeeded > tight.memoryAllowance);
    QVERIFY(judgedGood(run, entry));
    codec->releaseMemory();
}

// An entry cut exactly between two Zstandard frames ends at a sound place, but is short: the
// verifier's size check is what catches it, so the decoder must stop there and produce no more.
void LibraryCodecsTest::zstdTruncatedBetweenFramesIsCaughtBySize() {
    const std::string archive = readMethodSample(QStringLiteral("zstd-two-frames.zip"));
    const FixtureEntry entry = firstEntry(archive);
    std::vector<std::uint8_t> buffer(1 << 16);
    ZstdCodec codec(buffer);
    // The second frame starts with the Zstandard magic number again.
    const std::size_t secondFrame = entry.stream.find(std::string("\x28\xB5\x2F\xFD", 4), 4);
    QVERIFY(secondFrame != std::string::npos);
    const DecodeRun run =
        runCodec(codec, entry.codecEntry, std::string_view(entry.stream).substr(0, secondFrame), 1, 1 << 16);
    QVERIFY(run.cleanEnd);
    QVERIFY(run.output.size() < entry.codecEntry.uncompressedSize);
    QVERIFY(!judgedGood(run, entry));
}

QTEST_GUILESS_MAIN(LibraryCodecsTest)
#include "library_codecs_test.moc"
