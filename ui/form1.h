#pragma once

// The main window: a fixed 310 x 192 pixel client area under a menu bar, every control at its
// place, and the test run's view of it. The window raises its events as signals; the handlers
// live with the start-up code and the test run.

#include "run_window.h"

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

class Form1 final : public QMainWindow, public RunWindow {
    Q_OBJECT
public:
    static constexpr int escapeKeyCode = 27;

    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // Controls, by the names the rest of the program knows them by.
    Panel3D* Panel2 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command1 = nullptr;
    QGroupBox* Frame1 = nullptr;
    AnimatedIcon* AniIcon1 = nullptr;
    ProgressBarControl* ProgressBar1 = nullptr;
    Panel3D* Panel1 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QRadioButton* Option1 = nullptr;

    QMenu* file = nullptr;
    QAction* log = nullptr;
    QAction* browse = nullptr;
    QAction* dead1 = nullptr;
    QAction* exit = nullptr;
    QMenu* help = nullptr;
    QAction* contents = nullptr;
    QAction* web = nullptr;
    QAction* email = nullptr;
    QAction* about = nullptr;

    // The controls without a visible part. Tests may put scripted ones in their place.
    FolderBrowser& BrowseDialog1() { return *m_browseDialog; }
    ArchiveTester& ZipTester1() { return *m_zipTester; }
    void replaceBrowseDialog(std::unique_ptr<FolderBrowser> picker);
    void replaceZipTester(std::unique_ptr<ArchiveTester> tester);

    // RunWindow
    void setCaption(const std::string& caption) override;
    bool isMinimized() const override;
    void showNormalAndRepaint() override;
    void setBusyPointer(bool busy) override;
    void setAnimationEnabled(bool enabled) override;
    void setPanel1Caption(const std::string& text) override;
    void setLabel1Caption(const std::string& text) override;
    void setLabel2Caption(const std::string& text) override;
    void setLabel3Caption(const std::string& text) override;
    void focusOption1() override;
    void yieldToEvents() override;
    void closeWindow() override;
    ProgressBar& progressBar() override;
    FolderBrowser& browseDialog() override { return BrowseDialog1(); }
    ArchiveTester& zipTester() override { return ZipTester1(); }

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
    std::unique_ptr<FolderBrowser> m_browseDialog;
    std::unique_ptr<ArchiveTester> m_zipTester;
};

} // namespace vellum
