#pragma once

// The folder picker: a modal folder chooser over the whole file system. The tree's top item is "/"
// itself, selected when the picker opens, so choosing at once chooses the root. A path field above
// the tree takes a typed or pasted folder: an existing folder given by an absolute path (a leading
// "~" stands for the home folder) moves the tree's selection to it, anything else leaves OK disabled.
// The selection-changed handler writes the selection text back as the selection moves, the first
// selection included. Cancelling chooses nothing.

#include <QObject>
#include <QPointer>
#include <functional>
#include <string>

class QDialog;
class QLabel;

namespace vellum {

// What the window asks of a folder picker; tests put a scripted one in the real one's place.
class FolderBrowser {
public:
    virtual ~FolderBrowser() = default;
    // Shows the modal picker; true when the user chose a folder, false when they cancelled.
    virtual bool browse() = 0;
    virtual std::string chosenFolder() const = 0;
    // The text shown under the tree, written by the selection-changed handler.
    virtual void setSelectionText(const std::string& text) = 0;

    // Raised with the newly selected folder each time the selection changes while the picker is open.
    std::function<void(const std::string& selection)> onSelectionChanged;
};

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
    struct Dialog;
    void buildControls(Dialog& dialog);
    // The tree's selection writes the path field and tells onSelectionChanged.
    void followSelection(Dialog& dialog);
    // A typed folder moves the tree's selection and is kept in view.
    void followPathField(Dialog& dialog);

    QWidget* m_parentWindow;
    QPointer<QLabel> m_selectionLabel;
    std::string m_chosenFolder;
    std::string m_selectionText;
};

} // namespace vellum
