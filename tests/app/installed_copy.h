#pragma once

// A private copy of the program and its window module in a temporary folder, run as a real process
// with no display, and what a test reads back of its runs: exit status, standard output and error,
// report lines.
// The reports are written beside the program when its folder is writable, so each copy has its
// own.

#include "zip_builder.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace vellum::testing {

inline constexpr uid_t ordinaryUser = 65534;

inline QStringList fileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString content = QString::fromUtf8(file.readAll());
    if (!content.endsWith("\r\n"))
        return {"<not ending in CR LF>"};
    content.chop(2);
    return content.split("\r\n");
}

// Undoes the report's escapes: \\, \r, \n, \t and \xHH.
inline QByteArray unescaped(const QByteArray& line) {
    QByteArray name;
    for (qsizetype at = 0; at < line.size(); ++at) {
        if (line[at] != '\\' || at + 1 == line.size()) {
            name += line[at];
            continue;
        }
        const char kind = line[++at];
        if (kind == 'r')
            name += '\r';
        else if (kind == 'n')
            name += '\n';
        else if (kind == 't')
            name += '\t';
        else if (kind == 'x') {
            name += static_cast<char>(line.mid(at + 1, 2).toInt(nullptr, 16));
            at += 2;
        } else
            name += kind;
    }
    return name;
}

inline bool isRoot() {
    return ::geteuid() == 0;
}

// Opens a folder to every user, so that a run as an ordinary user can reach it.
inline void openToEveryone(const QString& path) {
    ::chmod(path.toLocal8Bit().constData(), 0777);
}

struct Outcome {
    int status = -1;
    QString errors;
    QString output;
};

struct RunOptions {
    // Runs as an ordinary user: through setpriv when the tests run as root.
    bool ordinaryUser = false;
    QString workingFolder;
    QMap<QString, QString> environment;
    // Written to standard input, which is then closed; when null, standard input stays open.
    QByteArray input;
    // Run this bash command instead of the program (the arguments are not used).
    QString shellCommand;
};

class InstalledCopy {
public:
    InstalledCopy() {
        for (const QTemporaryDir* folder : {&m_home, &m_tree, &m_scratch})
            ::chmod(folder->path().toLocal8Bit().constData(), 0755);
        QFile::copy(VELLUM_PROGRAM, program());
        QFile::copy(VELLUM_WINDOW_MODULE, windowModule());
        for (const QString& file : {program(), windowModule()})
            QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                            QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup |
                                            QFile::ExeGroup);
        // A text viewer of our own on the PATH records what the program asks it to open.
        QDir().mkpath(m_home.path() + "/bin");
        const QString viewer = m_home.path() + "/bin/xdg-open";
        QFile script(viewer);
        script.open(QIODevice::WriteOnly);
        script.write("#!/bin/sh\nprintf '%s\\n' \"$*\" >> \"$(dirname \"$0\")/viewer-calls\"\n");
        script.close();
        QFile::setPermissions(viewer, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QString folder() const { return m_home.path(); }
    QString program() const { return m_home.path() + "/vellum"; }
    // Beside the program, where a build tree has it.
    QString windowModule() const { return m_home.path() + "/libvellum-window.so"; }
    QString tree() const { return m_tree.path(); }
    // A folder for whatever else a test needs: state folders, a second tree.
    QString scratch() const { return m_scratch.path(); }

    std::unique_ptr<QProcess> start(const QStringList& arguments, const RunOptions& options = {}) const {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.remove("QT_QPA_PLATFORM");
        environment.insert("TMPDIR", m_scratch.path());
        environment.insert("XDG_STATE_HOME", m_scratch.path() + "/state");
        environment.insert("HOME", m_scratch.path());
        environment.insert("PATH", m_home.path() + "/bin:" + environment.value("PATH"));
        for (auto variable = options.environment.begin(); variable != options.environment.end(); ++variable) {
            if (variable.value().isNull())
                environment.remove(variable.key());
            else
                environment.insert(variable.key(), variable.value());
        }
        // The runtime folder must belong to whoever runs the program, or Qt complains about it.
        const QString runtime = m_scratch.path() + (options.ordinaryUser ? "/runtime-ordinary" : "/runtime");
        QDir().mkpath(runtime);
        ::chmod(runtime.toLocal8Bit().constData(), 0700);
        if (options.ordinaryUser && isRoot())
            if (::chown(runtime.toLocal8Bit().constData(), ordinaryUser, ordinaryUser) != 0)
                qWarning("cannot give the runtime folder to the ordinary user");
        environment.insert("XDG_RUNTIME_DIR", runtime);
        // A shell command names the program as $VELLUM.
        environment.insert("VELLUM", program());
        process->setProcessEnvironment(environment);
        if (!options.workingFolder.isEmpty())
            process->setWorkingDirectory(options.workingFolder);
        if (!options.shellCommand.isEmpty())
            process->start("bash", {"-c", options.shellCommand});
        else if (options.ordinaryUser && isRoot())
            process->start("setpriv",
                           QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", program()} +
                               arguments);
        else
            process->start(program(), arguments);
        process->waitForStarted();
        if (!options.input.isNull()) {
            process->write(options.input);
            process->closeWriteChannel();
        }
        return process;
    }

    Outcome run(const QStringList& arguments, const RunOptions& options = {}) const {
        return finish(*start(arguments, options));
    }

    static Outcome finish(QProcess& process) {
        Outcome outcome;
        // A process that a test's wait has already seen end is not waited for again.
        if (process.state() != QProcess::NotRunning && !process.waitForFinished(120000))
            return outcome;
        outcome.errors = QString::fromUtf8(process.readAllStandardError());
        outcome.output = QString::fromUtf8(process.readAllStandardOutput());
        outcome.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        return outcome;
    }

private:
    QTemporaryDir m_home;
    QTemporaryDir m_tree;
    QTemporaryDir m_scratch;
};

inline void writeGood(const QString& path) {
    writeFile(path.toStdString(), buildZip({{"notes.txt", "kept safe\n"}}).bytes);
}

inline void writeDamaged(const QString& path) {
    BuiltZip zip = buildZip({{"notes.txt", std::string(3000, 'n'), 0}});
    zip.bytes[zip.entries[0].dataOffset + 100] ^= 0x20;
    writeFile(path.toStdString(), zip.bytes);
}

} // namespace vellum::testing
