#pragma once

// Plays WAV files. A file that is missing or cannot be decoded plays the default sound (a short
// bell tone). No sound device means silence: play never hangs and never fails loudly.

#include <memory>
#include <string>

namespace vellum::platform {

enum class SoundMode { Synchronous = 0, Asynchronous = 1 };

class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    // Asynchronous returns at once and stops a sound still playing; Synchronous returns when the
    // sound has finished.
    virtual void play(const std::string& path, SoundMode mode) = 0;
};

// Plays through the system's sound device.
std::unique_ptr<SoundPlayer> createSystemSoundPlayer();

} // namespace vellum::platform
