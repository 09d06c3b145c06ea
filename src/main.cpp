#include "shell/ToolApp.h"

int main(int argc, char** argv)
{
    ToolApp app;
    return app.InitInstance(argc, argv);
}
