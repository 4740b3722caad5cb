#pragma once

// Stand-ins for what a run drives, for tests that need no display: a window display that records
// what it was shown, a progress bar, a folder picker with a scripted answer, and a scripted archive
// component for the outcomes real archives cannot produce on cue.

#include "folder_picker.h"
#include "run_display.h"
#include "zip/archive_tester.h"

#include <QtTest>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vellum::testing {

class FakeProgressBar final : public ProgressBar {
public:
    std::int32_t position() const override { return positionNow; }
    void setPosition(std::int32_t position) override {
        positionNow = position;
        writes.push_back(position);
    }
    std::int32_t positionNow = 0;
    std::vector<std::int32_t> writes;
};

class FakeFolderPicker final : public FolderBrowser {
public:
    bool browse() override {
        ++browseCalls;
        return !chosen.empty();
    }
    std::string chosenFolder() const override { return chosen; }
    void setSelectionText(const std::string& text) override { selectionText = text; }

    std::string chosen; // empty: the user cancels
    std::string selectionText;
    int browseCalls = 0;
};

// Answers every probe and verify with the results scripted for the archive's file name (the part
// after the last '/'), and records the archives in the order they were tested.
class ScriptedZipTester final : public ArchiveTester {
public:
    struct Script {
        std::int16_t probe = 0;
        std::int16_t verify = 0;
    };

    std::int16_t probeArchive() override {
        tested.push_back(archiveName);
        if (duringProbe)
            duringProbe();
        return scriptFor(archiveName).probe;
    }
    std::int16_t verifyArchive() override {
        verified.push_back(archiveName);
        return scriptFor(archiveName).verify;
    }
    void expectArchives(std::vector<std::string> paths, const ArchiveTestPlan&) override {
        announced = std::move(paths);
    }
    void expectMoreArchives(std::vector<std::string> paths, const ArchiveTestPlan&) override {
        announced.insert(announced.end(), paths.begin(), paths.end());
    }
    void dropExpectedArchives() override { announced.clear(); }

    Script scriptFor(const std::string& path) const {
        const std::string name = path.substr(path.rfind('/') + 1);
        const auto found = scripts.find(name);
        return found == scripts.end() ? Script{} : found->second;
    }

    std::map<std::string, Script> scripts;
    std::vector<std::string> tested;
    std::vector<std::string> verified;
    std::vector<std::string> announced;
    std::function<void()> duringProbe;
};

// A main window's display without a display: it records captions and lets a test act at each
// pass of events.
class FakeRunDisplay final : public RunDisplay {
public:
    void setTitle(const std::string& text) override { title = text; }
    bool isMinimized() const override { return minimized; }
    void showNormalAndRepaint() override { minimized = false; }
    void setBusyPointer(bool busy) override { busyPointer = busy; }
    void setAnimationEnabled(bool enabled) override { animationEnabled = enabled; }
    void setFolderCaption(const std::string& text) override {
        folderCaption = text;
        if (!text.empty())
            folderCaptionHistory.push_back(text);
    }
    void setArchiveCaption(const std::string& text) override { archiveCaption = text; }
    void setStatusCaption(const std::string& text) override { statusCaption = text; }
    void setCountsCaption(const std::string& text) override { countsCaption = text; }
    void parkFocus() override { focusParked = true; }
    void letEventsThrough() override {
        ++passes;
        if (onPass)
            onPass();
    }
    ProgressBar& progressBar() override { return progress; }

    std::string title = "Vellum";
    bool minimized = false;
    bool busyPointer = false;
    bool animationEnabled = true;
    std::string folderCaption, archiveCaption, statusCaption, countsCaption;
    std::vector<std::string> folderCaptionHistory;
    bool focusParked = false;
    int passes = 0;
    std::function<void()> onPass;
    FakeProgressBar progress;
};

} // namespace vellum::testing
