#include "shell/ToolApp.h"

int main(int argc, char** argv)
{
    ToolApp app;
    return app.Run(argc, argv);
}
