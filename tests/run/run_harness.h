#pragma once

// A test run over real folders in a temporary directory, shown by the window's view on the
// recording display of fake_controls.h, with the real archive component unless a test puts a
// scripted one in its place.

#include "fake_controls.h"
#include "lower_case.h"
#include "recording_services.h"
#include "run_core.h"
#include "window_run_view.h"
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
    // A run from the command line, or, when fromCommandLine is false, one started in the window;
    // without viewerAllowed, as on no real display.
    explicit RunHarness(bool fromCommandLine = true, bool viewerAllowed = true)
        : run(RunSettings{ReportPlace{applicationFolder(), {}}, fromCommandLine}),
          view(run, display,
               WindowRunServices{sound, desktop, applicationFolder() + "/error.wav", viewerAllowed}) {}

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
        run.useTester(std::move(scripted));
        return reference;
    }

    // A run over `paths` (default: the tree), as start-up or Browse starts one.
    RunSummary runFrom(std::vector<std::string> paths = {}, std::string fileList = {}) {
        if (paths.empty() && fileList.empty())
            paths.push_back(tree());
        return run.run(RunInputs{std::move(paths), std::move(fileList), false});
    }

    // The lines of a report file in the application folder, each with its CR LF removed.
    std::vector<std::string> reportLines(const std::string& name) const {
        return linesOf(applicationFolder() + "/" + name);
    }

private:
    QTemporaryDir m_applicationDir;
    QTemporaryDir m_treeDir;

public:
    FakeRunDisplay display;
    platform::RecordingSoundPlayer sound;
    platform::RecordingDesktop desktop;
    RunCore run;
    WindowRunView view;
};

} // namespace vellum::testing
