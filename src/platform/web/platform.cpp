// platform.cpp (browser): how a start-up failure reaches the user in a page:
// on standard error, which the page's shell shows in the browser's console.
// The rest of the policy is the port layer's (port/policy.cpp).
#include "../platform.h"

#include <cstdio>

void platform_report(const char *line)
{
    std::fprintf(stderr, "%s\n", line);
}
