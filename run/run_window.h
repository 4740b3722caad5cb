#pragma once

// What the test run needs of the main window: captions, the window's state and pointer, the
// animated icon, one pass of pending events, and the three outside controls reached by dispatch ID.
// The real window implements it with widgets; tests implement it without a display.

#include "dispatch.h"

#include <string>

namespace vellum {

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

    virtual Dispatch& progressBar() = 0;
    virtual Dispatch& browseDialog() = 0;
    virtual Dispatch& zipTester() = 0;
};

} // namespace vellum
