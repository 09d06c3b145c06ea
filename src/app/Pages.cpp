#include "app/Pages.h"

#include "app/ToolPage.h"
#include "tcpterm/TcpSocketPage.h"

namespace {

// Template of each page, in index order.
constexpr int kPageTemplates[kPageCount] = {129, 130, 131, 132, 133, 134, 135, 145, 137, 139, 138, 151};

}  // namespace

ToolPage* CreatePage(int index, QWidget* parent)
{
    switch (index) {
    // Pages with code of their own are created here by their class.
    case 6: return new TcpSocketPage(parent);
    default:
        return new ToolPage(kPageTemplates[index], parent);
    }
}
