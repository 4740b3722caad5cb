#pragma once

// Stand-ins for the sound player and the desktop services that record what they were asked for
// and neither play nor start anything, so that tests of the run and the windows can check the
// requests.

#include "desktop_services.h"
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

class RecordingDesktop final : public DesktopServices {
public:
    struct Request {
        DesktopIntent intent;
        std::string target;
        bool operator==(const Request&) const = default;
    };
    void openTextFile(const std::string& path) override {
        requests.push_back({DesktopIntent::TextFile, path});
    }
    void openManual(const std::string& helpFile) override {
        requests.push_back({DesktopIntent::Manual, helpFile});
    }
    void openWebPage(const std::string& address) override {
        requests.push_back({DesktopIntent::WebPage, address});
    }
    void composeMail(const std::string& address) override {
        requests.push_back({DesktopIntent::Mail, address});
    }
    void whenNotShown(NotShownHandler handler) override { notShown = std::move(handler); }
    std::vector<Request> requests;
    NotShownHandler notShown;
};

} // namespace vellum::platform
