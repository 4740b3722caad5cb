#include "desktop_services.h"

#include "normal_file.h"

#include <QFile>
#include <QProcess>

namespace vellum::platform {

namespace {

// The desktop's handler for files and addresses.
const QString desktopOpener = QStringLiteral("xdg-open");

QString fromText(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The desktop types *.hlp as a WinHelp file, which no desktop program opens, so the manual also
// ships as a web page beside it, which every desktop's browser opens. Without that page the help
// file itself is handed on, for whatever the desktop makes of it.
QString manualPage(const QString& helpFile) {
    const QLatin1String helpSuffix(".hlp");
    if (!helpFile.endsWith(helpSuffix, Qt::CaseInsensitive))
        return helpFile;
    const QString page = helpFile.chopped(helpSuffix.size()) + QLatin1String(".html");
    return normalFileExists(QFile::encodeName(page).toStdString()) ? page : helpFile;
}

class SystemDesktopServices final : public DesktopServices {
public:
    void openTextFile(const std::string& path) override { start(DesktopIntent::TextFile, path); }
    void openManual(const std::string& helpFile) override { start(DesktopIntent::Manual, helpFile); }
    void openWebPage(const std::string& address) override { start(DesktopIntent::WebPage, address); }
    void composeMail(const std::string& address) override { start(DesktopIntent::Mail, address); }

private:
    static void start(DesktopIntent intent, const std::string& target) {
        const LaunchCommand command = desktopCommand(intent, target);
        QProcess::startDetached(command.program, command.arguments);
    }
};

} // namespace

LaunchCommand desktopCommand(DesktopIntent intent, const std::string& target) {
    switch (intent) {
    case DesktopIntent::Manual:
        return {desktopOpener, {manualPage(fromText(target))}};
    case DesktopIntent::Mail:
        return {desktopOpener, {QLatin1String("mailto:") + fromText(target)}};
    case DesktopIntent::TextFile:
    case DesktopIntent::WebPage:
        break;
    }
    return {desktopOpener, {fromText(target)}};
}

std::unique_ptr<DesktopServices> createDesktopServices() {
    return std::make_unique<SystemDesktopServices>();
}

} // namespace vellum::platform
