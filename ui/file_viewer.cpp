#include "file_viewer.h"

#include "escaped_text.h"
#include "file_tail.h"
#include "message_box.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace vellum {

namespace {

QString fromBytes(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QWidget* webPageView(const QString& html, QWidget* parent) {
    auto* page = new QTextBrowser(parent);
    // Links within the page move through it; a link that leads elsewhere goes to the desktop.
    page->setOpenExternalLinks(true);
    page->setHtml(html);
    return page;
}

QWidget* plainTextView(QString text, QWidget* parent) {
    auto* view = new QPlainTextEdit(parent);
    view->setReadOnly(true);
    // A report holds one archive a line, which wrapping would make look like two.
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view->setPlainText(text.replace(QLatin1String("\r\n"), QLatin1String("\n")));
    return view;
}

} // namespace

FileViewer* FileViewer::showFile(const std::string& path, QWidget* owner) {
    const platform::FileTail content = platform::readFileTail(path, shownBytes);
    if (content.failure) {
        platform::showStopMessage(
            "Vellum cannot show " + platform::escapedText(path) + ":\r\n" + *content.failure, "Vellum error");
        return nullptr;
    }
    auto* viewer = new FileViewer(path, content, owner);
    viewer->show();
    return viewer;
}

FileViewer::FileViewer(const std::string& path, const platform::FileTail& content, QWidget* owner)
    : QDialog(owner) {
    setObjectName("fileViewer");
    setAttribute(Qt::WA_DeleteOnClose);
    const QString name = fromBytes(path.substr(path.rfind('/') + 1));
    setWindowTitle(name);

    auto* layout = new QVBoxLayout(this);
    if (content.leftOut > 0) {
        auto* note =
            new QLabel(QStringLiteral("Only the end of the file is shown: its first %1 bytes are left out.")
                           .arg(content.leftOut),
                       this);
        layout->addWidget(note);
    }
    const bool webPage = name.endsWith(QLatin1String(".html"), Qt::CaseInsensitive) ||
                         name.endsWith(QLatin1String(".htm"), Qt::CaseInsensitive);
    QWidget* view =
        webPage ? webPageView(fromBytes(content.text), this) : plainTextView(fromBytes(content.text), this);
    view->setObjectName("fileText");
    layout->addWidget(view);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(720, 520);
}

} // namespace vellum
