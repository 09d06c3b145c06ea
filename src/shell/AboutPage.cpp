#include "shell/AboutPage.h"

#include <QLabel>

#include "templates/ControlIds.h"
#include "ui/Author.h"

#if !defined(QUORLIX_VERSION_MAJOR) || !defined(QUORLIX_VERSION_MINOR)
#error "the version comes from the CMake project version (QUORLIX_VERSION_MAJOR, QUORLIX_VERSION_MINOR)"
#endif

using namespace AboutControls;

namespace {

QString LabelText(const std::string& text)
{
    // A label breaks lines at LF; the CR of each CR LF would show as a stray glyph.
    QString s = QString::fromLatin1(text.data(), qsizetype(text.size()));
    s.remove(QLatin1Char('\r'));
    return s;
}

}  // namespace

std::string AboutInfoText(int major, int minor)
{
    return "Quorlix\r\n"
           "Version: " + std::to_string(major) + "." + std::to_string(minor) + " (BETA)\r\n"
           "Operating Systems: Linux\r\n"
           "\r\n"
           "This Application is designed for network diagnosis and security auditing.\r\n"
           "\r\n"
           "Email: " + std::string(kAuthorAddress);
}

std::string AboutLicenceText()
{
    return "LICENCE:\r\n"
           "\tQuorlix is free software under the MIT License: anyone may use, copy, modify, merge, "
           "publish, distribute, sublicense and sell copies of it, on these terms:\r\n"
           "\t1. The copyright notice and this permission notice stay in all copies or substantial "
           "portions of the software.\r\n"
           "\t2. The software comes \"as is\", without warranty of any kind, express or implied.\r\n"
           "\t3. The authors and copyright holders are not liable for any claim, damages or other "
           "liability arising from the software or its use.";
}

std::string AboutDisclaimerText()
{
    return "DISCLAIMER:\r\n"
           "\tYou receive this software on an \"as is\" basis, and you do not rely on its accuracy "
           "or functionality for any purpose.\r\n"
           "\tYou use it entirely at your own risk: the copyright holder accepts no responsibility "
           "for any loss or damage arising from its use.";
}

AboutPage::AboutPage(QWidget* parent) : ToolPage(kTemplate, parent)
{
    Item<QLabel>(kLicence)->setText(LabelText(AboutLicenceText()));
    Item<QLabel>(kDisclaimer)->setText(LabelText(AboutDisclaimerText()));
    Item<QLabel>(kInfo)->setText(LabelText(AboutInfoText(QUORLIX_VERSION_MAJOR, QUORLIX_VERSION_MINOR)));
}
