// platform.cpp (port): the program's platform policy where the port layer
// is SDL (the browser and Windows): its one video driver always shows a
// window, and needs no settings. How a failure reaches the user is the back
// end's (platform_report, beside each back end).
#include "../platform.h"

void platform_prepare() {}

const char *platform_start_hint()
{
    return "";
}

int platform_refuses_driver(char *line)
{
    (void)line;
    return 0;
}
