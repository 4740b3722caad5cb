#include "alsa_output.h"
#include "wave_sound.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace vellum::platform;

namespace {

// The bytes of a sound's whole frames, as a device receives them.
QByteArray framesOf(const WaveSound& sound) {
    return QByteArray(reinterpret_cast<const char*>(sound.samples.data()),
                      static_cast<qsizetype>(sound.frameCount() * sound.bytesPerFrame()));
}

} // namespace

// Runs the ALSA output against a device made of ALSA's null device, which accepts every frame at
// once, behind ALSA's file plugin, which copies every frame it passes on into a file. That takes
// the whole path (opening, format set-up, writing, starting, closing) on machines without sound
// hardware, where the default device cannot even be opened, and shows what the device was given.
class AlsaOutputTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_temporary.isValid());
        m_devicePath = m_temporary.filePath("device.raw");
        const QString configPath = m_temporary.filePath("asound.conf");
        QFile config(configPath);
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("pcm.!default {\n    type file\n    slave.pcm { type null }\n    file \"" +
                     QFile::encodeName(m_devicePath) + "\"\n    format \"raw\"\n}\n");
        config.close();
        qputenv("ALSA_CONFIG_PATH", configPath.toLocal8Bit());
    }

    void init() { QFile::remove(m_devicePath); }

    void rendersEveryLayout_data() {
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("rate");
        QTest::newRow("8-bit mono") << 1 << 8 << 8000;
        QTest::newRow("8-bit stereo") << 2 << 8 << 11025;
        QTest::newRow("16-bit mono") << 1 << 16 << 22050;
        QTest::newRow("16-bit stereo") << 2 << 16 << 44100;
    }

    // Returns only once the device has been given every frame, in order.
    void rendersEveryLayout() {
        QFETCH(int, channels);
        QFETCH(int, bits);
        QFETCH(int, rate);
        WaveSound sound;
        sound.channels = static_cast<std::uint16_t>(channels);
        sound.bitsPerSample = static_cast<std::uint16_t>(bits);
        sound.sampleRate = static_cast<std::uint32_t>(rate);
        // Half a second: longer than the device buffer, so the writing goes round more than once.
        // The byte after the last whole frame is no frame and must not reach the device.
        sound.samples.resize(static_cast<std::size_t>(rate / 2) * sound.bytesPerFrame() + 1);
        for (std::size_t index = 0; index < sound.samples.size(); ++index)
            sound.samples[index] = static_cast<std::uint8_t>(index * 7 + index / 251);
        const std::atomic<bool> stop = false;
        renderThroughAlsa(sound, stop);
        QCOMPARE(deviceReceived(), framesOf(sound));
    }

    void bellAndStoppedSoundReturn() {
        const std::atomic<bool> running = false;
        renderThroughAlsa(bellSound(), running);
        QCOMPARE(deviceReceived(), framesOf(bellSound()));
        // Stopped before it began: the device is given nothing.
        const std::atomic<bool> stopped = true;
        renderThroughAlsa(bellSound(), stopped);
        QCOMPARE(deviceReceived(), QByteArray());
    }

    void emptySoundReturns() {
        const std::atomic<bool> stop = false;
        renderThroughAlsa(WaveSound{}, stop);
        QCOMPARE(deviceReceived(), QByteArray());
    }

private:
    // Nothing when the device was never opened.
    QByteArray deviceReceived() const {
        QFile device(m_devicePath);
        return device.open(QIODevice::ReadOnly) ? device.readAll() : QByteArray();
    }

    QTemporaryDir m_temporary;
    QString m_devicePath;
};

QTEST_GUILESS_MAIN(AlsaOutputTest)
#include "alsa_output_test.moc"
