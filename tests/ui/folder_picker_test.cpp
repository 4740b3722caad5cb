// The folder picker as a user drives it.

#include "condition_wait.h"
#include "folder_picker.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileSystemModel>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

using namespace vellum;
using namespace vellum::testing;

namespace {

// The picker's parts, as the user sees them.
struct PickerParts {
    QDialog* dialog = nullptr;
    QTreeView* tree = nullptr;
    QFileSystemModel* model = nullptr;
    QLabel* selection = nullptr;
    QPushButton* ok = nullptr;

    bool complete() const { return tree && model && selection && ok; }
    QString current() const { return model->filePath(tree->currentIndex()); }
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
        PickerParts parts{dialog, dialog->findChild<QTreeView*>("folderTree"), nullptr,
                          dialog->findChild<QLabel*>("selectionText"), nullptr};
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

private:
    QWidget m_window;
    std::unique_ptr<FolderPicker> m_picker;
    std::vector<std::string> m_selections;
};

void FolderPickerTest::init() {
    m_picker = std::make_unique<FolderPicker>(&m_window);
    m_selections.clear();
    // As the run does: every selection is written back into the picker, which shows it.
    m_picker->onSelectionChanged = [this](std::string& selection, std::int32_t) {
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
        seen.selectionShown = parts.selection->text();
        seen.selectionsAtOpen = m_selections.size();
        parts.ok->click();
    });

    QCOMPARE(seen.topItems, 1);
    QCOMPARE(seen.topItem, QString("/"));
    QVERIFY(seen.topIsCurrent);
    QVERIFY(seen.topIsSelected);
    QVERIFY(seen.childrenListed);
    // The opening selection is reported like every later one, so the text under the tree shows it.
    QCOMPARE(seen.selectionsAtOpen, std::size_t{1});
    QCOMPARE(m_selections.front(), std::string("/"));
    QCOMPARE(seen.selectionShown, QString("/"));
    QVERIFY(chosen);
    QCOMPARE(m_picker->chosenFolder(), std::string("/"));
}

QTEST_MAIN(FolderPickerTest)
#include "folder_picker_test.moc"
