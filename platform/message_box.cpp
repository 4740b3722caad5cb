#include "message_box.h"

#include <atomic>
#include <cstdio>

namespace vellum::platform {

namespace {

std::atomic<MessageWindow> shownMessageWindow{nullptr};

// Standard error gets one line per message, so line breaks inside the text become blanks.
std::string asOneLine(const std::string& text) {
    std::string line;
    line.reserve(text.size());
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char character = text[at];
        if (character == '\r' && at + 1 < text.size() && text[at + 1] == '\n') {
            line += ' ';
            ++at;
        } else {
            line += (character == '\r' || character == '\n') ? ' ' : character;
        }
    }
    return line;
}

void showMessage(MessageKind kind, const std::string& text, const std::string& title) {
    const MessageWindow messageWindow = shownMessageWindow.load();
    if (messageWindow != nullptr && messageWindow(kind, text, title))
        return;
    const std::string line = title + ": " + asOneLine(text) + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

} // namespace

void showStopMessage(const std::string& text, const std::string& title) {
    showMessage(MessageKind::Stop, text, title);
}

void showNoteMessage(const std::string& text, const std::string& title) {
    showMessage(MessageKind::Note, text, title);
}

void setMessageWindow(MessageWindow messageWindow) {
    shownMessageWindow.store(messageWindow);
}

} // namespace vellum::platform
