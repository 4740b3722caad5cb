#include "sound.h"
#include "threaded_sound_player.h"
#include "wave_bytes.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace vellum::platform;
using namespace vellum::platform::testing;
using namespace std::chrono_literals;

namespace {

// A stand-in device: each sound "plays" for a set time unless it is stopped first, and the log
// says which sounds were played and whether each ran to its end. The first sound may be given a
// different length from the ones after it.
class FakeDevice {
public:
    explicit FakeDevice(std::chrono::milliseconds length) : FakeDevice(length, length) {}
    FakeDevice(std::chrono::milliseconds firstLength, std::chrono::milliseconds laterLength)
        : m_firstLength(firstLength), m_laterLength(laterLength) {}

    SoundRenderer renderer() {
        return [this](const WaveSound& sound, const std::atomic<bool>& stop) {
            std::chrono::milliseconds length{};
            {
                const std::lock_guard lock(m_mutex);
                length = m_started == 0 ? m_firstLength : m_laterLength;
                ++m_started;
                m_sampleCounts.push_back(sound.samples.size());
            }
            m_changed.notify_all();
            const auto end = std::chrono::steady_clock::now() + length;
            while (!stop && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(2ms);
            const std::lock_guard lock(m_mutex);
            m_endings.push_back(stop ? Ending::Stopped : Ending::Finished);
        };
    }

    enum class Ending { Finished, Stopped };

    bool waitUntilStarted(int count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 5s, [&] { return m_started >= count; });
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
    std::chrono::milliseconds m_firstLength;
    std::chrono::milliseconds m_laterLength;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_started = 0;
    std::vector<std::size_t> m_sampleCounts;
    std::vector<Ending> m_endings;
};

using Ending = FakeDevice::Ending;

} // namespace

class SoundPlayerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_temporary.isValid());
        m_wavePath = m_temporary.filePath("tick.wav").toStdString();
        QVERIFY(writeFile(QString::fromStdString(m_wavePath), pcmWave(1, 8000, 8, QByteArray(400, '\x80'))));
        m_missingPath = m_temporary.filePath("missing.wav").toStdString();
    }

    void synchronousWaitsForTheEnd() {
        FakeDevice device(150ms);
        const auto player = createThreadedSoundPlayer(device.renderer());
        QElapsedTimer timer;
        timer.start();
        player->play(m_wavePath, SoundMode::Synchronous);
        QVERIFY(timer.elapsed() >= 140);
        QCOMPARE(device.endings(), std::vector<Ending>{Ending::Finished});
        QCOMPARE(device.sampleCounts(), std::vector<std::size_t>{400});
    }

    void missingOrBrokenFilePlaysTheBell() {
        const std::string brokenPath = m_temporary.filePath("broken.wav").toStdString();
        QVERIFY(writeFile(QString::fromStdString(brokenPath), "RIFF, but nothing more"));
        FakeDevice device(0ms);
        const auto player = createThreadedSoundPlayer(device.renderer());
        player->play(m_missingPath, SoundMode::Synchronous);
        player->play(brokenPath, SoundMode::Synchronous);
        const std::size_t bellSize = bellSound().samples.size();
        QCOMPARE(device.sampleCounts(), (std::vector<std::size_t>{bellSize, bellSize}));
    }

    void asynchronousReturnsAtOnce() {
        FakeDevice device(3s);
        const auto player = createThreadedSoundPlayer(device.renderer());
        QElapsedTimer timer;
        timer.start();
        player->play(m_wavePath, SoundMode::Asynchronous);
        QVERIFY(timer.elapsed() < 1000);
        QVERIFY(device.waitUntilStarted(1));
    }

    void newPlayStopsTheOneStillPlaying_data() {
        QTest::addColumn<bool>("secondIsSynchronous");
        QTest::newRow("then asynchronous") << false;
        QTest::newRow("then synchronous") << true;
    }

    void newPlayStopsTheOneStillPlaying() {
        QFETCH(bool, secondIsSynchronous);
        FakeDevice device(10s, 50ms);
        const auto player = createThreadedSoundPlayer(device.renderer());
        player->play(m_wavePath, SoundMode::Asynchronous);
        QVERIFY(device.waitUntilStarted(1));
        QElapsedTimer timer;
        timer.start();
        player->play(m_missingPath, secondIsSynchronous ? SoundMode::Synchronous : SoundMode::Asynchronous);
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(device.waitUntilStarted(2));
        QCOMPARE(device.endings().front(), Ending::Stopped);
        if (secondIsSynchronous)
            QCOMPARE(device.endings(), (std::vector<Ending>{Ending::Stopped, Ending::Finished}));
    }

    void destroyingStopsThePlayingSound() {
        FakeDevice device(10s);
        {
            const auto player = createThreadedSoundPlayer(device.renderer());
            player->play(m_wavePath, SoundMode::Asynchronous);
            QVERIFY(device.waitUntilStarted(1));
        }
        // A destructor that waited for the natural end would log the sound as finished, ten seconds later.
        QCOMPARE(device.endings(), std::vector<Ending>{Ending::Stopped});
    }

    void systemPlayerReturnsPromptly_data() {
        QTest::addColumn<bool>("missingFile");
        QTest::addColumn<bool>("synchronous");
        QTest::newRow("file, synchronous") << false << true;
        QTest::newRow("file, asynchronous") << false << false;
        QTest::newRow("missing file, synchronous") << true << true;
        QTest::newRow("missing file, asynchronous") << true << false;
    }

    void systemPlayerReturnsPromptly() {
        // With a sound device the sounds are heard (a fraction of a second each); without one they
        // are skipped silently. Either way nothing may hang.
        QFETCH(bool, missingFile);
        QFETCH(bool, synchronous);
        QElapsedTimer timer;
        timer.start();
        {
            const auto player = createSystemSoundPlayer();
            player->play(missingFile ? m_missingPath : m_wavePath,
                         synchronous ? SoundMode::Synchronous : SoundMode::Asynchronous);
            if (!synchronous)
                QVERIFY(timer.elapsed() < 1000);
        }
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    }

    void systemPlayerDestroyedWhilePlaying() {
        QElapsedTimer timer;
        timer.start();
        {
            const auto player = createSystemSoundPlayer();
            player->play(m_missingPath, SoundMode::Asynchronous);
            player->play(m_wavePath, SoundMode::Asynchronous);
        }
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    }

private:
    QTemporaryDir m_temporary;
    std::string m_wavePath;
    std::string m_missingPath;
};

QTEST_GUILESS_MAIN(SoundPlayerTest)
#include "sound_player_test.moc"
