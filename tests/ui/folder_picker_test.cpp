// The folder picker as a user drives it: the root chosen at once, a folder typed into the path
// field (absolute, with "~", followed by OK or Enter), and typed paths that name no folder.

#include "condition_wait.h"
#include "folder_picker.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

using namespace vellum;
using namespace vellum::testing;

namespace {

// The picker's parts, as the user sees them.
struct PickerParts {
    QDialog* dialog = nullptr;
    QLineEdit* field = nullptr;
    QTreeView* tree = nullptr;
    QFileSystemModel* model = nullptr;
    QLabel* selection = nullptr;
    QPushButton* ok = nullptr;

    bool complete() const { return field && tree && model && selection && ok; }
    QString current() const { return model->filePath(tree->currentIndex()); }
    void type(const QString& text) {
        field->selectAll();
        QTest::keyClicks(field, text);
    }
};

// Opens the picker and hands its parts to drive, which notes what it sees for checks made after
// the picker has closed: a check that failed while the modal dialog is open would leave it waiting
// for a click that never comes. Whatever drive does, the dialog is closed on the way out, by a
// cancel when drive did not close it.
template <typename Drive> bool browseWith(FolderPicker& picker, QObject& context, Drive drive) {
    QTimer::singleShot(0, &context, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        const auto close = qScopeGuard([dialog] {
            if (dialog->isVisible())
                dialog->reject();
        });
        PickerParts parts{
            dialog,  dialog->findChild<QLineEdit*>("folderPath"), dialog->findChild<QTreeView*>("folderTree"),
            nullptr, dialog->findChild<QLabel*>("selectionText"), nullptr};
        if (parts.tree)
            parts.model = qobject_cast<QFileSystemModel*>(parts.tree->model());
        if (auto* buttons = dialog->findChild<QDialogButtonBox*>())
            parts.ok = buttons->button(QDialogButtonBox::Ok);
        if (parts.complete())
            drive(parts);
    });
    return picker.browse();
}

} // namespace

class FolderPickerTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void opensOnTheRootAndChoosesItAtOnce();
    void typedFolderIsSelectedAndChosen_data();
    void typedFolderIsSelectedAndChosen();
    void pathsNamingNoFolderAreNotAccepted_data();
    void pathsNamingNoFolderAreNotAccepted();
    void fitsTheScreen();

private:
    QWidget m_window;
    std::unique_ptr<FolderPicker> m_picker;
    std::vector<std::string> m_selections;
};

void FolderPickerTest::init() {
    m_picker = std::make_unique<FolderPicker>(&m_window);
    m_selections.clear();
    // As the run does: every selection is written back into the picker, which shows it.
    m_picker->onSelectionChanged = [this](const std::string& selection) {
        m_selections.push_back(selection);
        m_picker->setSelectionText(selection);
    };
}

void FolderPickerTest::opensOnTheRootAndChoosesItAtOnce() {
    struct Seen {
        int topItems = 0;
        QString topItem;
        bool topIsCurrent = false;
        bool topIsSelected = false;
        bool childrenListed = false;
        QString field;
        QString selectionShown;
        std::size_t selectionsAtOpen = 0;
    } seen;

    const bool chosen = browseWith(*m_picker, m_window, [&](PickerParts& parts) {
        const QModelIndex top = parts.model->index(0, 0, parts.tree->rootIndex());
        seen.topItems = parts.model->rowCount(parts.tree->rootIndex());
        seen.topItem = parts.model->filePath(top);
        seen.topIsCurrent = parts.tree->currentIndex() == top;
        seen.topIsSelected = parts.tree->selectionModel()->isSelected(top);
        seen.childrenListed =
            waitUntil([&] { return parts.tree->isExpanded(top) && parts.model->rowCount(top) > 0; });
        seen.field = parts.field->text();
        seen.selectionShown = parts.selection->text();
        seen.selectionsAtOpen = m_selections.size();
        parts.ok->click();
    });

    QCOMPARE(seen.topItems, 1);
    QCOMPARE(seen.topItem, QString("/"));
    QVERIFY(seen.topIsCurrent);
    QVERIFY(seen.topIsSelected);
    QVERIFY(seen.childrenListed);
    QCOMPARE(seen.field, QString("/"));
    // The opening selection is reported like every later one, so the text under the tree shows it.
    QCOMPARE(seen.selectionsAtOpen, std::size_t{1});
    QCOMPARE(m_selections.front(), std::string("/"));
    QCOMPARE(seen.selectionShown, QString("/"));
    QVERIFY(chosen);
    QCOMPARE(m_picker->chosenFolder(), std::string("/"));
}

void FolderPickerTest::typedFolderIsSelectedAndChosen_data() {
    QTest::addColumn<bool>("fromHome");
    QTest::addColumn<QString>("ending");
    QTest::addColumn<bool>("byEnter");
    QTest::newRow("absolute, OK") << false << "" << false;
    QTest::newRow("absolute with trailing slash, Enter") << false << "/" << true;
    QTest::newRow("under ~, Enter") << true << "" << true;
}

void FolderPickerTest::typedFolderIsSelectedAndChosen() {
    QFETCH(bool, fromHome);
    QFETCH(QString, ending);
    QFETCH(bool, byEnter);
    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    const QString deep = temporary.path() + "/one/.hidden/three four";
    QVERIFY(QDir().mkpath(deep));
    // Enough folders listed above it to push it out of sight when they arrive after it was selected.
    constexpr int siblings = 80;
    for (int sibling = 0; sibling < siblings; ++sibling)
        QVERIFY(QDir().mkpath(temporary.path() + QString("/one/.hidden/a%1").arg(sibling)));
    const QByteArray home = qgetenv("HOME");
    const auto restoreHome = qScopeGuard([&] { qputenv("HOME", home); });
    qputenv("HOME", QFile::encodeName(temporary.path()));
    const QString typed = (fromHome ? QString("~/one/.hidden/three four") : deep) + ending;

    struct Seen {
        QString current;
        bool ancestorsExpanded = true;
        bool listedAbove = false;
        bool inView = false;
        QString field;
        QString selectionShown;
        bool okEnabled = false;
    } seen;

    const bool chosen = browseWith(*m_picker, m_window, [&](PickerParts& parts) {
        parts.type(typed);
        const QPersistentModelIndex current = parts.tree->currentIndex();
        seen.current = parts.current();
        for (QModelIndex above = current.parent(); above.isValid(); above = above.parent())
            seen.ancestorsExpanded = seen.ancestorsExpanded && parts.tree->isExpanded(above);
        const QModelIndex parent = current.parent();
        seen.listedAbove = waitUntil(
            [&] { return parts.model->rowCount(parent) == siblings + 1 && current.row() == siblings; });
        seen.inView = parts.tree->viewport()->rect().contains(parts.tree->visualRect(current));
        seen.field = parts.field->text();
        seen.selectionShown = parts.selection->text();
        seen.okEnabled = parts.ok->isEnabled();
        if (byEnter)
            QTest::keyClick(parts.field, Qt::Key_Return);
        else
            parts.ok->click();
    });

    QCOMPARE(seen.current, deep);
    QVERIFY(seen.ancestorsExpanded);
    QVERIFY(seen.listedAbove);
    QVERIFY(seen.inView);
    // The tree follows the field without rewriting what the user typed.
    QCOMPARE(seen.field, typed);
    QCOMPARE(seen.selectionShown, deep);
    QVERIFY(seen.okEnabled);
    QVERIFY(chosen);
    QCOMPARE(m_picker->chosenFolder(), QFile::encodeName(deep).toStdString());
}

void FolderPickerTest::pathsNamingNoFolderAreNotAccepted_data() {
    QTest::addColumn<QString>("typed");
    QTest::newRow("missing") << "/one/missing";
    QTest::newRow("a file") << "/one/file.zip";
    QTest::newRow("relative, though it exists in the working folder") << "one";
    QTest::newRow("another user's home") << "~no-such-user-here";
}

void FolderPickerTest::pathsNamingNoFolderAreNotAccepted() {
    QFETCH(QString, typed);
    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    QVERIFY(QDir().mkpath(temporary.path() + "/one"));
    QFile file(temporary.path() + "/one/file.zip");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QString working = QDir::currentPath();
    const auto restoreWorking = qScopeGuard([&] { QDir::setCurrent(working); });
    QVERIFY(QDir::setCurrent(temporary.path()));
    const QString path = typed.startsWith('/') ? temporary.path() + typed : typed;

    struct Seen {
        bool okEnabled = true;
        bool openAfterEnter = false;
        bool openAfterOk = false;
        QString fieldAfterClick;
        bool okEnabledAfterClick = false;
    } seen;

    const bool chosen = browseWith(*m_picker, m_window, [&](PickerParts& parts) {
        parts.type(path);
        seen.okEnabled = parts.ok->isEnabled();
        QTest::keyClick(parts.field, Qt::Key_Return);
        seen.openAfterEnter = parts.dialog->isVisible();
        parts.ok->click();
        seen.openAfterOk = parts.dialog->isVisible();
        // Clicking in the tree again, on the folder already selected or another, makes the field name that
        // folder, and OK chooses it.
        const QModelIndex root = parts.model->index("/");
        parts.tree->scrollTo(root);
        QTest::mouseClick(parts.tree->viewport(), Qt::LeftButton, {}, parts.tree->visualRect(root).center());
        seen.fieldAfterClick = parts.field->text();
        seen.okEnabledAfterClick = parts.ok->isEnabled();
        parts.ok->click();
    });

    QVERIFY(!seen.okEnabled);
    QVERIFY(seen.openAfterEnter);
    QVERIFY(seen.openAfterOk);
    QCOMPARE(seen.fieldAfterClick, QString("/"));
    QVERIFY(seen.okEnabledAfterClick);
    QVERIFY(chosen);
    QCOMPARE(m_picker->chosenFolder(), std::string("/"));
}

// Run once more at twice the scale too, where the picker's usual size is taller than the screen.
void FolderPickerTest::fitsTheScreen() {
    m_window.resize(300, 200);
    m_window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m_window));
    QRect available;
    QRect placed;
    browseWith(*m_picker, m_window, [&](PickerParts& parts) {
        available = parts.dialog->screen()->availableGeometry();
        placed = parts.dialog->frameGeometry();
    });
    QVERIFY(available.contains(placed));
}

QTEST_MAIN(FolderPickerTest)
#include "folder_picker_test.moc"
