#pragma once

// Stand-ins for what a run drives, for tests that need no display: a window that records what it
// was shown, a progress bar, a folder picker with a scripted answer, and a scripted archive
// component for the outcomes real archives cannot produce on cue.

#include "run_window.h"
#include "zip/zip_tester.h"

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

// A main window without a display: it records captions and lets a test act at each yield.
class FakeRunWindow final : public RunWindow {
public:
    FakeRunWindow() : zip(std::make_unique<ZipTester>()) {}

    void setCaption(const std::string& text) override { caption = text; }
    bool isMinimized() const override { return minimized; }
    void showNormalAndRepaint() override { minimized = false; }
    void setBusyPointer(bool busy) override { busyPointer = busy; }
    void setAnimationEnabled(bool enabled) override { animationEnabled = enabled; }
    void setPanel1Caption(const std::string& text) override {
        panel1 = text;
        if (!text.empty())
            panel1History.push_back(text);
    }
    void setLabel1Caption(const std::string& text) override { label1 = text; }
    void setLabel2Caption(const std::string& text) override { label2 = text; }
    void setLabel3Caption(const std::string& text) override { label3 = text; }
    void focusOption1() override { option1Focused = true; }
    void yieldToEvents() override {
        ++yields;
        if (onYield)
            onYield();
    }
    void closeWindow() override { closed = true; }
    ProgressBar& progressBar() override { return progress; }
    FolderBrowser& browseDialog() override { return picker; }
    ArchiveTester& zipTester() override { return *zip; }

    std::string caption = "Vellum";
    bool minimized = false;
    bool busyPointer = false;
    bool animationEnabled = true;
    std::string panel1, label1, label2, label3;
    std::vector<std::string> panel1History;
    bool option1Focused = false;
    bool closed = false;
    int yields = 0;
    std::function<void()> onYield;
    FakeProgressBar progress;
    FakeFolderPicker picker;
    std::unique_ptr<ArchiveTester> zip;
};

} // namespace vellum::testing
