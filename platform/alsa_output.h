#pragma once

#include "wave_sound.h"

#include <atomic>

namespace vellum::platform {

// Plays a sound through ALSA's "default" device and returns when it has been heard or `stop` turned
// true. Without a usable device it returns at once, silently: no sound card is normal on servers.
void renderThroughAlsa(const WaveSound& sound, const std::atomic<bool>& stop);

} // namespace vellum::platform
