// policy.cpp: the platform policy the port layer's platforms share (the
// browser and Windows; each adds its own platform_report in its
// platform.cpp). Their video driver draws on a canvas or in a window of
// its own, never in a terminal: nothing to set before SDL starts, no hint
// for a failed start, no driver to refuse.
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
