#include "condition_wait.h"
#include "sound.h"
#include "threaded_sound_player.h"
#include "wave_bytes.h"

#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <climits>
#include <condition_variable>
#include <mutex>

using namespace vellum::platform;
using namespace vellum::platform::testing;
using namespace vellum::testing;

namespace {

// A stand-in device. The first heldSounds sounds play until the test lets them finish or the
// player stops them, so that the test, not the clock, decides whether a sound is still playing;
// the sounds after them finish as soon as they start. The log says which sounds were played and
// how each ended. A held sound that nobody lets go finishes by itself after the wait timeout, so
// that a player that waits for it fails the test instead of hanging it.
class FakeDevice {
public:
    enum class Ending { Finished, Stopped };

    explicit FakeDevice(int heldSounds) : m_heldSounds(heldSounds) {}

    SoundRenderer renderer() {
        return [this](const WaveSound& sound, const std::atomic<bool>& stop) {
            std::unique_lock lock(m_mutex);
            const bool held = m_started < m_heldSounds;
            ++m_started;
            m_sampleCounts.push_back(sound.samples.size());
            const auto givenUp = std::chrono::steady_clock::now() + WaitTimeout;
            // The player raises stop without notifying anybody: like a real device's writing loop,
            // this one looks at it in short steps.
            while (held && !m_letFinish && !stop && std::chrono::steady_clock::now() < givenUp)
                m_letGo.wait_for(lock, std::chrono::milliseconds(1));
            m_endings.push_back(stop ? Ending::Stopped : Ending::Finished);
        };
    }

    void letHeldSoundsFinish() {
        {
            const std::lock_guard lock(m_mutex);
            m_letFinish = true;
        }
        m_letGo.notify_all();
    }

    int started() {
        const std::lock_guard lock(m_mutex);
        return m_started;
    }

    std::vector<Ending> endings() {
        const std::lock_guard lock(m_mutex);
        return m_endings;
    }

    std::vector<std::size_t> sampleCounts() {
        const std::lock_guard lock(m_mutex);
        return m_sampleCounts;
    }

private:
    const int m_heldSounds;
    std::mutex m_mutex;
    std::condition_variable m_letGo;
    bool m_letFinish = false;
    int m_started = 0;
    std::vector<std::size_t> m_sampleCounts;
    std::vector<Ending> m_endings;
};

using Ending = FakeDevice::Ending;

constexpr int EverySound = INT_MAX;
constexpr int NoSound = 0;

QByteArray framesOf(const WaveSound& sound) {
    return QByteArray(reinterpret_cast<const char*>(sound.samples.data()),
                      static_cast<qsizetype>(sound.frameCount() * sound.bytesPerFrame()));
}

} // namespace

class SoundPlayerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_temporary.isValid());
        m_waveSamples.resize(400);
        for (qsizetype index = 0; index < m_waveSamples.size(); ++index)
            m_waveSamples[index] = static_cast<char>(0x60 + index % 64);
        m_wavePath = m_temporary.filePath("tick.wav").toStdString();
        QVERIFY(writeFile(QString::fromStdString(m_wavePath), pcmWave(1, 8000, 8, m_waveSamples)));
        m_missingPath = m_temporary.filePath("missing.wav").toStdString();
        // The system player's device: ALSA's null device, which takes every frame at once, behind
        // the file plugin, which copies the frames it is given into a file.
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

    void synchronousReturnsWhenTheSoundHasEnded() {
        FakeDevice device(NoSound);
        const auto player = createThreadedSoundPlayer(device.renderer());
        player->play(m_wavePath, SoundMode::Synchronous);
        QCOMPARE(device.endings(), std::vector<Ending>{Ending::Finished});
        QCOMPARE(device.sampleCounts(), std::vector<std::size_t>{400});
    }

    void missingOrBrokenFilePlaysTheBell() {
        const std::string brokenPath = m_temporary.filePath("broken.wav").toStdString();
        QVERIFY(writeFile(QString::fromStdString(brokenPath), "RIFF, but nothing more"));
        FakeDevice device(NoSound);
        const auto player = createThreadedSoundPlayer(device.renderer());
        player->play(m_missingPath, SoundMode::Synchronous);
        player->play(brokenPath, SoundMode::Synchronous);
        const std::size_t bellSize = bellSound().samples.size();
        QCOMPARE(device.sampleCounts(), (std::vector<std::size_t>{bellSize, bellSize}));
    }

    void asynchronousReturnsWhileTheSoundPlays() {
        FakeDevice device(EverySound);
        const auto player = createThreadedSoundPlayer(device.renderer());
        player->play(m_wavePath, SoundMode::Asynchronous);
        // The device holds the sound until it is let go, so it has certainly not ended yet.
        QVERIFY(waitUntil([&] { return device.started() == 1; }));
        QVERIFY(device.endings().empty());
        device.letHeldSoundsFinish();
        QVERIFY(waitUntil([&] { return !device.endings().empty(); }));
        QCOMPARE(device.endings(), std::vector<Ending>{Ending::Finished});
    }

    void newPlayStopsTheOneStillPlaying_data() {
        QTest::addColumn<bool>("secondIsSynchronous");
        QTest::newRow("then asynchronous") << false;
        QTest::newRow("then synchronous") << true;
    }

    // The first sound would play until the test let it go; the second finishes at once.
    void newPlayStopsTheOneStillPlaying() {
        QFETCH(bool, secondIsSynchronous);
        FakeDevice device(1);
        const auto player = createThreadedSoundPlayer(device.renderer());
        player->play(m_wavePath, SoundMode::Asynchronous);
        QVERIFY(waitUntil([&] { return device.started() == 1; }));
        player->play(m_missingPath, secondIsSynchronous ? SoundMode::Synchronous : SoundMode::Asynchronous);
        if (!secondIsSynchronous)
            QVERIFY(waitUntil([&] { return device.endings().size() == 2; }));
        QCOMPARE(device.endings(), (std::vector<Ending>{Ending::Stopped, Ending::Finished}));
    }

    void destroyingStopsThePlayingSound() {
        FakeDevice device(EverySound);
        {
            const auto player = createThreadedSoundPlayer(device.renderer());
            player->play(m_wavePath, SoundMode::Asynchronous);
            QVERIFY(waitUntil([&] { return device.started() == 1; }));
        }
        // A destructor that waited for the sound's natural end would log it as finished.
        QCOMPARE(device.endings(), std::vector<Ending>{Ending::Stopped});
    }

    void systemPlayerPlaysThroughTheDevice_data() {
        QTest::addColumn<bool>("missingFile");
        QTest::addColumn<bool>("synchronous");
        QTest::newRow("file, synchronous") << false << true;
        QTest::newRow("file, asynchronous") << false << false;
        QTest::newRow("missing file, synchronous") << true << true;
        QTest::newRow("missing file, asynchronous") << true << false;
    }

    // A synchronous sound has reached the device when play returns; an asynchronous one gets
    // there on its own.
    void systemPlayerPlaysThroughTheDevice() {
        QFETCH(bool, missingFile);
        QFETCH(bool, synchronous);
        const QByteArray expected = missingFile ? framesOf(bellSound()) : m_waveSamples;
        const auto player = createSystemSoundPlayer();
        player->play(missingFile ? m_missingPath : m_wavePath,
                     synchronous ? SoundMode::Synchronous : SoundMode::Asynchronous);
        if (synchronous)
            QCOMPARE(deviceReceived(), expected);
        else
            QVERIFY(waitUntil([&] { return deviceReceived() == expected; }));
    }

    void systemPlayerDestroyedWhilePlaying() {
        {
            const auto player = createSystemSoundPlayer();
            player->play(m_missingPath, SoundMode::Asynchronous);
            player->play(m_wavePath, SoundMode::Asynchronous);
        }
        // The last sound reached the device in full or was stopped on the way.
        QVERIFY(m_waveSamples.startsWith(deviceReceived()));
    }

private:
    // What the system player's device was given since it was last opened.
    QByteArray deviceReceived() const {
        QFile device(m_devicePath);
        return device.open(QIODevice::ReadOnly) ? device.readAll() : QByteArray();
    }

    QTemporaryDir m_temporary;
    QByteArray m_waveSamples;
    std::string m_wavePath;
    std::string m_missingPath;
    QString m_devicePath;
};

QTEST_GUILESS_MAIN(SoundPlayerTest)
#include "sound_player_test.moc"
