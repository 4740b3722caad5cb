#include "sound.h"

#include "alsa_output.h"
#include "threaded_sound_player.h"

#include <mutex>
#include <system_error>
#include <thread>

namespace vellum::platform {

namespace {

class ThreadedSoundPlayer final : public SoundPlayer {
public:
    explicit ThreadedSoundPlayer(SoundRenderer renderer) : m_renderer(std::move(renderer)) {}

    ~ThreadedSoundPlayer() override {
        const std::lock_guard lock(m_mutex);
        stopPlaying();
    }

    ThreadedSoundPlayer(const ThreadedSoundPlayer&) = delete;
    ThreadedSoundPlayer& operator=(const ThreadedSoundPlayer&) = delete;

    void play(const std::string& path, SoundMode mode) override {
        const std::lock_guard lock(m_mutex);
        stopPlaying();
        m_stop = false;
        if (mode == SoundMode::Synchronous) {
            render(path);
            return;
        }
        // Decoding happens on the background thread too, so that even a large file returns at once.
        try {
            m_worker = std::thread([this, path] { render(path); });
        } catch (const std::system_error&) {
            // Without a thread to spare the sound is skipped; a sound is never worth a failure.
        }
    }

private:
    void render(const std::string& path) {
        const std::optional<WaveSound> sound = loadWaveFile(path);
        m_renderer(sound ? *sound : bellSound(), m_stop);
    }

    void stopPlaying() {
        m_stop = true;
        if (m_worker.joinable())
            m_worker.join();
    }

    SoundRenderer m_renderer;
    std::mutex m_mutex;
    std::thread m_worker;
    std::atomic<bool> m_stop = false;
};

} // namespace

std::unique_ptr<SoundPlayer> createThreadedSoundPlayer(SoundRenderer renderer) {
    return std::make_unique<ThreadedSoundPlayer>(std::move(renderer));
}

std::unique_ptr<SoundPlayer> createSystemSoundPlayer() {
    return createThreadedSoundPlayer(renderThroughAlsa);
}

} // namespace vellum::platform
