#pragma once

// Stand-ins for the sound player and the launcher that record what they were asked for and neither
// play nor start anything, so that tests of the run and the windows can check the requests.

#include "launcher.h"
#include "sound.h"

#include <string>
#include <vector>

namespace vellum::platform {

class RecordingSoundPlayer final : public SoundPlayer {
public:
    struct Request {
        std::string path;
        SoundMode mode;
    };
    void play(const std::string& path, SoundMode mode) override { requests.push_back({path, mode}); }
    std::vector<Request> requests;
};

class RecordingLauncher final : public Launcher {
public:
    struct Request {
        std::string commandLine;
        WindowStyle style;
    };
    void start(const std::string& commandLine, WindowStyle style) override {
        requests.push_back({commandLine, style});
    }
    std::vector<Request> requests;
};

} // namespace vellum::platform
