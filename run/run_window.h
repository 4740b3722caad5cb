#pragma once

// What the test run needs of the main window: captions, the window's state and pointer, the
// animated icon, one pass of pending events, and the three controls without a caption of their own:
// the progress bar, the folder picker and the archive component. The real window implements it
// with widgets; tests implement it without a display.

#include "zip/archive_tester.h"

#include <cstdint>
#include <functional>
#include <string>

namespace vellum {

class ProgressBar {
public:
    virtual ~ProgressBar() = default;
    // A position outside 0..100 is kept and read back as given; the bar shows it clamped.
    virtual std::int32_t position() const = 0;
    virtual void setPosition(std::int32_t position) = 0;
};

class FolderBrowser {
public:
    virtual ~FolderBrowser() = default;
    // Shows the modal picker; true when the user chose a folder, false when they cancelled.
    virtual bool browse() = 0;
    virtual std::string chosenFolder() const = 0;
    // The text shown under the tree, written by the selection-changed handler.
    virtual void setSelectionText(const std::string& text) = 0;

    // Raised with the newly selected folder each time the selection changes while the picker is open.
    std::function<void(std::string& selection, std::int32_t reserved)> onSelectionChanged;
};

class RunWindow {
public:
    virtual ~RunWindow() = default;

    virtual void setCaption(const std::string& caption) = 0;
    virtual bool isMinimized() const = 0;
    virtual void showNormalAndRepaint() = 0;
    virtual void setBusyPointer(bool busy) = 0;
    virtual void setAnimationEnabled(bool enabled) = 0;

    virtual void setPanel1Caption(const std::string& text) = 0;
    virtual void setLabel1Caption(const std::string& text) = 0;
    virtual void setLabel2Caption(const std::string& text) = 0;
    virtual void setLabel3Caption(const std::string& text) = 0;
    virtual void focusOption1() = 0;

    // Dispatches every window event already pending, then returns.
    virtual void yieldToEvents() = 0;
    // Closes (unloads) the main window.
    virtual void closeWindow() = 0;

    virtual ProgressBar& progressBar() = 0;
    virtual FolderBrowser& browseDialog() = 0;
    virtual ArchiveTester& zipTester() = 0;
};

} // namespace vellum
