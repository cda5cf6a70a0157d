#include "platform_words.h"

// Windows names its serial ports COMn itself: the device is the port's name. A console's close, logging off and
// shutting down reach the program as Ctrl-C does (console_platform_win.cpp).
const PlatformWords &platformWords()
{
    static const PlatformWords words{
        "COMn such as COM7, or a range such as 3-6",
        "COM7",
        "",
        "Ctrl-C, closing the console, logging off or shutting down",
    };
    return words;
}
