#include "platform_words.h"

const PlatformWords &platformWords()
{
    static const PlatformWords words{
        "COMn, a range such as 3-6, or a device path such as /dev/ttyUSB0",
        "/dev/ttyUSB0",
        " (and any other number with a link)",
        "Ctrl-C or SIGTERM",
    };
    return words;
}
