#pragma once

// Messages as modal windows while the window's application exists.

#include "message_box.h"

namespace vellum::platform {

// Shows the messages of showStopMessage and showNoteMessage as message boxes while it lives, on a
// real display; created after the QApplication, gone before it.
class MessageWindows final {
public:
    MessageWindows();
    ~MessageWindows();
    MessageWindows(const MessageWindows&) = delete;
    MessageWindows& operator=(const MessageWindows&) = delete;
};

} // namespace vellum::platform
