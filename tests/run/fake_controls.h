#pragma once

// Stand-ins for what a run drives, for tests that need no display: a window that records what it
// was shown, a progress bar, a folder picker with a scripted answer, and a scripted archive
// component for the outcomes real archives cannot produce on cue.

#include "control_ids.h"
#include "run_window.h"
#include "zip_tester.h"

#include <QtTest>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vellum::testing {

class FakeProgressBar final : public Dispatch {
public:
    std::optional<DispatchValue> invoke(std::int32_t dispatchId, DispatchKind kind,
                                        std::span<const DispatchValue> arguments) override {
        if (dispatchId != ProgressBarDispatchId::Position)
            return std::nullopt;
        if (kind == DispatchKind::PropertyGet)
            return DispatchValue{position};
        if (kind == DispatchKind::PropertyPut && arguments.size() == 1 &&
            std::holds_alternative<std::int16_t>(arguments[0])) {
            position = std::get<std::int16_t>(arguments[0]);
            writes.push_back(position);
            return DispatchValue{};
        }
        return std::nullopt;
    }
    std::int32_t position = 0;
    std::vector<std::int32_t> writes;
};

class FakeFolderPicker final : public Dispatch {
public:
    std::optional<DispatchValue> invoke(std::int32_t dispatchId, DispatchKind kind,
                                        std::span<const DispatchValue> arguments) override {
        using namespace BrowseDialogDispatchId;
        if (dispatchId == Browse && kind == DispatchKind::Method) {
            ++browseCalls;
            return DispatchValue{!chosenFolder.empty()};
        }
        if (dispatchId == ChosenFolder && kind == DispatchKind::PropertyGet)
            return DispatchValue{chosenFolder};
        if (dispatchId == SelectionText && kind == DispatchKind::PropertyPut && arguments.size() == 1) {
            selectionText = std::get<std::string>(arguments[0]);
            return DispatchValue{};
        }
        return std::nullopt;
    }
    std::string chosenFolder; // empty: the user cancels
    std::string selectionText;
    int browseCalls = 0;
};

// Answers every probe and verify with the results scripted for the archive's file name (the part
// after the last '/'), and records the archives in the order they were tested.
class ScriptedZipTester final : public Dispatch {
public:
    struct Script {
        std::int16_t probe = 0;
        std::int16_t verify = 0;
    };

    std::optional<DispatchValue> invoke(std::int32_t dispatchId, DispatchKind kind,
                                        std::span<const DispatchValue> arguments) override {
        if (refusedDispatchId == dispatchId && tested.size() >= refuseAfterArchives)
            return std::nullopt;
        if (kind == DispatchKind::PropertyPut) {
            if (dispatchId == ZipDispatchId::ArchiveName)
                archiveName = std::get<std::string>(arguments[0]);
            if (dispatchId == ZipDispatchId::Abort)
                abort = std::get<bool>(arguments[0]);
            return DispatchValue{};
        }
        if (kind == DispatchKind::PropertyGet) {
            if (dispatchId == ZipDispatchId::ArchiveName)
                return DispatchValue{archiveName};
            if (dispatchId == ZipDispatchId::Abort)
                return DispatchValue{abort};
            return std::nullopt;
        }
        const Script script = scriptFor(archiveName);
        if (dispatchId == ZipDispatchId::ProbeArchive) {
            tested.push_back(archiveName);
            if (duringProbe)
                duringProbe();
            return DispatchValue{script.probe};
        }
        if (dispatchId == ZipDispatchId::VerifyArchive) {
            verified.push_back(archiveName);
            return DispatchValue{script.verify};
        }
        return std::nullopt;
    }

    Script scriptFor(const std::string& path) const {
        const std::string name = path.substr(path.rfind('/') + 1);
        const auto found = scripts.find(name);
        return found == scripts.end() ? Script{} : found->second;
    }

    std::map<std::string, Script> scripts;
    std::vector<std::string> tested;
    std::vector<std::string> verified;
    std::string archiveName;
    bool abort = false;
    std::function<void()> duringProbe;
    std::int32_t refusedDispatchId = -1;
    std::size_t refuseAfterArchives = 0;
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
    Dispatch& progressBar() override { return progress; }
    Dispatch& browseDialog() override { return picker; }
    Dispatch& zipTester() override { return *zip; }

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
    std::unique_ptr<Dispatch> zip;
};

} // namespace vellum::testing
