#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <sys/stat.h>

// Reading a library file only as what it claims to be: a regular file, after its links are
// resolved. Folders, FIFOs, devices and sockets are refused before they are opened, so that a FIFO
// cannot stall the caller waiting for a writer and a link to /dev/zero cannot feed it without end.
enum class FileReadStatus
{
    ok,
    missing,    // nothing there, a dangling link, or no permission to look
    notRegular, // a folder, FIFO, device or socket
    tooLarge,   // more than the cap arrived
    failed      // opening or reading failed
};

// Opens path read-only when it is a regular file: checked with stat before the open (which never
// blocks: O_NONBLOCK) and with fstat on the open descriptor, so that a swap in between is caught.
// Returns the descriptor (close-on-exec), or -1 with status telling why. info, when given, receives
// the open file's fstat.
int openRegularFile(const std::string& path, FileReadStatus& status, struct stat* info = nullptr);

// Reads the whole regular file at path into bytes, counting what actually arrives, not what the
// file system reports: when a byte beyond cap arrives the file is refused (tooLarge). On any status
// but ok, bytes is left empty.
FileReadStatus readRegularFile(const std::string& path, size_t cap, std::vector<uint8_t>& bytes);
