#pragma once

// What the console program's texts call the platform's things, where the platforms differ: how a port is named
// on the command line and what stops a run. From platform_words_unix.cpp or platform_words_win.cpp, which hold
// nothing else, so that a test on one platform can link the other's words.
struct PlatformWords {
    const char *portForms;       // what --port takes besides N: "COMn, a range such as 3-6, or a device path..."
    const char *examplePort;     // the port of the help's station script line: "/dev/ttyUSB0", "COM7"
    const char *portsBeyondTable; // ports: what is listed besides COM1 to COM16, as " (and ...)"; empty for nothing
    const char *stopRequests;    // what asks a run to stop: "Ctrl-C or SIGTERM"
};

const PlatformWords &platformWords();
