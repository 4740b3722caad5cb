#include "message_window.h"

#include <QApplication>
#include <QMessageBox>

namespace vellum::platform {

namespace {

bool canShowWindows() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return false;
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

bool showMessageWindow(MessageKind kind, const std::string& text, const std::string& title) {
    if (!canShowWindows())
        return false;
    QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    QMessageBox box(kind == MessageKind::Stop ? QMessageBox::Critical : QMessageBox::Information,
                    QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())), shown,
                    QMessageBox::Ok);
    // File names may hold characters that rich text would take for markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
    return true;
}

} // namespace

MessageWindows::MessageWindows() {
    setMessageWindow(showMessageWindow);
}

MessageWindows::~MessageWindows() {
    setMessageWindow(nullptr);
}

} // namespace vellum::platform
