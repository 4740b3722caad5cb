#pragma once

#include <string>

namespace vellum::platform {

// Shows a modal message box with an OK button and the stop icon, and waits until it is dismissed.
// Without a display (Qt's offscreen or minimal platform) the text goes to standard error instead.
void showStopMessage(const std::string& text, const std::string& title);

// The same with the information icon, for what the user should know but is no failure.
void showNoteMessage(const std::string& text, const std::string& title);

} // namespace vellum::platform
