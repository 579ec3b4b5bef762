// platform.cpp (Windows): the program's platform policy on the port layer
// as a Windows GUI program. The port layer's video driver draws in a Win32
// window, never in a console: nothing to set before SDL starts, no hint for
// a failed start, no driver to refuse. A GUI program has no console for its
// standard error, so a start-up failure is also shown in a message box.
#include "../platform.h"

#include <windows.h>

#include <cstdio>

// The message box's title.
static const char *const REPORT_CAPTION = "Vesk";

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
    MessageBoxA(nullptr, line, REPORT_CAPTION, MB_OK | MB_ICONERROR);
}
