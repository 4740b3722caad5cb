#pragma once

// A test run over real folders in a temporary directory, with the recording window of
// fake_controls.h, and the real archive component unless a test puts a scripted one in its place.

#include "fake_controls.h"
#include "lower_case.h"
#include "recording_services.h"
#include "report.h"
#include "run_driver.h"
#include "zip_builder.h"

#include <QFile>
#include <QTemporaryDir>

namespace vellum::testing {

// The lines of a text file, each with its CR LF removed; a bare line break or a missing last line
// end shows as a marked line, so that it fails any comparison.
inline std::vector<std::string> linesOf(const std::string& path) {
    QFile file(QString::fromStdString(path));
    std::vector<std::string> lines;
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    const QByteArray content = file.readAll();
    qsizetype start = 0;
    while (start < content.size()) {
        const qsizetype end = content.indexOf("\r\n", start);
        if (end < 0) {
            lines.push_back("<unterminated>" + content.mid(start).toStdString());
            break;
        }
        const QByteArray line = content.mid(start, end - start);
        if (line.contains('\n') || line.contains('\r'))
            lines.push_back("<bare line break>" + line.toStdString());
        else
            lines.push_back(line.toStdString());
        start = end + 2;
    }
    return lines;
}

class RunHarness {
public:
    explicit RunHarness(std::string commandLine = "x")
        : run(state, window, RunServices{applicationFolder(), std::move(commandLine), sound, launcher}) {}

    // The folder the report files go to, standing in for the program's folder.
    std::string applicationFolder() const { return m_applicationDir.path().toStdString(); }
    // The root of the tree a test builds; ends in '/'.
    std::string tree() const { return m_treeDir.path().toStdString() + "/"; }

    // How the run shows and reports a path under the tree: lower-cased.
    std::string shown(const std::string& relative = {}) const {
        return platform::lowerCase(tree() + relative);
    }

    void makeFolder(const std::string& relative) const {
        QDir().mkpath(QString::fromStdString(tree() + relative));
    }
    void writeGoodArchive(const std::string& relative) const {
        writeFile(tree() + relative, buildZip({{"readme.txt", "a good archive\n"}}).bytes);
    }
    void writeBadArchive(const std::string& relative) const {
        BuiltZip zip = buildZip({{"data.bin", std::string(4000, 'x'), 0}});
        zip.bytes[zip.entries[0].dataOffset + 10] ^= 0x01;
        writeFile(tree() + relative, zip.bytes);
    }

    ScriptedZipTester& useScriptedComponent() {
        auto scripted = std::make_unique<ScriptedZipTester>();
        ScriptedZipTester& reference = *scripted;
        window.zip = std::move(scripted);
        return reference;
    }

    // Starts a run from the command line at `folder` (default: the tree), as start-up does.
    void runFrom(std::string folder = {}) {
        if (folder.empty())
            folder = tree();
        state.StartFolderPath = folder;
        state.StartFolder = platform::lowerCase(folder);
        run.Command1_Click();
    }

    // The lines of a report file in the application folder, each with its CR LF removed.
    std::vector<std::string> reportLines(const std::string& name) const {
        return linesOf(applicationFolder() + "/" + name);
    }

    // What the run hands the report, for tests that write one directly.
    ReportServices reportServices(bool viewerAllowed = true, std::string explicitFolder = {}) {
        return {applicationFolder(),
                std::move(explicitFolder),
                applicationFolder() + "/error.wav",
                sound,
                launcher,
                viewerAllowed};
    }

    RunState state;
    FakeRunWindow window;
    platform::RecordingSoundPlayer sound;
    platform::RecordingLauncher launcher;

private:
    QTemporaryDir m_applicationDir;
    QTemporaryDir m_treeDir;

public:
    RunDriver run;
};

} // namespace vellum::testing
