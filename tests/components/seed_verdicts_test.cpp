// The seeds of the fuzz corpus are archives with a known fault or none. Each has a row below with
// the verdict the caller's rules give it and the two codes behind that verdict; a seed without a
// row, a row without a seed, or a name that says good for a bad archive (or bad for a good one)
// fails, so the corpus cannot drift from what its names claim.

#include "caller_protocol.h"
#include "zip/zip_tester.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace vellum;
using namespace vellum::testing;

namespace {

constexpr bool Good = true;
constexpr bool Bad = false;
constexpr std::int16_t NotRun = -1; // the probe's code stops the caller before verify

struct SeedVerdict {
    const char* file;
    bool good;
    std::int16_t probe;
    std::int16_t verify;
};

// clang-format off
constexpr SeedVerdict seedVerdicts[] = {
    {"bad-bzip2-plain-data.zip",                Bad,  ZipResult::Sound,                   ZipResult::StreamDamaged},
    {"bad-central-crc.zip",                     Bad,  ZipResult::LocalHeaderMismatch,     NotRun},
    {"bad-count.zip",                           Bad,  ZipResult::EndRecordInconsistent,   NotRun},
    {"bad-deflate-bit-flip.zip",                Bad,  ZipResult::Sound,                   ZipResult::DataMismatch},
    {"bad-descriptor-crc.zip",                  Bad,  ZipResult::DataDescriptorMismatch,  NotRun},
    {"bad-directory-offset.zip",                Bad,  ZipResult::EndRecordInconsistent,   NotRun},
    {"bad-diz-bit-flip.zip",                    Bad,  ZipResult::FilteredEntryDamaged,    NotRun},
    {"bad-extra-overrun.zip",                   Bad,  ZipResult::ExtraFieldDamaged,       NotRun},
    {"bad-gzip.zip",                            Bad,  ZipResult::NotAnArchive,            NotRun},
    {"bad-local-size.zip",                      Bad,  ZipResult::LocalHeaderMismatch,     NotRun},
    {"bad-name.zip",                            Bad,  ZipResult::LocalHeaderMismatch,     NotRun},
    {"bad-overlap.zip",                         Bad,  ZipResult::EntrySpanDamaged,        NotRun},
    {"bad-ratio.zip",                           Bad,  ZipResult::ImplausibleRatio,        NotRun},
    {"bad-split-part-alone.zip",                Bad,  ZipResult::CannotOpen,              NotRun},
    {"bad-stored-bit-flip.zip",                 Bad,  ZipResult::Sound,                   ZipResult::DataMismatch},
    {"bad-text.zip",                            Bad,  ZipResult::NotAnArchive,            NotRun},
    {"bad-trailing-junk.zip",                   Bad,  ZipResult::Sound,                   ZipResult::StreamDamaged},
    {"bad-truncated-directory.zip",             Bad,  ZipResult::NotAnArchive,            NotRun},
    {"bad-truncated-end.zip",                   Bad,  ZipResult::NotAnArchive,            NotRun},
    {"bad-zip64-count.zip",                     Bad,  ZipResult::EndRecordInconsistent,   NotRun},
    {"good-comment.zip",                        Good, ZipResult::Sound,                   ZipResult::Verified},
    {"good-descriptor-signed-narrow.zip",       Good, ZipResult::Sound,                   ZipResult::Verified},
    {"good-descriptor-signed-wide.zip",         Good, ZipResult::Sound,                   ZipResult::Verified},
    {"good-descriptor-unsigned-narrow.zip",     Good, ZipResult::Sound,                   ZipResult::Verified},
    {"good-descriptor-unsigned-wide.zip",       Good, ZipResult::Sound,                   ZipResult::Verified},
    {"good-empty.zip",                          Good, ZipResult::Sound,                   ZipResult::Verified},
    {"good-encrypted.zip",                      Good, ZipResult::Sound,                   ZipResult::VerifiedWithUnverifiableEntries},
    {"good-extra-fields.zip",                   Good, ZipResult::Sound,                   ZipResult::Verified},
    {"good-stored-and-deflated.zip",            Good, ZipResult::Sound,                   ZipResult::Verified},
    {"good-stub-adjusted.zip",                  Good, ZipResult::Sound,                   ZipResult::Verified},
    {"good-stub.zip",                           Good, ZipResult::SoundWithNotes,          ZipResult::Verified},
    {"good-trailing-bytes.zip",                 Good, ZipResult::SoundWithNotes,          ZipResult::Verified},
    {"good-zip64-stub.zip",                     Good, ZipResult::SoundWithNotes,          ZipResult::Verified},
    {"good-zip64.zip",                          Good, ZipResult::Sound,                   ZipResult::Verified},
    {"real-bsdtar.zip",                         Good, ZipResult::Sound,                   ZipResult::Verified},
    {"real-encrypted.zip",                      Good, ZipResult::Sound,                   ZipResult::VerifiedWithUnverifiableEntries},
    {"real-infozip-streamed.zip",               Good, ZipResult::Sound,                   ZipResult::Verified},
    {"real-infozip.zip",                        Good, ZipResult::Sound,                   ZipResult::Verified},
    {"real-python.zip",                         Good, ZipResult::Sound,                   ZipResult::Verified},
    {"real-sevenzip.zip",                       Good, ZipResult::Sound,                   ZipResult::Verified},
    {"regression-inflate-readahead-rewind.zip", Bad,  ZipResult::ExtraFieldDamaged,       NotRun},
};
// clang-format on

QString corpusFolder() {
    return QStringLiteral(VELLUM_FUZZ_CORPUS);
}

} // namespace

class SeedVerdictsTest : public QObject {
    Q_OBJECT

private slots:
    void everySeedHasOneRow();
    void namesAgreeWithVerdicts();
    void seedGetsItsVerdict_data();
    void seedGetsItsVerdict();
};

void SeedVerdictsTest::everySeedHasOneRow() {
    const QStringList seeds = QDir(corpusFolder()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    QVERIFY(!seeds.isEmpty());
    QStringList rows;
    for (const SeedVerdict& row : seedVerdicts)
        rows << QString::fromLatin1(row.file);
    QStringList withoutRow;
    for (const QString& seed : seeds) {
        if (!rows.contains(seed))
            withoutRow << seed;
    }
    QStringList withoutSeed;
    for (const QString& row : rows) {
        if (!seeds.contains(row) || rows.count(row) > 1)
            withoutSeed << row;
    }
    QVERIFY2(withoutRow.isEmpty(), qPrintable("seeds without a row: " + withoutRow.join(", ")));
    QVERIFY2(withoutSeed.isEmpty(), qPrintable("rows without a seed, or twice: " + withoutSeed.join(", ")));
}

void SeedVerdictsTest::namesAgreeWithVerdicts() {
    for (const SeedVerdict& row : seedVerdicts) {
        const QString file = QString::fromLatin1(row.file);
        if (file.startsWith("good-"))
            QVERIFY2(row.good, row.file);
        if (file.startsWith("bad-"))
            QVERIFY2(!row.good, row.file);
    }
}

void SeedVerdictsTest::seedGetsItsVerdict_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("good");
    QTest::addColumn<int>("probe");
    QTest::addColumn<int>("verify");
    for (const SeedVerdict& row : seedVerdicts)
        QTest::newRow(row.file) << QString::fromLatin1(row.file) << row.good << int{row.probe}
                                << int{row.verify};
}

void SeedVerdictsTest::seedGetsItsVerdict() {
    QFETCH(QString, file);
    QFETCH(bool, good);
    QFETCH(int, probe);
    QFETCH(int, verify);
    QFile seed(corpusFolder() + "/" + file);
    QVERIFY2(seed.open(QIODevice::ReadOnly), qPrintable(seed.errorString()));
    const QByteArray bytes = seed.readAll();
    ZipTester tester;
    const CallerVerdict verdict = runAsCallerInMemory(tester, bytes.toStdString());
    QCOMPARE(int{verdict.probe}, probe);
    QCOMPARE(int{verdict.verify}, verify);
    QCOMPARE(verdict.good, good);
}

QTEST_GUILESS_MAIN(SeedVerdictsTest)
#include "seed_verdicts_test.moc"
