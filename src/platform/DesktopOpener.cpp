#include "platform/DesktopOpener.h"

#include "platform/ProcessLauncher.h"

bool openWithDesktop(const std::string& target)
{
    // The shell only chains the fall-backs; the target is its first positional parameter.
    static const char* const kOpeners = "xdg-open \"$1\" || /etc/alternatives/x-www-browser \"$1\" || "
                                        "firefox \"$1\" || mozilla \"$1\" || google-chrome \"$1\" || "
                                        "chromium-browser \"$1\" || opera \"$1\" || konqueror \"$1\"";
    return launchDetached({"/bin/sh", "-c", kOpeners, "sh", target});
}
