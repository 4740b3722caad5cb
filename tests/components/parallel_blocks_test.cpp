// Large xz entries whose blocks are decoded on several threads: a sound multi-block stream is judged
// sound there, and whatever is wrong with an entry is reported exactly as a check on one thread
// reports it.

#include "base/byte_window.h"
#include "engine/busy_threads.h"
#include "engine/parallel_blocks.h"
#include "engine/zip_engine.h"
#include "zip_builder.h"

#include <QTest>

#include <lzma.h>

#include <array>
#include <random>

using namespace vellum;
using namespace vellum::testing;

namespace {

std::span<const std::uint8_t> asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// An xz stream as xz -T2 writes it (sizes in every block header), or as xz -T1 does (none).
std::string xz(const std::string& data, bool sizedBlocks) {
    lzma_stream stream = LZMA_STREAM_INIT;
    lzma_mt options{};
    options.threads = 2;
    options.block_size = 256 * 1024;
    options.preset = 0;
    options.check = LZMA_CHECK_CRC64;
    if ((sizedBlocks ? lzma_stream_encoder_mt(&stream, &options)
                     : lzma_easy_encoder(&stream, 0, LZMA_CHECK_CRC64)) != LZMA_OK)
        qFatal("xz encoder failed");
    std::string out(data.size() + data.size() / 8 + 4096, '\0');
    stream.next_in = reinterpret_cast<const std::uint8_t*>(data.data());
    stream.avail_in = data.size();
    stream.next_out = reinterpret_cast<std::uint8_t*>(out.data());
    stream.avail_out = out.size();
    if (lzma_code(&stream, LZMA_FINISH) != LZMA_STREAM_END)
        qFatal("xz compression failed");
    out.resize(out.size() - stream.avail_out);
    lzma_end(&stream);
    return out;
}

// Where each block of a stream whose headers carry sizes ends.
std::vector<std::size_t> blockEnds(const std::string& stream) {
    std::vector<std::size_t> ends;
    std::size_t position = 12;
    while (stream[position] != 0) {
        std::array<lzma_filter, LZMA_FILTERS_MAX + 1> filters{};
        lzma_block block{};
        block.check = LZMA_CHECK_CRC64;
        block.header_size = lzma_block_header_size_decode(static_cast<std::uint8_t>(stream[position]));
        block.filters = filters.data();
        if (lzma_block_header_decode(&block, nullptr, asBytes(stream).subspan(position).data()) != LZMA_OK)
            qFatal("unreadable block header");
        lzma_filters_free(filters.data(), nullptr);
        position += lzma_block_total_size(&block);
        ends.push_back(position);
    }
    return ends;
}

// Bytes of a 128-letter alphabet with runs now and then: about 5 MiB once compressed.
std::string blockData() {
    std::mt19937 random(12);
    std::string data;
    while (data.size() < 6'000'000) {
        for (int letter = 0; letter < 50'000; ++letter)
            data += static_cast<char>(random() % 128);
        data.append(random() % 20'000, static_cast<char>(random()));
    }
    return data;
}

std::vector<ZipFault> verify(const std::string& archive, unsigned threads, std::int16_t& result) {
    ZipEngine engine;
    MemoryByteSource source(asBytes(archive));
    ZipEngineSettings settings;
    settings.entryThreads = threads;
    std::vector<ZipFault> faults;
    result = engine.run(ZipOperation::Verify, source, settings, faults);
    return faults;
}

struct QuietProgress final : ProgressSink {
    bool advance(std::size_t, std::uint64_t) override { return true; }
};

} // namespace

class ParallelBlocksTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void helpersTakeOnlyIdleProcessors();
    void soundBlocksAreJudgedOnThreads_data();
    void soundBlocksAreJudgedOnThreads();
    void faultsMatchTheSerialCheck_data();
    void faultsMatchTheSerialCheck();

private:
    std::string m_data;
    std::string m_stream;
};

void ParallelBlocksTest::initTestCase() {
    m_data = blockData();
    m_stream = xz(m_data, true);
    QVERIFY(m_stream.size() > 4u << 20);
}

void ParallelBlocksTest::helpersTakeOnlyIdleProcessors() {
    BusyThreads threads(2);
    BusyThreads::Token operation = threads.enter();
    BusyThreads::Token helper = threads.enterIfIdle();
    QVERIFY(helper);
    QVERIFY(!threads.enterIfIdle());
    const BusyThreads::Token otherArchive = threads.enter();
    helper.release();
    QVERIFY(!threads.enterIfIdle());
    QCOMPARE(threads.busy(), 2u);
}

void ParallelBlocksTest::soundBlocksAreJudgedOnThreads_data() {
    QTest::addColumn<bool>("sizedBlocks");
    QTest::addColumn<bool>("sound");
    QTest::newRow("sizes in the headers") << true << true;
    QTest::newRow("no sizes in the headers") << false << false;
}

// The entry itself, checked by the block check alone: sound when every block can be cut out.
void ParallelBlocksTest::soundBlocksAreJudgedOnThreads() {
    QFETCH(bool, sizedBlocks);
    QFETCH(bool, sound);
    const BuiltZip built = buildZip({{"blocks.bin", m_data, 95, false, false, true, false, 0,
                                      sizedBlocks ? m_stream : xz(m_data, false)}});
    ZipEntryRecord entry;
    entry.localHeaderOffset = built.entries[0].localHeaderOffset;
    entry.dataDelta = static_cast<std::uint32_t>(built.entries[0].dataOffset - entry.localHeaderOffset);
    entry.compressedSize = built.entries[0].compressedSize;
    entry.uncompressedSize = m_data.size();
    entry.crc = built.entries[0].crc;
    entry.method = 95;
    MemoryByteSource source(asBytes(built.bytes));
    ByteWindow window(256 * 1024);
    window.attach(&source);
    QuietProgress progress;
    std::uint64_t reported = 0;
    DecoderMemoryBudget budget(std::uint64_t{1} << 30);
    QVERIFY(worthDecodingBlocksInParallel(entry, 2));
    const BlockCheck check = checkBlocksInParallel({entry, 0, window, source, progress, reported, budget, 2});
    QCOMPARE(check == BlockCheck::Sound, sound);
    QCOMPARE(budget.peakLeased() > 0, sound);
    QCOMPARE(budget.leased(), 0u);
    if (sound)
        QCOMPARE(reported, entry.compressedSize);
}

void ParallelBlocksTest::faultsMatchTheSerialCheck_data() {
    QTest::addColumn<QString>("damage");
    for (const char* damage : {"sound", "byte in a middle block", "block check", "index", "footer",
                               "entry CRC", "one byte more declared", "one byte fewer declared",
                               "stream cut short", "two streams", "padding after the stream"})
        QTest::newRow(damage) << QString(damage);
}

void ParallelBlocksTest::faultsMatchTheSerialCheck() {
    QFETCH(QString, damage);
    std::string stream = m_stream;
    std::string data = m_data;
    const std::vector<std::size_t> ends = blockEnds(m_stream);
    QVERIFY(ends.size() > 10);
    const std::size_t middle = ends[ends.size() / 2];
    if (damage == "byte in a middle block")
        flipBit(stream, middle - 5000, 3);
    else if (damage == "block check")
        flipBit(stream, middle - 1, 0);
    else if (damage == "index")
        flipBit(stream, ends.back() + 5, 1);
    else if (damage == "footer")
        flipBit(stream, stream.size() - 7, 2);
    else if (damage == "entry CRC")
        data[1000] = static_cast<char>(data[1000] ^ 1);
    else if (damage == "one byte more declared")
        data += 'x';
    else if (damage == "one byte fewer declared")
        data.pop_back();
    else if (damage == "stream cut short")
        stream.resize(stream.size() - 100);
    else if (damage == "two streams")
        stream += xz("and a second stream", true);
    else if (damage == "padding after the stream")
        stream.append(4, '\0');
    ZipBuilderEntry entry{"blocks.bin", data, 95};
    entry.compressedData = stream;
    const std::string archive = buildZip({entry}).bytes;

    std::int16_t serialResult = 0;
    std::int16_t parallelResult = 0;
    const std::vector<ZipFault> serial = verify(archive, 1, serialResult);
    const std::vector<ZipFault> parallel = verify(archive, 2, parallelResult);
    QCOMPARE(serialResult == ZipResult::Verified, damage == "sound");
    QCOMPARE(parallelResult, serialResult);
    QCOMPARE(parallel.size(), serial.size());
    for (std::size_t index = 0; index < serial.size(); ++index) {
        QCOMPARE(parallel[index].kind, serial[index].kind);
        QCOMPARE(parallel[index].entryIndex, serial[index].entryIndex);
        QCOMPARE(parallel[index].offset, serial[index].offset);
        QCOMPARE(parallel[index].found, serial[index].found);
        QCOMPARE(parallel[index].expected, serial[index].expected);
    }
}

QTEST_GUILESS_MAIN(ParallelBlocksTest)
#include "parallel_blocks_test.moc"
