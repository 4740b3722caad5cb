#include "alsa_output.h"
#include "wave_sound.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace vellum::platform;

// Runs the ALSA output against ALSA's null device, which accepts every frame at once. That takes
// the whole path (opening, format set-up, writing, starting, closing) on machines without sound
// hardware, where the default device cannot even be opened.
class AlsaOutputTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_temporary.isValid());
        const QString configPath = m_temporary.filePath("asound.conf");
        QFile config(configPath);
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("pcm.!default {\n    type null\n}\n");
        config.close();
        qputenv("ALSA_CONFIG_PATH", configPath.toLocal8Bit());
    }

    void rendersEveryLayout_data() {
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("rate");
        QTest::newRow("8-bit mono") << 1 << 8 << 8000;
        QTest::newRow("8-bit stereo") << 2 << 8 << 11025;
        QTest::newRow("16-bit mono") << 1 << 16 << 22050;
        QTest::newRow("16-bit stereo") << 2 << 16 << 44100;
    }

    void rendersEveryLayout() {
        QFETCH(int, channels);
        QFETCH(int, bits);
        QFETCH(int, rate);
        WaveSound sound;
        sound.channels = static_cast<std::uint16_t>(channels);
        sound.bitsPerSample = static_cast<std::uint16_t>(bits);
        sound.sampleRate = static_cast<std::uint32_t>(rate);
        // Half a second: longer than the device buffer, so the writing goes round more than once.
        sound.samples.assign(static_cast<std::size_t>(rate / 2) * sound.bytesPerFrame() + 1, 0x80);
        const std::atomic<bool> stop = false;
        QElapsedTimer timer;
        timer.start();
        renderThroughAlsa(sound, stop);
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    }

    void bellAndStoppedSoundReturn() {
        const std::atomic<bool> running = false;
        renderThroughAlsa(bellSound(), running);
        const std::atomic<bool> stopped = true;
        QElapsedTimer timer;
        timer.start();
        renderThroughAlsa(bellSound(), stopped);
        QVERIFY(timer.elapsed() < 1000);
    }

    void emptySoundReturns() {
        const std::atomic<bool> stop = false;
        renderThroughAlsa(WaveSound{}, stop);
    }

private:
    QTemporaryDir m_temporary;
};

QTEST_GUILESS_MAIN(AlsaOutputTest)
#include "alsa_output_test.moc"
