#include "base/wildcard_match.h"
#include "folder_listing.h"

#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>

using vellum::wildcardMatch;
using vellum::WildcardRule;
using vellum::platform::FolderEntry;
using vellum::platform::FolderListing;
using vellum::platform::isKernelFileSystemBelow;

namespace {

// Everything a listing gives, by name, with the directory bit.
std::map<std::string, bool> listAll(const std::string& folder, const std::string& pattern) {
    std::map<std::string, bool> entries;
    FolderListing listing(folder, pattern);
    FolderEntry entry;
    while (listing.next(entry))
        entries[entry.name] = entry.isDirectory;
    return entries;
}

void createFile(const std::string& path) {
    const int descriptor = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    QVERIFY2(descriptor >= 0, path.c_str());
    ::close(descriptor);
}

void createFolder(const std::string& path) {
    QVERIFY2(::mkdir(path.c_str(), 0755) == 0, path.c_str());
}

void createLink(const std::string& target, const std::string& path) {
    QVERIFY2(::symlink(target.c_str(), path.c_str()) == 0, path.c_str());
}

} // namespace

class FolderListingTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_temporary = std::make_unique<QTemporaryDir>();
        QVERIFY(m_temporary->isValid());
        m_folder = m_temporary->path().toStdString() + "/";
    }

    void cleanup() {
        // An unreadable folder, or a name that is no valid UTF-8, would stop the temporary folder
        // from being removed.
        ::chmod((m_folder + "locked").c_str(), 0755);
        ::unlink((m_folder + rawName).c_str());
        m_temporary.reset();
    }

    void listsHiddenEntriesAndTheDotFolders() {
        createFile(m_folder + ".hidden");
        createFolder(m_folder + ".dotfolder");
        createFile(m_folder + "plain.zip");
        createFolder(m_folder + "sub");
        const auto entries = listAll(m_folder, "*");
        const std::map<std::string, bool> expected = {{".", true},          {"..", true},
                                                      {".hidden", false},   {".dotfolder", true},
                                                      {"plain.zip", false}, {"sub", true}};
        QCOMPARE(entries, expected);
    }

    void linkToFolderIsNotAFolder() {
        createFolder(m_folder + "real");
        createLink("real", m_folder + "link");
        const auto entries = listAll(m_folder, "*");
        QCOMPARE(entries.at("real"), true);
        QVERIFY(entries.contains("link"));
        QCOMPARE(entries.at("link"), false);
    }

    void linkLoopIsListedButNotFollowed() {
        createLink("second", m_folder + "first");
        createLink("first", m_folder + "second");
        createLink(".", m_folder + "self");
        const auto entries = listAll(m_folder, "*");
        QCOMPARE(entries.size(), std::size_t{5});
        QCOMPARE(entries.at("first"), false);
        QCOMPARE(entries.at("second"), false);
        QCOMPARE(entries.at("self"), false);
    }

    void patternSelectsEntries() {
        for (const char* name : {"DATA.ZIP", "a.Zip", "a.zipx", "azip", "README"})
            createFile(m_folder + name);
        const auto zips = listAll(m_folder, "*.zip");
        QCOMPARE(zips, (std::map<std::string, bool>{{"DATA.ZIP", false}, {"a.Zip", false}}));
        const auto everything = listAll(m_folder, "*.*");
        QCOMPARE(everything.size(), std::size_t{7});
        QVERIFY(everything.contains("README"));
    }

    void rawByteNamesAreKeptExactly() {
        createFile(m_folder + rawName);
        const auto entries = listAll(m_folder, "*.zip");
        QCOMPARE(entries.size(), std::size_t{1});
        QCOMPARE(QByteArray::fromStdString(entries.begin()->first), QByteArray::fromStdString(rawName));
    }

    void missingFolderIsNotOpen() {
        FolderListing listing(m_folder + "missing/", "*");
        QVERIFY(!listing.isOpen());
        FolderEntry entry;
        QVERIFY(!listing.next(entry));
    }

    void fileIsNotOpenAsFolder() {
        createFile(m_folder + "file.zip");
        FolderListing listing(m_folder + "file.zip/", "*");
        QVERIFY(!listing.isOpen());
    }

    void unreadableFolderIsNotOpen() {
        if (::geteuid() == 0)
            QSKIP("The superuser reads every folder regardless of its permissions.");
        createFolder(m_folder + "locked");
        QCOMPARE(::chmod((m_folder + "locked").c_str(), 0), 0);
        FolderListing listing(m_folder + "locked/", "*");
        QVERIFY(!listing.isOpen());
    }

    void closeEndsTheListingAndMayBeRepeated() {
        FolderListing listing(m_folder, "*");
        QVERIFY(listing.isOpen());
        listing.close();
        listing.close();
        QVERIFY(!listing.isOpen());
        FolderEntry entry;
        QVERIFY(!listing.next(entry));
    }

    void patternTable_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("pattern");
        QTest::addColumn<bool>("matches");
        QTest::newRow("upper-case name") << QByteArray("DATA.ZIP") << QByteArray("*.zip") << true;
        QTest::newRow("mixed-case name") << QByteArray("a.Zip") << QByteArray("*.zip") << true;
        QTest::newRow("upper-case pattern") << QByteArray("data.zip") << QByteArray("*.ZIP") << true;
        QTest::newRow("longer extension") << QByteArray("a.zipx") << QByteArray("*.zip") << false;
        QTest::newRow("no dot") << QByteArray("azip") << QByteArray("*.zip") << false;
        QTest::newRow("two dots") << QByteArray("a.b.zip") << QByteArray("*.zip") << true;
        QTest::newRow("extension in middle") << QByteArray("a.zip.bak") << QByteArray("*.zip") << false;
        QTest::newRow("star-dot-star without dot") << QByteArray("README") << QByteArray("*.*") << true;
        QTest::newRow("star-dot-star hidden") << QByteArray(".profile") << QByteArray("*.*") << true;
        QTest::newRow("star-dot-star dot entry") << QByteArray("..") << QByteArray("*.*") << true;
        QTest::newRow("prefix-dot-star without dot") << QByteArray("abc") << QByteArray("a*.*") << true;
        QTest::newRow("prefix-dot-star other prefix") << QByteArray("bcd") << QByteArray("a*.*") << false;
        QTest::newRow("question mark") << QByteArray("abc") << QByteArray("a?c") << true;
        QTest::newRow("question mark needs a byte") << QByteArray("ac") << QByteArray("a?c") << false;
        QTest::newRow("star matches empty") << QByteArray("ac") << QByteArray("a*c") << true;
        QTest::newRow("stars backtrack") << QByteArray("aXbYbc") << QByteArray("a*b*c") << true;
        QTest::newRow("stars fail") << QByteArray("aXbYbd") << QByteArray("a*b*c") << false;
        QTest::newRow("exact") << QByteArray("name.zip") << QByteArray("name.zip") << true;
        QTest::newRow("empty pattern") << QByteArray("x") << QByteArray("") << false;
        QTest::newRow("empty name, star") << QByteArray("") << QByteArray("*") << true;
        QTest::newRow("non-ASCII bytes") << QByteArray("\xc3\x84.zip") << QByteArray("*.ZIP") << true;
        QTest::newRow("many stars, no match")
            << QByteArray(64, 'a') << QByteArray("*a*a*a*a*a*a*a*a*b") << false;
    }

    // The walk from "/" passes over the kernel's file systems; one that starts inside them walks on.
    void kernelFileSystemsAreToldApart() {
        struct Row {
            const char* root;
            std::string folder;
            bool passedOver;
        };
        std::vector<Row> rows{{"/", "/proc", true},           {"/", "/sys", true},
                              {"/proc", "/proc/self", false}, {"/", m_folder, false},
                              {"/proc", m_folder, false},     {"/", "/dev/shm", false}};
        // devtmpfs answers statfs as tmpfs does; only where /dev is one can it be told.
        std::ifstream mounts("/proc/self/mounts");
        for (std::string line; std::getline(mounts, line);) {
            if (line.starts_with("devtmpfs /dev devtmpfs "))
                rows.push_back({"/", "/dev", true});
            if (line.find(" /dev/pts devpts ") != std::string::npos)
                rows.push_back({"/", "/dev/pts", true});
        }
        for (const Row& row : rows) {
            const int root = ::open(row.root, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            const int folder = ::open(row.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (folder < 0 && row.folder == "/dev/shm")
                continue;
            QVERIFY2(root >= 0 && folder >= 0, row.folder.c_str());
            QVERIFY2(isKernelFileSystemBelow(root, folder) == row.passedOver, row.folder.c_str());
            ::close(root);
            ::close(folder);
        }
    }

    void patternTable() {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, pattern);
        QFETCH(bool, matches);
        QCOMPARE(wildcardMatch(pattern.toStdString(), name.toStdString(), WildcardRule::FileSearch), matches);
    }

private:
    const std::string rawName = "\xff\xfe.zip";
    std::unique_ptr<QTemporaryDir> m_temporary;
    std::string m_folder;
};

QTEST_GUILESS_MAIN(FolderListingTest)
#include "folder_listing_test.moc"
