#pragma once

#include <string>
#include <vector>

// Starts a program that runs on its own, as a grandchild that is handed to init at once: the
// calling process keeps no child of it, so nothing is left to reap when the program finishes. A
// plug-in lives in the host's process, and a child it started but never waited for would stay there
// as a zombie until the host quits.
//
// argv[0] is the program's path (no search in PATH); the environment is the caller's. The program
// runs in a session of its own with default signal handling, an empty signal mask and only the
// standard input, output and error of the caller: the host's other descriptors (its sockets, its
// open files) are not handed on. The call returns as soon as the program's process exists, without
// waiting for it to start or finish; true when it was created, false when argv is empty or a fork
// failed. Safe from any thread except the render thread (it forks).
bool launchDetached(const std::vector<std::string>& argv);
