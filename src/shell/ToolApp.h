#pragma once

// The application object: brings up the sockets check, runs the main window
// for the life of the program, and takes everything down in a fixed order
// when it closes.
class ToolApp {
public:
    // The whole life of the program; the process exit code.
    int Run(int& argc, char** argv);
};

// Whether an IPv4 socket can be created (the sockets layer is usable).
bool SocketsAvailable();
