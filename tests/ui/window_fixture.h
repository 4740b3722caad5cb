#pragma once

// The real main window with its real handlers and the real run, on the offscreen platform, with a
// scripted folder picker and recording sound and desktop services; its report files go to a
// temporary folder.

#include "../run/fake_controls.h"
#include "main_window.h"
#include "recording_services.h"
#include "single_instance.h"
#include "window_session.h"

#include <QTemporaryDir>

namespace vellum::testing {

struct Window {
    // With unattended inputs, the window tests them when start() is called, as start-up does. Given
    // other desktop services, the window uses them instead of the recording ones.
    explicit Window(std::optional<RunInputs> unattendedInputs = std::nullopt,
                    platform::DesktopServices* otherDesktop = nullptr)
        : run(RunSettings{ReportPlace{folder(), {}}, unattendedInputs.has_value()}),
          session(mainWindow, run,
                  WindowSessionServices{
                      folder(), sound, otherDesktop ? *otherDesktop : desktop, singleInstance, {}, true},
                  std::move(unattendedInputs)) {
        auto fakePicker = std::make_unique<FakeFolderPicker>();
        picker = fakePicker.get();
        mainWindow.replaceFolderPicker(std::move(fakePicker));
        mainWindow.show();
    }

    // Puts a scripted component in the real one's place, for runs that must stop at an exact moment.
    ScriptedZipTester& useScriptedComponent() {
        auto scripted = std::make_unique<ScriptedZipTester>();
        ScriptedZipTester& reference = *scripted;
        run.useTester(std::move(scripted));
        return reference;
    }

    QString logPath() const { return applicationDir.path() + "/errors.log"; }
    std::string folder() const { return applicationDir.path().toStdString(); }

    QTemporaryDir applicationDir;
    platform::RecordingSoundPlayer sound;
    platform::RecordingDesktop desktop;
    platform::SingleInstance singleInstance{"VellumWindowTest"};
    RunCore run;
    MainWindow mainWindow;
    WindowSession session;
    FakeFolderPicker* picker = nullptr;
};

} // namespace vellum::testing
