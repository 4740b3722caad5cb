#include "desktop_services.h"

#include "escaped_text.h"
#include "normal_file.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <list>
#include <string_view>
#include <system_error>
#include <vector>

extern char** environ;

namespace vellum::platform {

namespace {

// The desktop's handler for files and addresses.
const std::string desktopOpener = "xdg-open";

bool endsWithIgnoringCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           std::equal(suffix.begin(), suffix.end(), text.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                      [](char wanted, char found) {
                          return std::tolower(static_cast<unsigned char>(wanted)) ==
                                 std::tolower(static_cast<unsigned char>(found));
                      });
}

// The desktop types *.hlp as a WinHelp file, which no desktop program opens, so the manual also
// ships as a web page beside it, which every desktop's browser opens. Without that page the help
// file itself is handed on, for whatever the desktop makes of it.
std::string manualPage(const std::string& helpFile) {
    constexpr std::string_view helpSuffix = ".hlp";
    if (!endsWithIgnoringCase(helpFile, helpSuffix))
        return helpFile;
    const std::string page = helpFile.substr(0, helpFile.size() - helpSuffix.size()) + ".html";
    return normalFileExists(page) ? page : helpFile;
}

std::string errorText(int error) {
    return std::system_category().message(error);
}

struct Started {
    pid_t process = -1;
    int error = 0; // why the program could not be started
};

// Starts the command without waiting for it, with standard input from /dev/null and signals as a
// freshly started program has them. It gets a session of its own, so that Ctrl+C in this program's
// terminal does not also end a viewer that the user is still reading.
Started spawn(const LaunchCommand& command) {
    posix_spawn_file_actions_t actions;
    if (const int error = ::posix_spawn_file_actions_init(&actions); error != 0)
        return {-1, error};
    posix_spawnattr_t attributes;
    if (const int error = ::posix_spawnattr_init(&attributes); error != 0) {
        ::posix_spawn_file_actions_destroy(&actions);
        return {-1, error};
    }
    sigset_t noSignals;
    sigemptyset(&noSignals);
    // An ignored SIGPIPE would otherwise stay ignored through exec.
    sigset_t defaultSignals;
    sigemptyset(&defaultSignals);
    sigaddset(&defaultSignals, SIGPIPE);

    std::vector<char*> argumentList{const_cast<char*>(command.program.c_str())};
    for (const std::string& argument : command.arguments)
        argumentList.push_back(const_cast<char*>(argument.c_str()));
    argumentList.push_back(nullptr);

    int error = ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (error == 0)
        error = ::posix_spawnattr_setsigmask(&attributes, &noSignals);
    if (error == 0)
        error = ::posix_spawnattr_setsigdefault(&attributes, &defaultSignals);
    if (error == 0)
        error = ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK |
                                                            POSIX_SPAWN_SETSIGDEF);
    pid_t process = -1;
    if (error == 0)
        error = ::posix_spawnp(&process, command.program.c_str(), &actions, &attributes, argumentList.data(),
                               environ);
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    return {error == 0 ? process : -1, error};
}

// How a handler that has ended failed, or empty when it did what it was asked.
std::string failureOfEnd(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status) == 0
                   ? std::string()
                   : desktopOpener + " ended with exit status " + std::to_string(WEXITSTATUS(status));
    return desktopOpener + " was ended by signal " + std::to_string(WTERMSIG(status));
}

class SystemDesktopServices final : public QObject, public DesktopServices {
public:
    // A handler still running is left to run: on some desktops xdg-open lasts as long as the viewer
    // it started, which must not close with this program.
    ~SystemDesktopServices() override {
        for (const Launch& launch : m_launches) {
            delete launch.ending;
            ::close(launch.endDescriptor);
        }
    }

    void openTextFile(const std::string& path) override { start(DesktopIntent::TextFile, path); }
    void openManual(const std::string& helpFile) override { start(DesktopIntent::Manual, helpFile); }
    void openWebPage(const std::string& address) override { start(DesktopIntent::WebPage, address); }
    void composeMail(const std::string& address) override { start(DesktopIntent::Mail, address); }
    void whenNotShown(NotShownHandler handler) override { m_notShown = std::move(handler); }

private:
    // A handler that was started and is watched until it ends.
    struct Launch {
        pid_t process;
        int endDescriptor;       // the process's pidfd, readable once it has ended
        QSocketNotifier* ending; // a child of the services
        DesktopIntent intent;
        std::string target; // what the handler was given to open
    };

    void start(DesktopIntent intent, const std::string& target) {
        LaunchCommand command = desktopCommand(intent, target);
        const Started started = spawn(command);
        std::string opened = std::move(command.arguments.front());
        if (started.error != 0) {
            // Told from the event loop, as the failure of a handler that did start is.
            QTimer::singleShot(0, this,
                               [this, intent, opened,
                                reason = desktopOpener + " could not be started: " +
                                         errorText(started.error)] { failed(intent, opened, reason); });
            return;
        }
        // Through the system call: the C library's own wrapper is not declared for C++ in Debian 12.
        const int endDescriptor = static_cast<int>(::syscall(SYS_pidfd_open, started.process, 0));
        if (endDescriptor < 0) {
            const std::string reason = errorText(errno);
            // The handler runs on unwatched, as it would have before anyone watched for its end.
            std::fprintf(stderr, "vellum: cannot watch %s opening %s: %s\n", desktopOpener.c_str(),
                         escapedText(opened).c_str(), reason.c_str());
            return;
        }
        auto* ending = new QSocketNotifier(endDescriptor, QSocketNotifier::Read, this);
        const auto launch = m_launches.insert(
            m_launches.end(), Launch{started.process, endDescriptor, ending, intent, std::move(opened)});
        QObject::connect(ending, &QSocketNotifier::activated, this, [this, launch] { ended(launch); });
    }

    void ended(std::list<Launch>::iterator launch) {
        int status = 0;
        const pid_t reaped = ::waitpid(launch->process, &status, WNOHANG);
        const int waitError = errno;
        const std::string failure = reaped == launch->process
                                        ? failureOfEnd(status)
                                        : "the end of " + desktopOpener + " could not be learnt" +
                                              (reaped < 0 ? ": " + errorText(waitError) : std::string());
        launch->ending->setEnabled(false);
        // The notifier whose signal called this must outlive the call, and whatever event loop the
        // handler below may run.
        launch->ending->deleteLater();
        ::close(launch->endDescriptor);
        const DesktopIntent intent = launch->intent;
        const std::string target = std::move(launch->target);
        m_launches.erase(launch);
        if (!failure.empty())
            failed(intent, target, failure);
    }

    void failed(DesktopIntent intent, const std::string& target, const std::string& reason) {
        const bool showable = intent == DesktopIntent::TextFile || intent == DesktopIntent::Manual;
        // A copy, so that the handler may replace itself.
        if (const NotShownHandler show = m_notShown; showable && show) {
            show(target);
            return;
        }
        std::fprintf(stderr, "vellum: the desktop could not open %s: %s\n", escapedText(target).c_str(),
                     reason.c_str());
    }

    std::list<Launch> m_launches;
    NotShownHandler m_notShown;
};

} // namespace

LaunchCommand desktopCommand(DesktopIntent intent, const std::string& target) {
    switch (intent) {
    case DesktopIntent::Manual:
        return {desktopOpener, {manualPage(target)}};
    case DesktopIntent::Mail:
        return {desktopOpener, {"mailto:" + target}};
    case DesktopIntent::TextFile:
    case DesktopIntent::WebPage:
        break;
    }
    return {desktopOpener, {target}};
}

std::unique_ptr<DesktopServices> createDesktopServices() {
    return std::make_unique<SystemDesktopServices>();
}

} // namespace vellum::platform
