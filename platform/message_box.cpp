#include "message_box.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

namespace vellum::platform {

namespace {

bool canShowWindows() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return false;
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

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

void showMessage(QMessageBox::Icon icon, const std::string& text, const std::string& title) {
    if (!canShowWindows()) {
        const std::string line = title + ": " + asOneLine(text) + "\n";
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
        return;
    }
    QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    QMessageBox box(icon, QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())), shown,
                    QMessageBox::Ok);
    // File names may hold characters that rich text would take for markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace

void showStopMessage(const std::string& text, const std::string& title) {
    showMessage(QMessageBox::Critical, text, title);
}

void showNoteMessage(const std::string& text, const std::string& title) {
    showMessage(QMessageBox::Information, text, title);
}

} // namespace vellum::platform
