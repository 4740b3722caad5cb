// The late-bound form of the component: every property and method by dispatch ID, and refusal of
// every call it cannot take.

#include "zip_builder.h"
#include "zip_tester.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace vellum;

Q_DECLARE_METATYPE(vellum::DispatchKind)

namespace {

std::vector<DispatchValue> none() {
    return {};
}

} // namespace

class ZipDispatchTest : public QObject {
    Q_OBJECT

private slots:
    void refusals_data();
    void refusals();
    void textPropertiesReadBack_data();
    void textPropertiesReadBack();
    void booleanPropertiesReadBack();
    void methodsRunOnTheNamedFile();
};

void ZipDispatchTest::refusals_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<DispatchKind>("kind");
    QTest::addColumn<int>("argumentShape");
    // Argument shapes: 0 none, 1 one bool, 2 one int16, 3 one int32, 4 one text, 5 two int16.
    QTest::newRow("unknown id") << 99 << DispatchKind::PropertyGet << 0;
    QTest::newRow("unknown id as method") << 0 << DispatchKind::Method << 0;
    QTest::newRow("abort put with text") << int(ZipDispatchId::Abort) << DispatchKind::PropertyPut << 4;
    QTest::newRow("abort put with int16") << int(ZipDispatchId::Abort) << DispatchKind::PropertyPut << 2;
    QTest::newRow("abort put without value") << int(ZipDispatchId::Abort) << DispatchKind::PropertyPut << 0;
    QTest::newRow("abort get with argument") << int(ZipDispatchId::Abort) << DispatchKind::PropertyGet << 1;
    QTest::newRow("abort as method") << int(ZipDispatchId::Abort) << DispatchKind::Method << 0;
    QTest::newRow("archive name put with bool")
        << int(ZipDispatchId::ArchiveName) << DispatchKind::PropertyPut << 1;
    QTest::newRow("file filter put with int32")
        << int(ZipDispatchId::FileFilter) << DispatchKind::PropertyPut << 3;
    QTest::newRow("work folder as method") << int(ZipDispatchId::WorkFolder) << DispatchKind::Method << 0;
    QTest::newRow("archive path put twice")
        << int(ZipDispatchId::ArchivePath) << DispatchKind::PropertyPut << 5;
    QTest::newRow("option switch put with text")
        << int(ZipDispatchId::OptionSwitch) << DispatchKind::PropertyPut << 4;
    QTest::newRow("probe without argument") << int(ZipDispatchId::ProbeArchive) << DispatchKind::Method << 0;
    QTest::newRow("probe with int32") << int(ZipDispatchId::ProbeArchive) << DispatchKind::Method << 3;
    QTest::newRow("probe with bool") << int(ZipDispatchId::ProbeArchive) << DispatchKind::Method << 1;
    QTest::newRow("probe with two arguments")
        << int(ZipDispatchId::ProbeArchive) << DispatchKind::Method << 5;
    QTest::newRow("probe as property get")
        << int(ZipDispatchId::ProbeArchive) << DispatchKind::PropertyGet << 0;
    QTest::newRow("verify with argument") << int(ZipDispatchId::VerifyArchive) << DispatchKind::Method << 2;
    QTest::newRow("verify as property put")
        << int(ZipDispatchId::VerifyArchive) << DispatchKind::PropertyPut << 2;
}

void ZipDispatchTest::refusals() {
    QFETCH(int, id);
    QFETCH(DispatchKind, kind);
    QFETCH(int, argumentShape);
    std::vector<DispatchValue> arguments;
    switch (argumentShape) {
    case 1:
        arguments = {true};
        break;
    case 2:
        arguments = {std::int16_t{0}};
        break;
    case 3:
        arguments = {std::int32_t{0}};
        break;
    case 4:
        arguments = {std::string("text")};
        break;
    case 5:
        arguments = {std::int16_t{0}, std::int16_t{0}};
        break;
    default:
        break;
    }
    ZipTester tester;
    tester.archiveName = "unchanged";
    QVERIFY(!tester.invoke(id, kind, arguments).has_value());
    QCOMPARE(tester.archiveName, std::string("unchanged"));
    QVERIFY(!tester.abort);
}

void ZipDispatchTest::textPropertiesReadBack_data() {
    QTest::addColumn<int>("id");
    QTest::newRow("work folder") << int(ZipDispatchId::WorkFolder);
    QTest::newRow("archive name") << int(ZipDispatchId::ArchiveName);
    QTest::newRow("file filter") << int(ZipDispatchId::FileFilter);
    QTest::newRow("archive path") << int(ZipDispatchId::ArchivePath);
}

void ZipDispatchTest::textPropertiesReadBack() {
    QFETCH(int, id);
    ZipTester tester;
    const std::vector<DispatchValue> value{std::string("c:\\some\\old archive.zip")};
    const auto put = tester.invoke(id, DispatchKind::PropertyPut, value);
    QVERIFY(put.has_value());
    QVERIFY(std::holds_alternative<std::monostate>(*put));
    const auto got = tester.invoke(id, DispatchKind::PropertyGet, none());
    QVERIFY(got.has_value());
    QCOMPARE(std::get<std::string>(*got), std::string("c:\\some\\old archive.zip"));
}

void ZipDispatchTest::booleanPropertiesReadBack() {
    ZipTester tester;
    for (const std::int32_t id : {ZipDispatchId::Abort, ZipDispatchId::OptionSwitch}) {
        for (const bool value : {true, false, true}) {
            const std::vector<DispatchValue> argument{value};
            QVERIFY(tester.invoke(id, DispatchKind::PropertyPut, argument).has_value());
            const auto got = tester.invoke(id, DispatchKind::PropertyGet, none());
            QVERIFY(got.has_value());
            QCOMPARE(std::get<bool>(*got), value);
        }
    }
    QVERIFY(tester.abort);
    QVERIFY(tester.optionSwitch);
}

void ZipDispatchTest::methodsRunOnTheNamedFile() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const std::string path = QDir(folder.path()).filePath("Good Archive.zip").toStdString();
    testing::writeFile(path, testing::buildZip({{"a.txt", "alpha", 8}}).bytes);

    ZipTester tester;
    const std::vector<DispatchValue> name{path};
    QVERIFY(tester.invoke(ZipDispatchId::ArchiveName, DispatchKind::PropertyPut, name).has_value());
    const std::vector<DispatchValue> mode{std::int16_t{0}};
    const auto probe = tester.invoke(ZipDispatchId::ProbeArchive, DispatchKind::Method, mode);
    QVERIFY(probe.has_value());
    QCOMPARE(std::get<std::int16_t>(*probe), ZipResult::Sound);
    const auto verify = tester.invoke(ZipDispatchId::VerifyArchive, DispatchKind::Method, none());
    QVERIFY(verify.has_value());
    QCOMPARE(std::get<std::int16_t>(*verify), ZipResult::Verified);

    // A display name that differs from the real one (lower-cased): ArchivePath is what is opened.
    tester.archiveName = QDir(folder.path()).filePath("good archive.zip").toStdString();
    QCOMPARE(tester.probeArchive(0), ZipResult::CannotOpen);
    const std::vector<DispatchValue> realPath{path};
    QVERIFY(tester.invoke(ZipDispatchId::ArchivePath, DispatchKind::PropertyPut, realPath).has_value());
    QCOMPARE(tester.probeArchive(0), ZipResult::Sound);
}

QTEST_GUILESS_MAIN(ZipDispatchTest)
#include "zip_dispatch_test.moc"
