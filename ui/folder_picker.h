#pragma once

// The folder picker: a modal folder chooser over the whole file system. The tree's top item is "/"
// itself, selected when the picker opens, so choosing at once chooses the root. A path field above
// the tree takes a typed or pasted folder: an existing folder given by an absolute path (a leading
// "~" stands for the home folder) moves the tree's selection to it, anything else leaves OK disabled.
// The selection-changed handler writes the selection text back as the selection moves, the first
// selection included. Cancelling chooses nothing.

#include "run_window.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <string>

class QDialog;
class QLabel;

namespace vellum {

class FolderPicker final : public QObject, public FolderBrowser {
public:
    explicit FolderPicker(QWidget* parentWindow);
    ~FolderPicker() override;

    bool browse() override;
    std::string chosenFolder() const override { return m_chosenFolder; }
    void setSelectionText(const std::string& text) override;

    static constexpr const char* prompt1 = "Choose drive or folder of Zip's to test";
    static constexpr const char* prompt2 = "Al sub-directories will be checked also";
    static constexpr const char* initialFolder = "/";

private:
    QWidget* m_parentWindow;
    QPointer<QLabel> m_selectionLabel;
    std::string m_chosenFolder;
    std::string m_selectionText;
};

} // namespace vellum
