// The one header through which the monitor and the echo code reach the
// operating system. The build puts the folder of the target platform on the
// include path, and its "platform_api.h" supplies the Windows-shaped calls and
// records, and the platform's kPathSeparator and kLongestArgument; what
// follows is what every platform adds on top of them.
#pragma once

#include "platform_api.h"

#include <cstddef>
#include <cstdio>

// The libraries that may provide the ICMP echo functions, in the order they
// are tried, each in the system directory.
extern const char *const kEchoLibraryNames[];
extern const size_t kEchoLibraryCount;

// Gives up every privilege the process holds; once the echo handle exists it
// needs none. Returns false with the last-error code set when it can't.
bool GiveUpPrivileges(void);

// Writes into `out` (always terminated, at most `size` bytes) one sentence
// that says why no echo handle could be created, from the last-error code the
// failed create left.
void DescribeEchoUnavailable(DWORD error, char *out, size_t size);

// Writes into `out` (always terminated, at most `size` bytes) the system's own
// text for the last-error code `code`, without a line end.
void DescribeSystemError(DWORD code, char *out, size_t size);

// Opens `path` for appending in binary mode: created when missing, its content
// kept, every write going to its current end, and other processes free to
// read and write it meanwhile. Where permissions allow, it can also be read
// back. Returns null with the last-error code set when it can't be opened.
FILE *OpenAppendFile(const char *path);

// For a console control event after which the platform ends the process as
// soon as its handler returns, the longest the handler may take before the
// platform ends the process anyway, in milliseconds, less a margin for the
// handler's own end; 0 for an event the process outlives.
DWORD ProcessEndGraceMs(DWORD event);

// Reads the byte the file `file` (from OpenAppendFile) ends in now into
// `last`. Returns false when the file is empty or its end can't be read.
bool ReadLastByte(FILE *file, unsigned char *last);

// Takes the one lock on `file` (from OpenAppendFile) that every monitor
// appending to it takes the same way, waiting about 100 ms at most; it ends
// once CloseAppendFile has written what the stream holds. Returns false when
// it could not be had.
bool LockAppendFile(FILE *file);

// Closes `file` (from OpenAppendFile), writing out what its stream still
// holds. Returns false with the last-error code set when any of that could
// not be written.
bool CloseAppendFile(FILE *file);
