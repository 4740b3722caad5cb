#pragma once

#include <string>

namespace vellum::platform {

// Shows a modal message box with an OK button and the stop icon, and waits until it is dismissed.
// Without a display (no message windows set, or Qt's offscreen or minimal platform) the text goes
// to standard error instead.
void showStopMessage(const std::string& text, const std::string& title);

// The same with the information icon, for what the user should know but is no failure.
void showNoteMessage(const std::string& text, const std::string& title);

enum class MessageKind { Stop, Note };
// Shows a message as a window and answers true, or answers false when it cannot.
using MessageWindow = bool (*)(MessageKind kind, const std::string& text, const std::string& title);
// Who shows messages as windows from now on; null for none. The window sets it while its
// application exists, so that a program without a window needs no window libraries for its
// messages.
void setMessageWindow(MessageWindow messageWindow);

} // namespace vellum::platform
