#include "launcher.h"

#include "normal_file.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

namespace vellum::platform {

namespace {

// The desktop's handler for files and addresses; the stand-in for the programs named below.
const QString desktopOpener = QStringLiteral("xdg-open");

// The desktop types *.hlp as a WinHelp file, which no desktop program opens, so the manual also
// ships as a web page beside it, which every desktop's browser opens. Without that page the help
// file itself is handed on, for whatever the desktop makes of it.
QString helpViewerFile(const QString& helpFile) {
    const QLatin1String helpSuffix(".hlp");
    if (!helpFile.endsWith(helpSuffix, Qt::CaseInsensitive))
        return helpFile;
    const QString page = helpFile.chopped(helpSuffix.size()) + QLatin1String(".html");
    return normalFileExists(QFile::encodeName(page).toStdString()) ? page : helpFile;
}

std::optional<LaunchCommand> mappedCommand(const QString& program, const QString& rest) {
    const QString name = program.toLower();
    if (name == QLatin1String("notepad.exe")) {
        if (rest.isEmpty())
            return std::nullopt;
        return LaunchCommand{desktopOpener, {rest}};
    }
    if (name == QLatin1String("winhelp.exe")) {
        if (rest.isEmpty())
            return std::nullopt;
        return LaunchCommand{desktopOpener, {helpViewerFile(rest)}};
    }
    if (name == QLatin1String("webdial.exe")) {
        // The dialer takes ">mailto:address" for a mail and "$url" for a web page.
        if (rest.startsWith(QLatin1String(">mailto:"), Qt::CaseInsensitive))
            return LaunchCommand{desktopOpener, {rest.mid(1)}};
        if (rest.startsWith(QLatin1Char('$')) && rest.size() > 1)
            return LaunchCommand{desktopOpener, {rest.mid(1)}};
    }
    return std::nullopt;
}

class SystemLauncher final : public Launcher {
public:
    void start(const std::string& commandLine, WindowStyle) override {
        // The window style has no counterpart here: the desktop decides how a new window shows.
        const std::optional<LaunchCommand> command = resolveCommandLine(commandLine);
        if (command)
            QProcess::startDetached(command->program, command->arguments);
    }
};

} // namespace

std::optional<LaunchCommand> resolveCommandLine(const std::string& commandLine) {
    QString line = QString::fromUtf8(commandLine.data(), static_cast<qsizetype>(commandLine.size()));
    // Blanks before the program name separate nothing.
    while (line.startsWith(QLatin1Char(' ')))
        line.remove(0, 1);
    const qsizetype blank = line.indexOf(QLatin1Char(' '));
    const QString program = blank < 0 ? line : line.left(blank);
    const QString rest = blank < 0 ? QString() : line.mid(blank + 1);
    if (program.isEmpty())
        return std::nullopt;
    const QString found = QStandardPaths::findExecutable(program);
    if (!found.isEmpty()) {
        LaunchCommand command{found, {}};
        if (!rest.isEmpty())
            command.arguments.append(rest);
        return command;
    }
    return mappedCommand(program, rest);
}

std::unique_ptr<Launcher> createSystemLauncher() {
    return std::make_unique<SystemLauncher>();
}

} // namespace vellum::platform
