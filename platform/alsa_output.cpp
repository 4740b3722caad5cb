#include "alsa_output.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>

namespace vellum::platform {

namespace {

using Clock = std::chrono::steady_clock;

// ALSA reports every failure on standard error by default. A missing sound card is not worth a
// message to the person at the terminal, so its reports are dropped for the whole process.
void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

void silenceAlsaMessages() {
    static std::once_flag silenced;
    std::call_once(silenced, [] { snd_lib_error_set_handler(ignoreAlsaMessage); });
}

class PcmHandle {
public:
    PcmHandle() = default;
    ~PcmHandle() {
        if (m_pcm != nullptr) {
            snd_pcm_drop(m_pcm);
            snd_pcm_close(m_pcm);
        }
    }
    PcmHandle(const PcmHandle&) = delete;
    PcmHandle& operator=(const PcmHandle&) = delete;

    bool open() {
        // Non-blocking, so that a device held by another program fails at once instead of waiting.
        return snd_pcm_open(&m_pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) >= 0;
    }
    snd_pcm_t* get() const { return m_pcm; }

private:
    snd_pcm_t* m_pcm = nullptr;
};

// Writes every frame, waiting for room in the device buffer in short steps so that `stop` is seen.
bool writeFrames(snd_pcm_t* pcm, const WaveSound& sound, const std::atomic<bool>& stop,
                 Clock::time_point deadline) {
    const std::uint8_t* data = sound.samples.data();
    auto remaining = static_cast<snd_pcm_uframes_t>(sound.frameCount());
    while (remaining > 0) {
        if (stop || Clock::now() > deadline)
            return false;
        const snd_pcm_sframes_t written = snd_pcm_writei(pcm, data, remaining);
        if (written == -EAGAIN) {
            snd_pcm_wait(pcm, 50);
            continue;
        }
        if (written < 0) {
            if (snd_pcm_recover(pcm, static_cast<int>(written), 1) < 0)
                return false;
            continue;
        }
        data += static_cast<std::size_t>(written) * sound.bytesPerFrame();
        remaining -= static_cast<snd_pcm_uframes_t>(written);
    }
    return true;
}

// Waits until the device has played what it holds. The device leaves the running state when its
// buffer runs dry; the deadline guards against a device whose clock has stopped.
void waitUntilPlayed(snd_pcm_t* pcm, std::uint32_t rate, const std::atomic<bool>& stop,
                     Clock::time_point deadline) {
    // A sound shorter than the start threshold has not started by itself.
    if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED)
        snd_pcm_start(pcm);
    while (!stop && Clock::now() < deadline && snd_pcm_state(pcm) == SND_PCM_STATE_RUNNING) {
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_delay(pcm, &delay) < 0 || delay <= 0)
            return;
        const auto remaining = std::chrono::milliseconds(delay * 1000 / rate + 1);
        std::this_thread::sleep_for(std::min(remaining, std::chrono::milliseconds(20)));
    }
}

} // namespace

void renderThroughAlsa(const WaveSound& sound, const std::atomic<bool>& stop) {
    if (sound.frameCount() == 0 || sound.sampleRate == 0)
        return;
    silenceAlsaMessages();
    PcmHandle pcm;
    if (!pcm.open())
        return;
    const snd_pcm_format_t format = sound.bitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
    constexpr unsigned int latencyMicroseconds = 100000;
    if (snd_pcm_set_params(pcm.get(), format, SND_PCM_ACCESS_RW_INTERLEAVED, sound.channels, sound.sampleRate,
                           1, latencyMicroseconds) < 0)
        return;
    const auto length = std::chrono::milliseconds(sound.frameCount() * 1000 / sound.sampleRate);
    const auto deadline = Clock::now() + length + std::chrono::seconds(2);
    if (writeFrames(pcm.get(), sound, stop, deadline))
        waitUntilPlayed(pcm.get(), sound.sampleRate, stop, deadline);
}

} // namespace vellum::platform
