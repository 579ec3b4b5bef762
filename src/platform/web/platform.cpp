// platform.cpp (browser): the program's platform policy on the port layer
// in a page. The port layer's video driver draws on the page's canvas, never
// in a terminal: nothing to set before SDL starts, no hint for a failed
// start, no driver to refuse. A start-up failure goes to standard error,
// which the page's shell shows in the browser's console.
#include "../platform.h"

#include <cstdio>

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

void platform_report(const char *line)
{
    std::fprintf(stderr, "%s\n", line);
}
