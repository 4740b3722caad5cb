#pragma once

// The real main window with its real handlers, on the offscreen platform, with a scripted folder
// picker and recording sound and launcher services; its report files go to a temporary folder.

#include "../run/fake_controls.h"
#include "form1.h"
#include "recording_services.h"
#include "shell.h"
#include "single_instance.h"

#include <QTemporaryDir>

namespace vellum::testing {

struct Window {
    explicit Window(std::string commandLine = {})
        : shell(form, state,
                ShellServices{applicationDir.path().toStdString(), std::move(commandLine), sound, launcher,
                              singleInstance}) {
        auto fakePicker = std::make_unique<FakeFolderPicker>();
        picker = fakePicker.get();
        form.replaceBrowseDialog(std::move(fakePicker));
        form.show();
    }

    // Puts a scripted component in the real one's place, for runs that must stop at an exact moment.
    ScriptedZipTester& useScriptedComponent() {
        auto scripted = std::make_unique<ScriptedZipTester>();
        ScriptedZipTester& reference = *scripted;
        form.replaceZipTester(std::move(scripted));
        return reference;
    }

    QString logPath() const { return applicationDir.path() + "/errors.log"; }
    std::string folder() const { return applicationDir.path().toStdString(); }

    QTemporaryDir applicationDir;
    RunState state;
    platform::RecordingSoundPlayer sound;
    platform::RecordingLauncher launcher;
    platform::SingleInstance singleInstance{"VellumWindowTest"};
    Form1 form;
    Shell shell;
    FakeFolderPicker* picker = nullptr;
};

} // namespace vellum::testing
