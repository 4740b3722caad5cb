#pragma once

// What the window's view of a run shows on: the captions, the window's state and pointer, the
// animated icon and the progress bar, and one pass of pending events. The main window implements it
// with widgets; tests implement it without a display.

#include <cstdint>
#include <string>

namespace vellum {

class ProgressBar {
public:
    virtual ~ProgressBar() = default;
    // A position outside 0..100 is kept and read back as given; the bar shows it clamped.
    virtual std::int32_t position() const = 0;
    virtual void setPosition(std::int32_t position) = 0;
};

class RunDisplay {
public:
    virtual ~RunDisplay() = default;

    virtual void setTitle(const std::string& title) = 0;
    virtual bool isMinimized() const = 0;
    virtual void showNormalAndRepaint() = 0;
    virtual void setBusyPointer(bool busy) = 0;
    virtual void setAnimationEnabled(bool enabled) = 0;

    virtual void setFolderCaption(const std::string& text) = 0;
    virtual void setArchiveCaption(const std::string& text) = 0;
    virtual void setStatusCaption(const std::string& text) = 0;
    virtual void setCountsCaption(const std::string& text) = 0;
    // Moves the keyboard focus to a control that shows none, so that no button looks pressed.
    virtual void parkFocus() = 0;

    // Dispatches every window event already pending, then returns.
    virtual void letEventsThrough() = 0;

    virtual ProgressBar& progressBar() = 0;
};

} // namespace vellum
