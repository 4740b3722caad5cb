#include "normal_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace vellum::platform;

class NormalFileTest : public QObject {
    Q_OBJECT

private slots:
    void normalFiles_data() {
        QTest::addColumn<QString>("relativePath");
        QTest::addColumn<bool>("exists");
        QTest::newRow("regular file") << "file.zip" << true;
        QTest::newRow("file in hidden folder") << ".folder/visible.zip" << true;
        QTest::newRow("link to regular file") << "link.zip" << true;
        QTest::newRow("hidden file") << ".hidden.zip" << false;
        QTest::newRow("folder") << "folder" << false;
        QTest::newRow("missing") << "missing.zip" << false;
        QTest::newRow("trailing slash") << "file.zip/" << false;
        QTest::newRow("device") << "" << false;
    }

    void normalFiles() {
        QFETCH(QString, relativePath);
        QFETCH(bool, exists);
        QTemporaryDir temporary;
        QVERIFY(temporary.isValid());
        const QString root = temporary.path() + "/";
        QVERIFY(QDir(root).mkpath(".folder"));
        QVERIFY(QDir(root).mkpath("folder"));
        for (const char* name : {"file.zip", ".hidden.zip", ".folder/visible.zip"}) {
            QFile file(root + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QVERIFY(QFile::link(root + "file.zip", root + "link.zip"));
        // The empty row stands for a character device, which is no regular file either.
        const std::string path = relativePath.isEmpty() ? "/dev/null" : (root + relativePath).toStdString();
        QCOMPARE(normalFileExists(path), exists);
    }
};

QTEST_GUILESS_MAIN(NormalFileTest)
#include "normal_file_test.moc"
