#pragma once

#include <QString>
#include <memory>

#include "ui/ToolPage.h"

class QTemporaryFile;

// Opens the help document in the system's web browser, and a new mail to the
// author in the user's mail program.
class HelpPage : public ToolPage {
    Q_OBJECT
public:
    explicit HelpPage(QWidget* parent);
    ~HelpPage() override;  // removes the document's temporary copy

    void OnHtmlHelp();
    void OnWebsite();
    void OnEmail();

private:
    // The path of a private copy of the embedded document, written on first
    // use and again if it has gone; empty (after a message) when it cannot be written.
    QString HelpDocumentPath();

    std::unique_ptr<QTemporaryFile> helpFile_;
};
