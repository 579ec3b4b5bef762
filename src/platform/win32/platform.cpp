// platform.cpp (Windows): how a start-up failure reaches the user of a
// Windows GUI program, which has no console for its standard error: a
// message box, and standard error too. The rest of the policy is the port
// layer's (port/policy.cpp).
#include "../platform.h"

#include <windows.h>

#include <cstdio>

// The message box's title.
static const char *const REPORT_CAPTION = "Vesk";

void platform_report(const char *line)
{
    std::fprintf(stderr, "%s\n", line);
    MessageBoxA(nullptr, line, REPORT_CAPTION, MB_OK | MB_ICONERROR);
}
