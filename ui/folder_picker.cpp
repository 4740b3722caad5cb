#include "folder_picker.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QTreeView>
#include <QVBoxLayout>

namespace vellum {

namespace {

// The run works on the bytes the file system uses for a name.
std::string fileSystemPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace

FolderPicker::FolderPicker(QWidget* parentWindow) : m_parentWindow(parentWindow) {}

FolderPicker::~FolderPicker() = default;

bool FolderPicker::browse() {
    QDialog dialog(m_parentWindow);
    dialog.setObjectName("BrowseDialog1");
    dialog.setWindowTitle("Browse for Folder");
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(prompt1, &dialog));
    layout->addWidget(new QLabel(prompt2, &dialog));

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
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    connect(tree->selectionModel(), &QItemSelectionModel::currentChanged, &dialog,
            [this, model](const QModelIndex& current) {
                std::string selection = fileSystemPath(model->filePath(current));
                if (onSelectionChanged)
                    onSelectionChanged(selection, 0);
            });
    const auto selectFolder = [tree](const QModelIndex& folder) {
        for (QModelIndex above = folder.parent(); above.isValid(); above = above.parent())
            tree->expand(above);
        tree->setCurrentIndex(folder);
        tree->scrollTo(folder);
    };

    const QModelIndex root = model->index(initialFolder);
    selectFolder(root);
    tree->expand(root);
    dialog.resize(360, 420);

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
