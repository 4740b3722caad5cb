#include "program_folder.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTest>

using namespace vellum::platform;

class ProgramFolderTest : public QObject {
    Q_OBJECT

private slots:
    void applicationFolderHoldsThisProgram() {
        const std::string folder = applicationFolder();
        QVERIFY(!folder.empty());
        QVERIFY(folder == "/" || !folder.ends_with('/'));
        const QString expected = QFileInfo(QCoreApplication::applicationFilePath()).canonicalPath();
        QCOMPARE(QString::fromStdString(folder), expected);
        QVERIFY(!isInRootDirectory(folder));
    }

    void rootDirectory_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("inRoot");
        QTest::newRow("root") << "/" << true;
        QTest::newRow("one level down") << "/opt" << false;
        QTest::newRow("deeper") << "/usr/local/bin" << false;
    }

    void rootDirectory() {
        QFETCH(QString, folder);
        QFETCH(bool, inRoot);
        QCOMPARE(isInRootDirectory(folder.toStdString()), inRoot);
    }
};

QTEST_GUILESS_MAIN(ProgramFolderTest)
#include "program_folder_test.moc"
