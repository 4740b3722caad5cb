#include "main_window.h"

#include "animated_icon.h"
#include "artwork.h"
#include "folder_picker.h"
#include "panel3d.h"
#include "progress_bar.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

namespace vellum {

namespace {

constexpr QSize clientSize(310, 192);

// The modifier bits a key handler receives: 1 Shift, 2 Ctrl, 4 Alt.
int shiftState(Qt::KeyboardModifiers modifiers) {
    return (modifiers.testFlag(Qt::ShiftModifier) ? 1 : 0) |
           (modifiers.testFlag(Qt::ControlModifier) ? 2 : 0) | (modifiers.testFlag(Qt::AltModifier) ? 4 : 0);
}

QString fromText(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

template <typename Widget> Widget* place(Widget* widget, const char* name, QRect geometry) {
    widget->setObjectName(name);
    widget->setGeometry(geometry);
    return widget;
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setObjectName("mainWindow");
    setWindowTitle("Vellum");
    setWindowIcon(applicationIcon());
    // The fixed layout was drawn for the classic 8-point interface font: lines 11 pixels high and
    // characters about 5 pixels wide. DejaVu Sans at 10 pixels has those measures, so "Testing ..."
    // ends before the counts begin and six-digit counts still fit their label; the desktop's own
    // font, larger and of any width, would run the status texts into each other.
    QFont interfaceFont("DejaVu Sans");
    interfaceFont.setStyleHint(QFont::SansSerif);
    interfaceFont.setPixelSize(10);
    setFont(interfaceFont);
    auto* client = new QWidget(this);
    client->setObjectName("client");
    client->setFixedSize(clientSize);
    setCentralWidget(client);
    createControls(client);
    createMenus();
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    m_folderPicker = std::make_unique<FolderPicker>(this);

    m_heldRedraw.setSingleShot(true);
    connect(&m_heldRedraw, &QTimer::timeout, this, [this] { redrawHeldBack(); });
    qApp->installEventFilter(this);
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(this);
}

void MainWindow::createControls(QWidget* client) {
    // Window children, in the window's own order; the frame's children are placed relative to it.
    initialsPanel = place(new Panel3D(Panel3D::Bevel::Raised, client), "initialsPanel", {241, 16, 54, 25});
    initialsPanel->setText("JvD");
    initialsPanel->setAlignment(Qt::AlignCenter);
    QFont initialsFont("Chaucer");
    initialsFont.setPointSizeF(14.25);
    initialsFont.setBold(true);
    initialsPanel->setFont(initialsFont);
    QPalette initialsPalette = initialsPanel->palette();
    initialsPalette.setColor(QPalette::WindowText, initialsPalette.color(QPalette::Button));
    initialsPalette.setColor(QPalette::Window, initialsPalette.color(QPalette::Button));
    initialsPanel->setPalette(initialsPalette);
    initialsPanel->setEngraved(true);
    initialsPanel->setCursor(clownCursor());
    initialsPanel->setAccessibleName("Author's initials");
    initialsPanel->setAccessibleDescription("Shows the About window");

    cancelButton = place(new QPushButton("&Cancel", client), "cancelButton", {182, 121, 58, 23});
    cancelButton->setToolTip("Abort testing");
    browseButton = place(new QPushButton("&Browse", client), "browseButton", {71, 121, 58, 23});
    browseButton->setToolTip("Browse for drive or directory with zip's");
    for (QPushButton* button : {browseButton, cancelButton}) {
        button->setAutoDefault(false);
        button->setCursor(pointingHandCursor());
    }

    frame = place(new QGroupBox(client), "frame", {8, 2, 294, 184});
    animatedIcon = place(new AnimatedIcon(frame), "animatedIcon", {19, 44, 32, 32});
    percentageBar = place(new ProgressBarControl(frame), "percentageBar", {48, 84, 199, 19});
    percentageBar->setToolTip("Zip test percentage");
    percentageBar->setAccessibleName("Zip test percentage");
    animatedIcon->setAccessibleName("Testing activity");
    folderPanel = place(new Panel3D(Panel3D::Bevel::Sunken, frame), "folderPanel", {14, 157, 263, 18});
    folderPanel->setToolTip("Search directories");
    countsLabel = place(new QLabel(frame), "countsLabel", {67, 22, 164, 17});
    archiveLabel = place(new QLabel(frame), "archiveLabel", {64, 53, 175, 17});
    archiveLabel->setToolTip("Zip being tested");
    statusLabel = place(new QLabel(frame), "statusLabel", {17, 22, 55, 15});
    // Text hangs from the top edge, as in the classic labels, so that statusLabel and countsLabel, which
    // differ in height, write on one line.
    archiveLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    statusLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    countsLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    for (QLabel* label : {archiveLabel, statusLabel, countsLabel})
        label->setTextFormat(Qt::PlainText);
    // These captions change for every archive of a walk. A widget whose size may follow its text
    // asks its parent to lay it out again at every change, a posted event that wakes the event loop
    // each time; at a fixed size a new text asks for a redraw only.
    for (QLabel* caption : {archiveLabel, statusLabel, countsLabel, static_cast<QLabel*>(folderPanel)})
        caption->setFixedSize(caption->size());

    // Below the client area: never seen, but it takes the focus so that no visible control shows it.
    // Only the window gives it the focus; a Tab that stopped there would leave the user nowhere. An
    // exclusive radio button puts itself back into the Tab chain whenever it is checked or focused.
    focusHolder = place(new QRadioButton("focusHolder", client), "focusHolder", {75, 212, 57, 19});
    focusHolder->setAutoExclusive(false);
    focusHolder->setFocusPolicy(Qt::NoFocus);

    initialsPanel->raise();
    browseButton->raise();
    cancelButton->raise();
    setTabOrder(initialsPanel, frame);
    setTabOrder(frame, percentageBar);
    setTabOrder(percentageBar, browseButton);
    setTabOrder(browseButton, cancelButton);
    setTabOrder(cancelButton, focusHolder);
}

void MainWindow::createMenus() {
    fileMenu = menuBar()->addMenu("&File");
    fileMenu->setObjectName("fileMenu");
    openLogAction = fileMenu->addAction("&Open log...");
    browseAction = fileMenu->addAction("&Browse");
    fileMenuSeparator = fileMenu->addSeparator();
    exitAction = fileMenu->addAction("E&xit...");
    helpMenu = menuBar()->addMenu("&Help");
    helpMenu->setObjectName("helpMenu");
    contentsAction = helpMenu->addAction("&Contents...");
    webPageAction = helpMenu->addAction("&Web page...");
    sendEmailAction = helpMenu->addAction("&Send Email...");
    aboutAction = helpMenu->addAction("&About...");
    openLogAction->setObjectName("openLogAction");
    browseAction->setObjectName("browseAction");
    fileMenuSeparator->setObjectName("fileMenuSeparator");
    exitAction->setObjectName("exitAction");
    contentsAction->setObjectName("contentsAction");
    webPageAction->setObjectName("webPageAction");
    sendEmailAction->setObjectName("sendEmailAction");
    aboutAction->setObjectName("aboutAction");
}

void MainWindow::replaceFolderPicker(std::unique_ptr<FolderBrowser> picker) {
    m_folderPicker = std::move(picker);
}

void MainWindow::setTitle(const std::string& title) {
    setWindowTitle(fromText(title));
}

bool MainWindow::isMinimized() const {
    return QMainWindow::isMinimized();
}

void MainWindow::showNormalAndRepaint() {
    showNormal();
    m_sinceRedraw.invalidate();
    repaint();
}

void MainWindow::setBusyPointer(bool busy) {
    // The hourglass marks a walk; while it lasts the window is redrawn at a steady rate rather
    // than after every archive, which would cost more than testing a small archive does.
    if (busy) {
        setCursor(Qt::WaitCursor);
        m_redrawsPaced = true;
    } else {
        unsetCursor();
        m_redrawsPaced = false;
        if (m_heldRedraw.isActive()) {
            m_heldRedraw.stop();
            redrawHeldBack();
        }
    }
}

void MainWindow::redrawHeldBack() {
    // Until the held request is answered the window asks for no other, so it is answered here.
    m_sinceRedraw.invalidate();
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(this, &request);
}

void MainWindow::setAnimationEnabled(bool enabled) {
    animatedIcon->setEnabled(enabled);
}

void MainWindow::setFolderCaption(const std::string& text) {
    folderPanel->setText(fromText(text));
}

void MainWindow::setArchiveCaption(const std::string& text) {
    archiveLabel->setText(fromText(text));
}

void MainWindow::setStatusCaption(const std::string& text) {
    statusLabel->setText(fromText(text));
}

void MainWindow::setCountsCaption(const std::string& text) {
    countsLabel->setText(fromText(text));
}

void MainWindow::parkFocus() {
    focusHolder->setFocus(Qt::OtherFocusReason);
}

void MainWindow::letEventsThrough() {
    QCoreApplication::processEvents();
}

ProgressBar& MainWindow::progressBar() {
    return *percentageBar;
}

bool MainWindow::event(QEvent* event) {
    // A walk paces when the window is drawn, never what is drawn: each redraw paints every control
    // in the changed area. Switching the controls' updates off between redraws instead let a
    // redraw already asked for paint the window's background over the animated icon and skip the
    // icon itself, which then stood blank until the next redraw.
    if (event->type() == QEvent::UpdateRequest && m_redrawsPaced) {
        if (m_sinceRedraw.isValid() && !m_sinceRedraw.hasExpired(redrawIntervalMilliseconds)) {
            if (!m_heldRedraw.isActive())
                m_heldRedraw.start(static_cast<int>(redrawIntervalMilliseconds - m_sinceRedraw.elapsed()));
            return true;
        }
        m_sinceRedraw.start();
    }
    return QMainWindow::event(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // Key preview: the window sees every key before the control that has the focus, which still
    // receives it afterwards. A key the focused control ignores travels on to its parents as the
    // same event, so only its first receiver counts.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        auto* receiver = static_cast<QWidget*>(watched);
        QWidget* focus = QApplication::focusWidget();
        if (receiver->window() == this && (receiver == focus || (focus == nullptr && receiver == this))) {
            const auto* key = static_cast<QKeyEvent*>(event);
            emit keyDown(key->key() == Qt::Key_Escape ? escapeKeyCode : key->key(),
                         shiftState(key->modifiers()));
            // Outside a dialog a push button answers Space only, so Return on a focused button is
            // pressed here. Auto-default buttons would take it too, but some styles draw them with
            // a default button's frame.
            const bool returnKey = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
            if (returnKey && (receiver == browseButton || receiver == cancelButton) && !key->isAutoRepeat()) {
                static_cast<QPushButton*>(receiver)->click();
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (m_centred)
        return;
    m_centred = true;
    if (const QScreen* display = screen())
        move(display->availableGeometry().center() - frameGeometry().center() + pos());
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        emit resized();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    emit resized();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    emit closing(event);
}

} // namespace vellum
