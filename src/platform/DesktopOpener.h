#pragma once

#include <string>

// Hands a folder, a file or a web address to the desktop: xdg-open, and where that fails the
// system's default browser or one of the common ones, tried in turn. The target reaches the opener
// as one argument, unchanged (spaces, quotes and dollar signs are not parsed by a shell). The opener
// runs detached (launchDetached), so it leaves no child process behind. True when it was started.
bool openWithDesktop(const std::string& target);
