#include "folder_picker.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTreeView>
#include <QVBoxLayout>

namespace vellum {

namespace {

// The folder a typed path names, or an empty text when it names none. Only absolute paths count:
// the working folder of a program started from a desktop menu is nothing the user can see, so a
// relative path would choose some folder by accident (and Qt would take ":/..." for its own
// resources). A leading "~" stands for the home folder, as in a shell.
QString folderNamedBy(const QString& typed) {
    QString path = typed;
    if (path == "~" || path.startsWith("~/"))
        path.replace(0, 1, QDir::homePath());
    if (!path.startsWith('/'))
        return {};
    path = QDir::cleanPath(path);
    return QFileInfo(path).isDir() ? path : QString();
}

// Whether index lies somewhere below folder in the tree.
bool liesBelow(const QModelIndex& index, const QModelIndex& folder) {
    for (QModelIndex above = index.parent(); above.isValid(); above = above.parent())
        if (above == folder)
            return true;
    return false;
}

// The picker's wished size, held inside the free area of the screen the parent window is on, less
// the window frame that the parent's own frame shows: on a small or highly scaled screen the whole
// dialog, its OK button included, stays in view, and the tree scrolls instead.
QSize sizeOnScreen(QSize wished, const QWidget* parentWindow) {
    const QScreen* screen = parentWindow ? parentWindow->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return wished;
    QSize room = screen->availableGeometry().size();
    if (parentWindow != nullptr && parentWindow->isVisible())
        room -= parentWindow->frameGeometry().size() - parentWindow->size();
    return wished.boundedTo(room);
}

// The run works on the bytes the file system uses for a name.
std::string fileSystemPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace

// The picker's dialog while it is open: its controls, and what the tree and the path field know
// of each other.
struct FolderPicker::Dialog {
    explicit Dialog(QWidget* parentWindow) : window(parentWindow) {}

    QDialog window;
    QLineEdit* pathField = nullptr;
    QFileSystemModel* model = nullptr;
    QTreeView* tree = nullptr;
    QPushButton* ok = nullptr;
    QPalette plainField;
    // Set while the tree follows the path field, so that the selection it makes does not rewrite
    // what the user is typing.
    bool followingField = false;
    // Set while the selection is the one the field asked for, which the tree keeps in view.
    bool keepTypedInView = false;

    // OK chooses the tree's selection, which is the field's folder whenever the field names one;
    // while it names none there is nothing the user asked for, so nothing can be chosen.
    void showFieldNamesFolder(bool namesFolder) {
        QPalette palette = plainField;
        if (!namesFolder)
            palette.setColor(QPalette::Text, Qt::red);
        pathField->setPalette(palette);
        ok->setEnabled(namesFolder);
    }

    void selectFolder(const QModelIndex& folder) {
        for (QModelIndex above = folder.parent(); above.isValid(); above = above.parent())
            tree->expand(above);
        tree->setCurrentIndex(folder);
        tree->scrollTo(folder);
    }
};

FolderPicker::FolderPicker(QWidget* parentWindow) : m_parentWindow(parentWindow) {}

FolderPicker::~FolderPicker() = default;

bool FolderPicker::browse() {
    Dialog dialog(m_parentWindow);
    buildControls(dialog);
    followSelection(dialog);
    followPathField(dialog);

    const QModelIndex root = dialog.model->index(initialFolder);
    dialog.selectFolder(root);
    dialog.tree->expand(root);
    dialog.pathField->selectAll();
    dialog.pathField->setFocus();
    dialog.window.resize(sizeOnScreen({360, 460}, m_parentWindow));

    const bool chosen = dialog.window.exec() == QDialog::Accepted && dialog.tree->currentIndex().isValid();
    if (chosen)
        m_chosenFolder = fileSystemPath(dialog.model->filePath(dialog.tree->currentIndex()));
    return chosen;
}

void FolderPicker::buildControls(Dialog& dialog) {
    QDialog& window = dialog.window;
    window.setObjectName("folderPickerDialog");
    window.setWindowTitle("Browse for Folder");
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(prompt1, &window));
    layout->addWidget(new QLabel(prompt2, &window));

    dialog.pathField = new QLineEdit(&window);
    dialog.pathField->setObjectName("folderPath");
    dialog.plainField = dialog.pathField->palette();
    auto* pathLabel = new QLabel("&Folder:", &window);
    pathLabel->setBuddy(dialog.pathField);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(pathLabel);
    pathRow->addWidget(dialog.pathField);
    layout->addLayout(pathRow);

    dialog.model = new QFileSystemModel(&window);
    dialog.model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden);
    dialog.model->setRootPath(initialFolder);
    dialog.tree = new QTreeView(&window);
    dialog.tree->setObjectName("folderTree");
    // The tree keeps the model's invisible top as its root, under which "/" is the only item: so the
    // root is an item of its own that can be selected and chosen, with every folder below it.
    dialog.tree->setModel(dialog.model);
    for (int column = 1; column < dialog.model->columnCount(); ++column)
        dialog.tree->hideColumn(column);
    dialog.tree->header()->hide();
    layout->addWidget(dialog.tree);

    m_selectionLabel = new QLabel(&window);
    m_selectionLabel->setObjectName("selectionText");
    m_selectionLabel->setTextFormat(Qt::PlainText);
    layout->addWidget(m_selectionLabel);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &window);
    dialog.ok = buttons->button(QDialogButtonBox::Ok);
    dialog.ok->setDefault(true);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &window, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &window, &QDialog::reject);
}

void FolderPicker::followSelection(Dialog& dialog) {
    connect(dialog.tree->selectionModel(), &QItemSelectionModel::currentChanged, &dialog.window,
            [this, &dialog](const QModelIndex& current) {
                const QString path = dialog.model->filePath(current);
                if (!dialog.followingField) {
                    dialog.keepTypedInView = false;
                    dialog.pathField->setText(path);
                    dialog.showFieldNamesFolder(current.isValid());
                }
                if (onSelectionChanged)
                    onSelectionChanged(fileSystemPath(path));
            });
    // A click on the item already selected changes no selection, yet it is the user's way back from
    // a path that names no folder.
    connect(dialog.tree, &QTreeView::clicked, &dialog.window, [&dialog](const QModelIndex& clicked) {
        dialog.keepTypedInView = false;
        dialog.pathField->setText(dialog.model->filePath(clicked));
        dialog.showFieldNamesFolder(true);
    });
}

void FolderPicker::followPathField(Dialog& dialog) {
    connect(dialog.pathField, &QLineEdit::textEdited, &dialog.window, [&dialog](const QString& typed) {
        const QString folder = folderNamedBy(typed);
        const QModelIndex index = folder.isEmpty() ? QModelIndex() : dialog.model->index(folder);
        if (index.isValid()) {
            dialog.followingField = true;
            dialog.selectFolder(index);
            dialog.followingField = false;
            dialog.keepTypedInView = true;
        }
        dialog.showFieldNamesFolder(index.isValid());
    });
    // A typed folder is usually selected before the folders around it are listed; the rows that
    // arrive afterwards and sort in above it would push it out of sight.
    const auto keepInView = [&dialog] {
        if (dialog.keepTypedInView)
            dialog.tree->scrollTo(dialog.tree->currentIndex());
    };
    connect(dialog.model, &QFileSystemModel::rowsInserted, &dialog.window,
            [keepInView, &dialog](const QModelIndex& parent) {
                if (liesBelow(dialog.tree->currentIndex(), parent))
                    keepInView();
            });
    connect(dialog.model, &QFileSystemModel::layoutChanged, &dialog.window, keepInView);
    connect(dialog.pathField, &QLineEdit::returnPressed, &dialog.window, [&dialog] {
        if (dialog.ok->isEnabled())
            dialog.window.accept();
    });
}

void FolderPicker::setSelectionText(const std::string& text) {
    m_selectionText = text;
    if (m_selectionLabel)
        m_selectionLabel->setText(QString::fromStdString(m_selectionText));
}

} // namespace vellum
