#include "folder_picker.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QTreeView>
#include <QVBoxLayout>

namespace vellum {

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
    tree->setModel(model);
    tree->setRootIndex(model->index(initialFolder));
    for (int column = 1; column < model->columnCount(); ++column)
        tree->hideColumn(column);
    tree->header()->hide();
    layout->addWidget(tree);

    m_selectionLabel = new QLabel(&dialog);
    m_selectionLabel->setTextFormat(Qt::PlainText);
    layout->addWidget(m_selectionLabel);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(tree->selectionModel(), &QItemSelectionModel::currentChanged, &dialog,
            [this, model](const QModelIndex& current) {
                std::string selection = model->filePath(current).toStdString();
                if (onSelectionChanged)
                    onSelectionChanged(selection, 0);
            });
    dialog.resize(360, 420);

    const bool chosen = dialog.exec() == QDialog::Accepted && tree->currentIndex().isValid();
    if (chosen)
        m_chosenFolder = model->filePath(tree->currentIndex()).toStdString();
    return chosen;
}

void FolderPicker::setSelectionText(const std::string& text) {
    m_selectionText = text;
    if (m_selectionLabel)
        m_selectionLabel->setText(QString::fromStdString(m_selectionText));
}

} // namespace vellum
