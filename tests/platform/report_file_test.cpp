#include "file_size_limit.h"
#include "report_file.h"
#include "zip_builder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <set>

using namespace vellum::platform;
using vellum::testing::FileSizeLimit;
using vellum::testing::writeFile;

namespace {

QByteArray contents(const std::string& path) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

mode_t modeOf(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode : 0;
}

} // namespace

class ReportFileTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void replaceWritesWithTheModeOfAPlainCreate();
    void replaceRemovesWhatAKilledReplaceLeft();
    void nonRegularTargetIsRefused_data();
    void nonRegularTargetIsRefused();
    void writeBeyondTheSpaceLeftKeepsEarlierContent();
    void recordStartsOnALineOfItsOwn_data();
    void recordStartsOnALineOfItsOwn();
    void concurrentAppendsStayWhole();
    void reportFolderChoice_data();
    void reportFolderChoice();

private:
    std::string pathOf(const QString& name) const { return m_temporary->filePath(name).toStdString(); }
    QStringList entries() const {
        return QDir(m_temporary->path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

    std::unique_ptr<QTemporaryDir> m_temporary;
};

void ReportFileTest::init() {
    m_temporary = std::make_unique<QTemporaryDir>();
    QVERIFY(m_temporary->isValid());
}

void ReportFileTest::replaceWritesWithTheModeOfAPlainCreate() {
    const std::string path = pathOf("errors.txt");
    writeFile(path, "an older report that is longer than the new one\r\n");
    ::chmod(path.c_str(), 0600);
    const mode_t previousMask = ::umask(027);
    const auto failure = replaceFile(path, "new\r\n");
    ::umask(previousMask);

    QVERIFY(!failure);
    QCOMPARE(contents(path), QByteArray("new\r\n"));
    QCOMPARE(modeOf(path) & 07777, mode_t{0640});
    QCOMPARE(entries(), QStringList{"errors.txt"});
}

void ReportFileTest::replaceRemovesWhatAKilledReplaceLeft() {
    // A replace killed before its rename left its file; one still being written is recent.
    const std::string stale = pathOf(".errors.txt.Ab3dE9");
    const std::string recent = pathOf(".errors.txt.Zz9yX1");
    writeFile(stale, "half a report");
    writeFile(recent, "a report being written");
    const timespec twoMinutesAgo[2] = {{std::time(nullptr) - 120, 0}, {std::time(nullptr) - 120, 0}};
    QCOMPARE(::utimensat(AT_FDCWD, stale.c_str(), twoMinutesAgo, 0), 0);

    QVERIFY(!replaceFile(pathOf("errors.txt"), "new\r\n"));

    QCOMPARE(entries(), (QStringList{".errors.txt.Zz9yX1", "errors.txt"}));
}

void ReportFileTest::nonRegularTargetIsRefused_data() {
    QTest::addColumn<QString>("kind");
    for (const char* kind : {"folder", "fifo", "fifo with reader", "link", "dangling link"})
        QTest::newRow(kind) << kind;
}

void ReportFileTest::nonRegularTargetIsRefused() {
    QFETCH(QString, kind);
    const std::string path = pathOf("target");
    const std::string elsewhere = pathOf("elsewhere");
    int reader = -1;
    if (kind == "folder") {
        QVERIFY(QDir().mkdir(QString::fromStdString(path)));
    } else if (kind.startsWith("fifo")) {
        QCOMPARE(::mkfifo(path.c_str(), 0666), 0);
        // Without a reader an append would wait forever, with one it would feed the reader.
        if (kind == "fifo with reader")
            reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } else {
        if (kind == "link")
            writeFile(elsewhere, "kept\n");
        QCOMPARE(::symlink(elsewhere.c_str(), path.c_str()), 0);
    }
    const mode_t typeBefore = modeOf(path) & S_IFMT;
    const QStringList entriesBefore = entries();

    const auto replaced = replaceFile(path, "report\r\n");
    const auto appended = appendRecord(path, "record\r\n");

    if (reader >= 0)
        ::close(reader);
    for (const auto& failure : {replaced, appended}) {
        QVERIFY(failure);
        QCOMPARE(failure->path, path);
        QCOMPARE(failure->reason, std::string("not a regular file"));
    }
    QCOMPARE(modeOf(path) & S_IFMT, typeBefore);
    QCOMPARE(entries(), entriesBefore);
    if (kind == "link")
        QCOMPARE(contents(elsewhere), QByteArray("kept\n"));
}

void ReportFileTest::writeBeyondTheSpaceLeftKeepsEarlierContent() {
    const std::string reportPath = pathOf("errors.txt");
    const std::string logPath = pathOf("errors.log");
    writeFile(reportPath, "old report\r\n");
    writeFile(logPath, "old record\r\n");
    std::optional<WriteFailure> replaced;
    std::optional<WriteFailure> appended;
    {
        // The record's first bytes fit and the rest does not, so a torn record would stay behind.
        FileSizeLimit limit(64);
        replaced = replaceFile(reportPath, std::string(200, 'x'));
        appended = appendRecord(logPath, std::string(200, 'x'));
    }

    QVERIFY(replaced && appended);
    QCOMPARE(replaced->path, reportPath);
    QCOMPARE(replaced->reason, std::string(std::strerror(EFBIG)));
    QCOMPARE(appended->path, logPath);
    QCOMPARE(contents(reportPath), QByteArray("old report\r\n"));
    QCOMPARE(contents(logPath), QByteArray("old record\r\n"));
    QCOMPARE(entries(), (QStringList{"errors.log", "errors.txt"}));
}

void ReportFileTest::recordStartsOnALineOfItsOwn_data() {
    QTest::addColumn<QByteArray>("earlier"); // null: no file
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("missing file") << QByteArray() << QByteArray("new\r\n");
    QTest::newRow("empty file") << QByteArray("") << QByteArray("new\r\n");
    QTest::newRow("ends in CR LF") << QByteArray("old\r\n") << QByteArray("old\r\nnew\r\n");
    QTest::newRow("ends in LF") << QByteArray("old\n") << QByteArray("old\nnew\r\n");
    QTest::newRow("cut off after CR") << QByteArray("old\r") << QByteArray("old\r\r\nnew\r\n");
    QTest::newRow("cut off mid-line") << QByteArray("old") << QByteArray("old\r\nnew\r\n");
}

void ReportFileTest::recordStartsOnALineOfItsOwn() {
    QFETCH(QByteArray, earlier);
    QFETCH(QByteArray, expected);
    const std::string path = pathOf("errors.log");
    if (!earlier.isNull())
        writeFile(path, earlier.toStdString());

    QVERIFY(!appendRecord(path, "new\r\n"));
    QCOMPARE(contents(path), expected);
}

void ReportFileTest::concurrentAppendsStayWhole() {
    // Records of many sizes, each line naming its writer and number, so that an interleaved or a
    // lost record shows as a line that is not expected or one that is missing.
    const std::string path = pathOf("errors.log");
    std::vector<std::vector<std::string>> records(4);
    std::multiset<std::string> expected;
    for (std::size_t child = 0; child < records.size(); ++child) {
        for (std::size_t index = 0; index < 250; ++index) {
            records[child].push_back(std::to_string(child) + " " + std::to_string(index) + " " +
                                     std::string((index * 397 + child * 131) % 3000, 'x') + "\r\n");
            expected.insert(records[child].back());
        }
    }
    std::vector<pid_t> processes;
    for (const auto& childRecords : records) {
        const pid_t process = ::fork();
        QVERIFY(process >= 0);
        if (process == 0) {
            bool allLanded = true;
            for (const std::string& record : childRecords)
                allLanded = !appendRecord(path, record) && allLanded;
            ::_exit(allLanded ? 0 : 1);
        }
        processes.push_back(process);
    }
    for (const pid_t process : processes) {
        int status = 0;
        QCOMPARE(::waitpid(process, &status, 0), process);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    const QByteArray log = contents(path);
    std::multiset<std::string> found;
    for (qsizetype start = 0, end = 0; start < log.size(); start = end + 2) {
        end = log.indexOf("\r\n", start);
        QVERIFY2(end >= 0, "the log ends inside a record");
        found.insert(log.mid(start, end + 2 - start).toStdString());
    }
    QVERIFY(found == expected);
}

void ReportFileTest::reportFolderChoice_data() {
    // Names lie below the temporary folder, which holds a folder "application", a file "file" and
    // an installation under "prefix" (bin, and share/vellum); HOME is its folder "home". The setup is:
    // explicit folder, application folder, XDG_STATE_HOME (empty: not set; "relative": a relative path).
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("create");
    QTest::addColumn<QString>("outcome"); // "made", "absent" or "fails"

    QTest::newRow("explicit, created")
        << QStringList{"reports/day", "application", ""} << "reports/day" << true << "made";
    QTest::newRow("explicit, for reading")
        << QStringList{"reports/day", "", ""} << "reports/day" << false << "absent";
    QTest::newRow("explicit is a file")
        << QStringList{"file", "application", ""} << "file" << true << "fails";
    QTest::newRow("application folder")
        << QStringList{"", "application", "state"} << "application" << true << "made";
    QTest::newRow("installed program")
        << QStringList{"", "prefix/bin", "state"} << "state/vellum" << true << "made";
    QTest::newRow("state home") << QStringList{"", "missing", "state"} << "state/vellum" << true << "made";
    QTest::newRow("state home, for reading")
        << QStringList{"", "missing", "state"} << "state/vellum" << false << "absent";
    QTest::newRow("relative state home")
        << QStringList{"", "file", "relative"} << "home/.local/state/vellum" << true << "made";
    QTest::newRow("nowhere") << QStringList{"", "missing", "file"} << "file/vellum" << true << "fails";
}

void ReportFileTest::reportFolderChoice() {
    QFETCH(QStringList, setup);
    QFETCH(QString, expected);
    QFETCH(bool, create);
    QFETCH(QString, outcome);
    QVERIFY(QDir(m_temporary->path()).mkpath("application"));
    QVERIFY(QDir(m_temporary->path()).mkpath("prefix/bin"));
    QVERIFY(QDir(m_temporary->path()).mkpath("prefix/share/vellum"));
    writeFile(pathOf("file"), "not a folder\n");
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(m_temporary->filePath("home")));
    if (setup[2].isEmpty())
        qunsetenv("XDG_STATE_HOME");
    else
        qputenv("XDG_STATE_HOME", setup[2] == "relative"
                                      ? QByteArray("relative")
                                      : QFile::encodeName(m_temporary->filePath(setup[2])));
    const auto below = [&](const QString& name) { return name.isEmpty() ? std::string() : pathOf(name); };

    const ReportFolder folder = chooseReportFolder(below(setup[1]), below(setup[0]), create);

    qputenv("HOME", home);
    qunsetenv("XDG_STATE_HOME");
    QCOMPARE(folder.path, pathOf(expected));
    QCOMPARE(folder.failure ? folder.failure->path : std::string(),
             outcome == "fails" ? folder.path : std::string());
    if (outcome != "fails")
        QCOMPARE(QFileInfo(QString::fromStdString(folder.path)).isDir(), outcome == "made");
    // The state folder holds what the user's runs found, for that user's eyes only.
    if (outcome == "made" && expected.endsWith("vellum"))
        QCOMPARE(modeOf(folder.path) & 0777, mode_t{0700});
}

QTEST_GUILESS_MAIN(ReportFileTest)
#include "report_file_test.moc"
