#pragma once

// The main window: a fixed 310 x 192 pixel client area under a menu bar, every control at its
// place, and the display a run is shown on. The window raises its events as signals; its handlers
// are the window session's.

#include "folder_picker.h"
#include "run_display.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <memory>

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QRadioButton;

namespace vellum {

class AnimatedIcon;
class Panel3D;
class ProgressBarControl;

class MainWindow final : public QMainWindow, public RunDisplay {
    Q_OBJECT
public:
    static constexpr int escapeKeyCode = 27;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    Panel3D* initialsPanel = nullptr;
    QPushButton* cancelButton = nullptr;
    QPushButton* browseButton = nullptr;
    QGroupBox* frame = nullptr;
    AnimatedIcon* animatedIcon = nullptr;
    ProgressBarControl* percentageBar = nullptr;
    Panel3D* folderPanel = nullptr;
    QLabel* countsLabel = nullptr;
    QLabel* archiveLabel = nullptr;
    QLabel* statusLabel = nullptr;
    QRadioButton* focusHolder = nullptr;

    QMenu* fileMenu = nullptr;
    QAction* openLogAction = nullptr;
    QAction* browseAction = nullptr;
    QAction* fileMenuSeparator = nullptr;
    QAction* exitAction = nullptr;
    QMenu* helpMenu = nullptr;
    QAction* contentsAction = nullptr;
    QAction* webPageAction = nullptr;
    QAction* sendEmailAction = nullptr;
    QAction* aboutAction = nullptr;

    // The folder picker, a control without a visible part. Tests may put a scripted one in its place.
    FolderBrowser& folderPicker() { return *m_folderPicker; }
    void replaceFolderPicker(std::unique_ptr<FolderBrowser> picker);

    // RunDisplay
    void setTitle(const std::string& title) override;
    bool isMinimized() const override;
    void showNormalAndRepaint() override;
    void setBusyPointer(bool busy) override;
    void setAnimationEnabled(bool enabled) override;
    void setFolderCaption(const std::string& text) override;
    void setArchiveCaption(const std::string& text) override;
    void setStatusCaption(const std::string& text) override;
    void setCountsCaption(const std::string& text) override;
    void parkFocus() override;
    void letEventsThrough() override;
    ProgressBar& progressBar() override;

signals:
    // A key went down anywhere in the window, before the focused control sees it.
    void keyDown(int keyCode, int shift);
    // The window's size or state changed.
    void resized();
    // The window is being closed; a handler may ignore the event to keep it open.
    void closing(QCloseEvent* event);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls(QWidget* client);
    void createMenus();
    void redrawHeldBack();

    static constexpr qint64 redrawIntervalMilliseconds = 40;

    bool m_centred = false;
    // During a walk the window is redrawn at most once per interval: whatever changed meanwhile
    // is drawn together by the next redraw, which the timer makes sure of.
    bool m_redrawsPaced = false;
    QElapsedTimer m_sinceRedraw;
    QTimer m_heldRedraw;
    std::unique_ptr<FolderBrowser> m_folderPicker;
};

} // namespace vellum
