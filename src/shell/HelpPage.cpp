#include "shell/HelpPage.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryFile>
#include <QUrl>

#include "templates/ControlIds.h"
#include "ui/Author.h"

using namespace HelpControls;

namespace {

constexpr char kHelpResource[] = ":/docs/help.html";

}  // namespace

HelpPage::HelpPage(QWidget* parent) : ToolPage(kTemplate, parent)
{
    auto* email = Item<QPushButton>(kEmailButton);
    email->setText(QStringLiteral("Email: ") + QLatin1String(kAuthorAddress));
    email->setAccessibleName(email->text());
    connect(Item<QPushButton>(kHtmlHelpButton), &QPushButton::clicked, this, &HelpPage::OnHtmlHelp);
    connect(Item<QPushButton>(kWebsiteButton), &QPushButton::clicked, this, &HelpPage::OnWebsite);
    connect(email, &QPushButton::clicked, this, &HelpPage::OnEmail);
}

HelpPage::~HelpPage() = default;

QString HelpPage::HelpDocumentPath()
{
    // The browser reads the file some time after the request: the copy stays
    // until the page goes, and is kept for later requests.
    if (helpFile_ && QFileInfo::exists(helpFile_->fileName()))
        return helpFile_->fileName();

    QFile source(QString::fromLatin1(kHelpResource));
    if (!source.open(QIODevice::ReadOnly))
        qFatal("%s is not among the resources", kHelpResource);
    const QByteArray document = source.readAll();

    // An unusable TMPDIR gives an empty path, which would put the copy into
    // the working directory.
    const QString folder = QDir::tempPath();
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        Message(QStringLiteral("Unable To Write The Help Document!\n\nThe temporary folder (TMPDIR) does not exist."),
                MessageKind::Failure);
        return {};
    }
    // QTemporaryFile creates a new file with a random name, readable by its owner only.
    auto file = std::make_unique<QTemporaryFile>(QDir(folder).filePath(QStringLiteral("quorlix-help-XXXXXX.html")));
    if (!file->open() || file->write(document) != document.size() || !file->flush()) {
        Message(QStringLiteral("Unable To Write The Help Document!\n\n") + file->errorString(), MessageKind::Failure);
        return {};
    }
    file->close();
    helpFile_ = std::move(file);
    return helpFile_->fileName();
}

void HelpPage::OnHtmlHelp()
{
    const QString path = HelpDocumentPath();
    if (path.isEmpty())
        return;
    // No fragment: the browser shows the document from its top.
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        Message(QStringLiteral("Unable To Start A Web Browser!\n\nThe help document is at:\n") + path,
                MessageKind::Warning);
}

void HelpPage::OnWebsite()
{
    // Unreachable while the button stays disabled, as it does.
    Message(QStringLiteral("No Website Set Up At Present"), MessageKind::Warning);
}

void HelpPage::OnEmail()
{
    const QString address = QLatin1String(kAuthorAddress);
    if (!QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") + address)))
        Message(QStringLiteral("Unable To Start An Email Program!\n\nThe author's address is:\n") + address,
                MessageKind::Warning);
}
