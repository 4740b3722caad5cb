#include "folder_picker.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
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

// The run works on the bytes the file system uses for a name.
std::string fileSystemPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace

FolderPicker::FolderPicker(QWidget* parentWindow) : m_parentWindow(parentWindow) {}

FolderPicker::~FolderPicker() = default;

bool FolderPicker::browse() {
    // Both are declared before the dialog, whose children may still signal while it is destroyed.
    // Set while the tree follows the path field, so that the selection it makes does not rewrite
    // what the user is typing.
    bool followingField = false;
    // Set while the selection is the one the field asked for, which the tree keeps in view.
    bool keepTypedInView = false;

    QDialog dialog(m_parentWindow);
    dialog.setObjectName("folderPickerDialog");
    dialog.setWindowTitle("Browse for Folder");
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(prompt1, &dialog));
    layout->addWidget(new QLabel(prompt2, &dialog));

    auto* pathField = new QLineEdit(&dialog);
    pathField->setObjectName("folderPath");
    auto* pathLabel = new QLabel("&Folder:", &dialog);
    pathLabel->setBuddy(pathField);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(pathLabel);
    pathRow->addWidget(pathField);
    layout->addLayout(pathRow);

    auto* model = new QFileSystemModel(&dialog);
    model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden);
    model->setRootPath(initialFolder);
    auto* tree = new QTreeView(&dialog);
    tree->setObjectName("folderTree");
    // The tree keeps the model's invisible top as its root, under which "/" is the only item: so the
    // root is an item of its own that can be selected and chosen, with every folder below it.
    tree->setModel(model);
    for (int column = 1; column < model->columnCount(); ++column)
        tree->hideColumn(column);
    tree->header()->hide();
    layout->addWidget(tree);

    m_selectionLabel = new QLabel(&dialog);
    m_selectionLabel->setObjectName("selectionText");
    m_selectionLabel->setTextFormat(Qt::PlainText);
    layout->addWidget(m_selectionLabel);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setDefault(true);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    const QPalette plainField = pathField->palette();
    // OK chooses the tree's selection, which is the field's folder whenever the field names one;
    // while it names none there is nothing the user asked for, so nothing can be chosen.
    const auto showFieldNamesFolder = [=](bool namesFolder) {
        QPalette palette = plainField;
        if (!namesFolder)
            palette.setColor(QPalette::Text, Qt::red);
        pathField->setPalette(palette);
        ok->setEnabled(namesFolder);
    };

    connect(tree->selectionModel(), &QItemSelectionModel::currentChanged, &dialog,
            [this, &followingField, &keepTypedInView, model, pathField,
             showFieldNamesFolder](const QModelIndex& current) {
                const QString path = model->filePath(current);
                if (!followingField) {
                    keepTypedInView = false;
                    pathField->setText(path);
                    showFieldNamesFolder(current.isValid());
                }
                if (onSelectionChanged)
                    onSelectionChanged(fileSystemPath(path));
            });
    // A click on the item already selected changes no selection, yet it is the user's way back from
    // a path that names no folder.
    connect(tree, &QTreeView::clicked, &dialog,
            [&keepTypedInView, model, pathField, showFieldNamesFolder](const QModelIndex& clicked) {
                keepTypedInView = false;
                pathField->setText(model->filePath(clicked));
                showFieldNamesFolder(true);
            });
    const auto selectFolder = [tree](const QModelIndex& folder) {
        for (QModelIndex above = folder.parent(); above.isValid(); above = above.parent())
            tree->expand(above);
        tree->setCurrentIndex(folder);
        tree->scrollTo(folder);
    };
    connect(
        pathField, &QLineEdit::textEdited, &dialog,
        [&followingField, &keepTypedInView, model, selectFolder, showFieldNamesFolder](const QString& typed) {
            const QString folder = folderNamedBy(typed);
            const QModelIndex index = folder.isEmpty() ? QModelIndex() : model->index(folder);
            if (index.isValid()) {
                followingField = true;
                selectFolder(index);
                followingField = false;
                keepTypedInView = true;
            }
            showFieldNamesFolder(index.isValid());
        });
    // A typed folder is usually selected before the folders around it are listed; the rows that
    // arrive afterwards and sort in above it would push it out of sight.
    const auto keepInView = [&keepTypedInView, tree] {
        if (keepTypedInView)
            tree->scrollTo(tree->currentIndex());
    };
    connect(model, &QFileSystemModel::rowsInserted, &dialog, [keepInView, tree](const QModelIndex& parent) {
        if (liesBelow(tree->currentIndex(), parent))
            keepInView();
    });
    connect(model, &QFileSystemModel::layoutChanged, &dialog, keepInView);
    connect(pathField, &QLineEdit::returnPressed, &dialog, [&dialog, ok] {
        if (ok->isEnabled())
            dialog.accept();
    });

    const QModelIndex root = model->index(initialFolder);
    selectFolder(root);
    tree->expand(root);
    pathField->selectAll();
    pathField->setFocus();
    dialog.resize(360, 460);

    const bool chosen = dialog.exec() == QDialog::Accepted && tree->currentIndex().isValid();
    if (chosen)
        m_chosenFolder = fileSystemPath(model->filePath(tree->currentIndex()));
    return chosen;
}

void FolderPicker::setSelectionText(const std::string& text) {
    m_selectionText = text;
    if (m_selectionLabel)
        m_selectionLabel->setText(QString::fromStdString(m_selectionText));
}

} // namespace vellum
