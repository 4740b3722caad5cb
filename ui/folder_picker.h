#pragma once

// The folder picker: a modal folder chooser that opens at the file system root, shows two prompts
// and a selection text, and can be cancelled. Reached by dispatch ID: the browse call answers
// whether a folder was chosen, the chosen-folder property gives it, and the selection-text
// property is written back by the selection-changed handler as the selection moves.

#include "dispatch.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <string>

class QDialog;
class QLabel;

namespace vellum {

class FolderPicker final : public QObject, public Dispatch {
public:
    explicit FolderPicker(QWidget* parentWindow);
    ~FolderPicker() override;

    // Raised with the newly selected folder each time the selection changes while the picker is open.
    std::function<void(std::string& selection, std::int32_t reserved)> onSelectionChanged;

    std::optional<DispatchValue> invoke(std::int32_t dispatchId, DispatchKind kind,
                                        std::span<const DispatchValue> arguments) override;

    static constexpr const char* prompt1 = "Choose drive or folder of Zip's to test";
    static constexpr const char* prompt2 = "Al sub-directories will be checked also";
    static constexpr const char* initialFolder = "/";

private:
    bool browse();

    QWidget* m_parentWindow;
    QPointer<QLabel> m_selectionLabel;
    std::string m_chosenFolder;
    std::string m_selectionText;
};

} // namespace vellum
