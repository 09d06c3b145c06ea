#pragma once

#include <string>

#include "ui/ToolPage.h"

// The program's name and version, its purpose, its licence and disclaimer.
class AboutPage : public ToolPage {
    Q_OBJECT
public:
    explicit AboutPage(QWidget* parent);
};

// The page's texts as the program writes them: CR LF between lines, tabs for
// indents. The help document repeats the licence and the disclaimer.
std::string AboutInfoText(int major, int minor);
std::string AboutLicenceText();
std::string AboutDisclaimerText();
