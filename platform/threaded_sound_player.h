#pragma once

// The machinery behind the sound players: each sound is decoded and rendered away from the caller,
// and a new request stops the one before it. The rendering itself is passed in, so the device
// can be replaced.

#include "sound.h"
#include "wave_sound.h"

#include <atomic>
#include <functional>
#include <memory>

namespace vellum::platform {

// Renders a decoded sound until it has been heard to its end or until `stop` turns true. It must
// look at `stop` often (every few tens of milliseconds) and must not wait without bound.
using SoundRenderer = std::function<void(const WaveSound& sound, const std::atomic<bool>& stop)>;

// Plays each file through `renderer`; a missing or undecodable file renders the bell sound instead.
std::unique_ptr<SoundPlayer> createThreadedSoundPlayer(SoundRenderer renderer);

} // namespace vellum::platform
