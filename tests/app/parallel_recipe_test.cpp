// The GNU parallel recipe of docs/parallel-across-hosts.md, run on this machine: one tree's list
// cut into parts for several job slots, the merged JSON lines compared with those of one single
// run over the tree.

#include "installed_copy.h"
#include "zip_builder.h"

#include <nlohmann/json.hpp>

#include <QStandardPaths>
#include <QtTest>

#include <map>

using namespace vellum::testing;

namespace {

struct Lines {
    std::map<std::string, nlohmann::json> archives; // by path
    std::vector<nlohmann::json> summaries;
};

Lines parse(const QString& output) {
    Lines lines;
    for (const QString& line : output.split('\n', Qt::SkipEmptyParts)) {
        nlohmann::json object = nlohmann::json::parse(line.toStdString());
        if (object.contains("summary"))
            lines.summaries.push_back(object["summary"]);
        else {
            // When and how long each test took differs from run to run; everything else must not.
            object.erase("tested");
            object.erase("seconds");
            lines.archives.emplace(object["path"].get<std::string>(), std::move(object));
        }
    }
    return lines;
}

} // namespace

class ParallelRecipeTest : public QObject {
    Q_OBJECT
private slots:
    void mergedJobsEqualOneRun();
};

void ParallelRecipeTest::mergedJobsEqualOneRun() {
    if (QStandardPaths::findExecutable("parallel").isEmpty())
        QSKIP("GNU parallel is not installed");
    InstalledCopy copy;
    for (int index = 0; index < 30; ++index) {
        const QString folder = copy.tree() + QString("/shelf%1/box%2").arg(index % 4).arg(index % 3);
        if (index % 5 == 0)
            writeDamaged(folder + QString("/damaged %1.zip").arg(index));
        else
            writeGood(folder + QString("/kept%1.ZIP").arg(index));
    }
    writeDamaged(copy.tree() + "/line\nbreak.zip");

    // Without the ledger, so that the second run's lines do not tell the first one's verdicts.
    const Outcome single = copy.run({"--json", "-q", "--no-ledger", copy.tree()});
    QCOMPARE(single.status, 1);
    const QString reports = copy.scratch() + "/reports";
    const Outcome spread =
        copy.run({}, {.shellCommand = "find '" + copy.tree() +
                                      "' -type f -iname '*.zip' -print0 | "
                                      "parallel --will-cite --pipe --recend '\\0' -N 4 -j 3 "
                                      "\"$VELLUM\" --json -q --no-ledger -0 --files-from - --report-dir '" +
                                      reports + "'"});
    QCOMPARE(spread.errors, QString());

    const Lines one = parse(single.output);
    const Lines merged = parse(spread.output);
    QCOMPARE(one.archives.size(), std::size_t{31});
    // Every other key of every archive agrees.
    QCOMPARE(merged.archives, one.archives);
    // The list was really spread: one summary per job, adding up to the single run's.
    QCOMPARE(merged.summaries.size(), std::size_t{8});
    std::int64_t tested = 0;
    std::int64_t bad = 0;
    for (const nlohmann::json& summary : merged.summaries) {
        tested += summary["tested"].get<std::int64_t>();
        bad += summary["bad"].get<std::int64_t>();
    }
    QCOMPARE(tested, one.summaries.at(0)["tested"].get<std::int64_t>());
    QCOMPARE(bad, one.summaries.at(0)["bad"].get<std::int64_t>());
    QCOMPARE(fileLines(reports + "/errors.log").filter("--files-from -").size(), 8);
}

QTEST_GUILESS_MAIN(ParallelRecipeTest)
#include "parallel_recipe_test.moc"
