#pragma once

// The framework installs an X error handler only in a standalone application; in a plug-in or a test
// Xlib's default handler ends the process at the first error. A bare virtual server has none of a
// window manager's atoms (WM_PROTOCOLS), which the framework names when it makes a window, so the
// first window a test opens (a popup menu) would end it. This ignores X errors as the framework's
// own handler does.
void ignoreXErrors();
