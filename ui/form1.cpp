#include "form1.h"

#include "animated_icon.h"
#include "artwork.h"
#include "folder_picker.h"
#include "panel3d.h"
#include "progress_bar.h"
#include "zip/zip_tester.h"

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

Form1::Form1(QWidget* parent) : QMainWindow(parent) {
    setObjectName("Form1");
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

    m_browseDialog = std::make_unique<FolderPicker>(this);
    m_zipTester = std::make_unique<ZipTester>();

    m_heldRedraw.setSingleShot(true);
    connect(&m_heldRedraw, &QTimer::timeout, this, [this] { redrawHeldBack(); });
    qApp->installEventFilter(this);
}

Form1::~Form1() {
    qApp->removeEventFilter(this);
}

void Form1::createControls(QWidget* client) {
    // Window children, in the window's own order; the frame's children are placed relative to it.
    Panel2 = place(new Panel3D(Panel3D::Bevel::Raised, client), "Panel2", {241, 16, 54, 25});
    Panel2->setText("JvD");
    Panel2->setAlignment(Qt::AlignCenter);
    QFont initialsFont("Chaucer");
    initialsFont.setPointSizeF(14.25);
    initialsFont.setBold(true);
    Panel2->setFont(initialsFont);
    QPalette initialsPalette = Panel2->palette();
    initialsPalette.setColor(QPalette::WindowText, initialsPalette.color(QPalette::Button));
    initialsPalette.setColor(QPalette::Window, initialsPalette.color(QPalette::Button));
    Panel2->setPalette(initialsPalette);
    Panel2->setEngraved(true);
    Panel2->setCursor(clownCursor());

    Command2 = place(new QPushButton("&Cancel", client), "Command2", {182, 121, 58, 23});
    Command2->setToolTip("Abort testing");
    Command1 = place(new QPushButton("&Browse", client), "Command1", {71, 121, 58, 23});
    Command1->setToolTip("Browse for drive or directory with zip's");
    for (QPushButton* button : {Command1, Command2}) {
        button->setAutoDefault(false);
        button->setCursor(pointingHandCursor());
    }

    Frame1 = place(new QGroupBox(client), "Frame1", {8, 2, 294, 184});
    AniIcon1 = place(new AnimatedIcon(Frame1), "AniIcon1", {19, 44, 32, 32});
    ProgressBar1 = place(new ProgressBarControl(Frame1), "ProgressBar1", {48, 84, 199, 19});
    ProgressBar1->setToolTip("Zip test percentage");
    Panel1 = place(new Panel3D(Panel3D::Bevel::Sunken, Frame1), "Panel1", {14, 157, 263, 18});
    Panel1->setToolTip("Search directories");
    Label3 = place(new QLabel(Frame1), "Label3", {67, 22, 164, 17});
    Label1 = place(new QLabel(Frame1), "Label1", {64, 53, 175, 17});
    Label1->setToolTip("Zip being tested");
    Label2 = place(new QLabel(Frame1), "Label2", {17, 22, 55, 15});
    // Text hangs from the top edge, as in the classic labels, so that Label2 and Label3, which
    // differ in height, write on one line.
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    for (QLabel* label : {Label1, Label2, Label3})
        label->setTextFormat(Qt::PlainText);
    // These captions change for every archive of a walk. A widget whose size may follow its text
    // asks its parent to lay it out again at every change, a posted event that wakes the event loop
    // each time; at a fixed size a new text asks for a redraw only.
    for (QLabel* caption : {Label1, Label2, Label3, static_cast<QLabel*>(Panel1)})
        caption->setFixedSize(caption->size());

    // Below the client area: never seen, but it takes the focus so that no visible control shows it.
    Option1 = place(new QRadioButton("Option1", client), "Option1", {75, 212, 57, 19});

    Panel2->raise();
    Command1->raise();
    Command2->raise();
    setTabOrder(Panel2, Frame1);
    setTabOrder(Frame1, ProgressBar1);
    setTabOrder(ProgressBar1, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Option1);
}

void Form1::createMenus() {
    file = menuBar()->addMenu("&File");
    file->setObjectName("file");
    log = file->addAction("&Open log...");
    browse = file->addAction("&Browse");
    dead1 = file->addSeparator();
    exit = file->addAction("E&xit...");
    help = menuBar()->addMenu("&Help");
    help->setObjectName("help");
    contents = help->addAction("&Contents...");
    web = help->addAction("&Web page...");
    email = help->addAction("&Send Email...");
    about = help->addAction("&About...");
    log->setObjectName("log");
    browse->setObjectName("browse");
    dead1->setObjectName("dead1");
    exit->setObjectName("exit");
    contents->setObjectName("contents");
    web->setObjectName("web");
    email->setObjectName("email");
    about->setObjectName("about");
}

void Form1::replaceBrowseDialog(std::unique_ptr<FolderBrowser> picker) {
    m_browseDialog = std::move(picker);
}

void Form1::replaceZipTester(std::unique_ptr<ArchiveTester> tester) {
    m_zipTester = std::move(tester);
}

void Form1::setCaption(const std::string& caption) {
    setWindowTitle(fromText(caption));
}

bool Form1::isMinimized() const {
    return QMainWindow::isMinimized();
}

void Form1::showNormalAndRepaint() {
    showNormal();
    m_sinceRedraw.invalidate();
    repaint();
}

void Form1::setBusyPointer(bool busy) {
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

void Form1::redrawHeldBack() {
    // Until the held request is answered the window asks for no other, so it is answered here.
    m_sinceRedraw.invalidate();
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(this, &request);
}

void Form1::setAnimationEnabled(bool enabled) {
    AniIcon1->setEnabled(enabled);
}

void Form1::setPanel1Caption(const std::string& text) {
    Panel1->setText(fromText(text));
}

void Form1::setLabel1Caption(const std::string& text) {
    Label1->setText(fromText(text));
}

void Form1::setLabel2Caption(const std::string& text) {
    Label2->setText(fromText(text));
}

void Form1::setLabel3Caption(const std::string& text) {
    Label3->setText(fromText(text));
}

void Form1::focusOption1() {
    Option1->setFocus(Qt::OtherFocusReason);
}

void Form1::yieldToEvents() {
    QCoreApplication::processEvents();
}

void Form1::closeWindow() {
    close();
}

ProgressBar& Form1::progressBar() {
    return *ProgressBar1;
}

bool Form1::event(QEvent* event) {
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

bool Form1::eventFilter(QObject* watched, QEvent* event) {
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
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void Form1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (m_centred)
        return;
    m_centred = true;
    if (const QScreen* display = screen())
        move(display->availableGeometry().center() - frameGeometry().center() + pos());
}

void Form1::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        emit resized();
}

void Form1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    emit resized();
}

void Form1::closeEvent(QCloseEvent* event) {
    event->accept();
    emit closing(event);
}

} // namespace vellum
