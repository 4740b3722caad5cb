#include "wave_bytes.h"
#include "wave_sound.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <cstring>

using namespace vellum::platform;
using namespace vellum::platform::testing;

namespace {

std::optional<WaveSound> parse(const QByteArray& bytes) {
    return parseWave(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                               static_cast<std::size_t>(bytes.size())));
}

QByteArray samplesOf(const WaveSound& sound) {
    return QByteArray(reinterpret_cast<const char*>(sound.samples.data()),
                      static_cast<qsizetype>(sound.samples.size()));
}

int sampleAt(const WaveSound& sound, std::size_t frame) {
    const auto low = sound.samples[frame * 2];
    const auto high = sound.samples[frame * 2 + 1];
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
}

QByteArray ramp(int size) {
    QByteArray bytes;
    for (int index = 0; index < size; ++index)
        bytes.append(static_cast<char>(index * 7));
    return bytes;
}

} // namespace

class WaveSoundTest : public QObject {
    Q_OBJECT

private slots:
    void validFiles_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("bits");
        QTest::addColumn<QByteArray>("samples");
        QTest::newRow("8-bit mono") << pcmWave(1, 11025, 8, ramp(101)) << 1 << 11025 << 8 << ramp(101);
        QTest::newRow("8-bit stereo") << pcmWave(2, 22050, 8, ramp(100)) << 2 << 22050 << 8 << ramp(100);
        QTest::newRow("16-bit mono") << pcmWave(1, 44100, 16, ramp(200)) << 1 << 44100 << 16 << ramp(200);
        QTest::newRow("16-bit stereo") << pcmWave(2, 48000, 16, ramp(400)) << 2 << 48000 << 16 << ramp(400);
        QTest::newRow("partial frame dropped")
            << pcmWave(2, 8000, 16, ramp(10)) << 2 << 8000 << 16 << ramp(8);
        QTest::newRow("other chunks first, odd size")
            << riff(chunk("LIST", "INFOx") + formatChunk(1, 1, 8000, 8) + chunk("fact", "1234") +
                    chunk("data", ramp(6)))
            << 1 << 8000 << 8 << ramp(6);
        QTest::newRow("data size beyond end of file")
            << riff(formatChunk(1, 1, 8000, 16) + chunk("data", ramp(50), 0xFFFFFFFFu)).chopped(1) << 1
            << 8000 << 16 << ramp(48);

        QByteArray extensible;
        appendUint16(extensible, 0xFFFE);
        appendUint16(extensible, 2);
        appendUint32(extensible, 44100);
        appendUint32(extensible, 44100 * 4);
        appendUint16(extensible, 4);
        appendUint16(extensible, 16);
        appendUint16(extensible, 22);
        appendUint16(extensible, 16);
        appendUint32(extensible, 3);
        appendUint16(extensible, 1);
        extensible.append(QByteArray::fromHex("000000001000800000aa00389b71"));
        QTest::newRow("extensible PCM")
            << riff(chunk("fmt ", extensible) + chunk("data", ramp(16))) << 2 << 44100 << 16 << ramp(16);
    }

    void validFiles() {
        QFETCH(QByteArray, file);
        QFETCH(int, channels);
        QFETCH(int, rate);
        QFETCH(int, bits);
        QFETCH(QByteArray, samples);
        const std::optional<WaveSound> sound = parse(file);
        QVERIFY(sound.has_value());
        QCOMPARE(int{sound->channels}, channels);
        QCOMPARE(static_cast<int>(sound->sampleRate), rate);
        QCOMPARE(int{sound->bitsPerSample}, bits);
        QCOMPARE(samplesOf(*sound), samples);
    }

    void rejectedFiles_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("RIFF only") << QByteArray("RIFF");
        QTest::newRow("not WAVE") << QByteArray("RIFF\x04\0\0\0AVI ", 12);
        QTest::newRow("no chunks") << riff({});
        QTest::newRow("no data chunk") << riff(formatChunk(1, 1, 8000, 8));
        QTest::newRow("data before format") << riff(chunk("data", ramp(8)) + formatChunk(1, 1, 8000, 8));
        QTest::newRow("empty data") << riff(formatChunk(1, 1, 8000, 8) + chunk("data", {}));
        QTest::newRow("less than a frame") << riff(formatChunk(1, 2, 8000, 16) + chunk("data", "abc"));
        QTest::newRow("24-bit") << pcmWave(1, 8000, 24, ramp(30));
        QTest::newRow("three channels") << pcmWave(3, 8000, 16, ramp(30));
        QTest::newRow("no channels") << pcmWave(0, 8000, 16, ramp(30));
        QTest::newRow("ADPCM") << riff(formatChunk(2, 1, 8000, 4) + chunk("data", ramp(30)));
        QTest::newRow("zero rate") << pcmWave(1, 0, 16, ramp(30));
        QTest::newRow("format chunk too short") << riff(chunk("fmt ", "short") + chunk("data", ramp(8)));
        QTest::newRow("format chunk cut off")
            << riff(formatChunk(1, 1, 8000, 8) + chunk("data", ramp(8))).left(30);
        QTest::newRow("huge chunk before data")
            << riff(chunk("LIST", "abcd", 0xFFFFFFFFu) + formatChunk(1, 1, 8000, 8) + chunk("data", ramp(8)));
        QTest::newRow("text") << QByteArray("This is not a sound file at all, just some words.");
    }

    void rejectedFiles() {
        QFETCH(QByteArray, file);
        QVERIFY(!parse(file).has_value());
    }

    void everyCutOfAFileIsSafe() {
        // Every prefix is parsed; under the address sanitizer any read past the end shows up here.
        const QByteArray file =
            riff(chunk("LIST", "INFOx") + formatChunk(1, 2, 8000, 16) + chunk("data", ramp(40)));
        const qsizetype dataStart = file.indexOf("data") + 8;
        for (qsizetype length = 0; length <= file.size(); ++length) {
            const QByteArray cut = file.left(length);
            // A heap copy of exactly this size, so that the sanitizer sees its end.
            std::vector<std::uint8_t> bytes(cut.begin(), cut.end());
            const std::optional<WaveSound> sound = parseWave(bytes);
            QCOMPARE(sound.has_value(), length >= dataStart + 4);
        }
    }

    void randomBytesAreSafe() {
        QRandomGenerator random(20240611);
        for (int round = 0; round < 2000; ++round) {
            std::vector<std::uint8_t> bytes(random.bounded(1, 200));
            for (std::uint8_t& byte : bytes)
                byte = static_cast<std::uint8_t>(random.bounded(256));
            if (round % 2 == 0 && bytes.size() >= 12) {
                // Half of the rounds pass the signature check and reach the chunk walk.
                std::memcpy(bytes.data(), "RIFF", 4);
                std::memcpy(bytes.data() + 8, "WAVE", 4);
            }
            const std::optional<WaveSound> sound = parseWave(bytes);
            if (sound) {
                QVERIFY(sound->frameCount() > 0);
                QVERIFY(sound->samples.size() <= bytes.size());
            }
        }
    }

    void loadsFileAndRejectsMissingOne() {
        QTemporaryDir temporary;
        QVERIFY(temporary.isValid());
        const QString path = temporary.filePath("tick.wav");
        QVERIFY(writeFile(path, pcmWave(1, 8000, 8, ramp(80))));
        const std::optional<WaveSound> sound = loadWaveFile(path.toStdString());
        QVERIFY(sound.has_value());
        QCOMPARE(samplesOf(*sound), ramp(80));
        QVERIFY(!loadWaveFile(temporary.filePath("missing.wav").toStdString()).has_value());
        QVERIFY(!loadWaveFile(temporary.path().toStdString()).has_value());
    }

    void durationFromHeaders_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("milliseconds");
        QTest::newRow("16-bit stereo, one second") << pcmWave(2, 44100, 16, QByteArray(176400, 'x')) << 1000;
        QTest::newRow("8-bit mono, half a second") << pcmWave(1, 8000, 8, QByteArray(4000, 'x')) << 500;
        QTest::newRow("other chunks first, odd size")
            << riff(chunk("LIST", "INFOx") + formatChunk(1, 1, 8000, 16) + chunk("fact", "1234") +
                    chunk("data", QByteArray(4000, 'x')))
            << 250;
        // A byte rate is all it takes: encodings the player cannot decode still last their length.
        QTest::newRow("floating-point samples")
            << riff(formatChunk(3, 1, 8000, 32) + chunk("data", QByteArray(16000, 'x'))) << 500;
        QTest::newRow("data size beyond end of file")
            << riff(formatChunk(1, 1, 8000, 8) + chunk("data", QByteArray(800, 'x'), 0xFFFFFFFFu)) << 100;
        QTest::newRow("empty data") << riff(formatChunk(1, 1, 8000, 8) + chunk("data", {})) << 0;
        QTest::newRow("no data chunk") << riff(formatChunk(1, 1, 8000, 8)) << 0;
        QTest::newRow("data before format")
            << riff(chunk("data", QByteArray(800, 'x')) + formatChunk(1, 1, 8000, 8)) << 0;
        QTest::newRow("zero byte rate") << pcmWave(1, 0, 16, QByteArray(800, 'x')) << 0;
        QTest::newRow("format chunk too short") << riff(chunk("fmt ", "short") + chunk("data", ramp(8))) << 0;
        QTest::newRow("huge chunk before data")
            << riff(chunk("LIST", "abcd", 0xFFFFFFFFu) + formatChunk(1, 1, 8000, 8) + chunk("data", ramp(8)))
            << 0;
        QTest::newRow("header cut off") << pcmWave(1, 8000, 8, QByteArray(800, 'x')).left(30) << 0;
        QTest::newRow("not WAVE") << QByteArray("RIFF\x04\0\0\0AVI ", 12) << 0;
        QTest::newRow("empty file") << QByteArray() << 0;
    }

    void durationFromHeaders() {
        QFETCH(QByteArray, file);
        QFETCH(int, milliseconds);
        QTemporaryDir temporary;
        QVERIFY(temporary.isValid());
        const QString path = temporary.filePath("sound.wav");
        QVERIFY(writeFile(path, file));
        QCOMPARE(waveDuration(path.toStdString()).count(), milliseconds);
    }

    void missingOrUnreadableFileLastsNothing() {
        QTemporaryDir temporary;
        QVERIFY(temporary.isValid());
        QCOMPARE(waveDuration(temporary.filePath("missing.wav").toStdString()).count(), 0);
        QCOMPARE(waveDuration(temporary.path().toStdString()).count(), 0);
    }

    void bellIsAShortToneThatFadesOut() {
        const WaveSound bell = bellSound();
        QCOMPARE(int{bell.channels}, 1);
        QCOMPARE(int{bell.bitsPerSample}, 16);
        const double seconds = static_cast<double>(bell.frameCount()) / bell.sampleRate;
        QVERIFY(seconds > 0.1 && seconds < 0.3);
        int loudest = 0;
        for (std::size_t frame = 0; frame < bell.frameCount(); ++frame)
            loudest = std::max(loudest, std::abs(sampleAt(bell, frame)));
        QVERIFY(loudest > 5000);
        // Soft at both ends, so that neither start nor end clicks.
        QVERIFY(std::abs(sampleAt(bell, 0)) < 500);
        QVERIFY(std::abs(sampleAt(bell, bell.frameCount() - 1)) < loudest / 10);
    }
};

QTEST_GUILESS_MAIN(WaveSoundTest)
#include "wave_sound_test.moc"
