// What vesperix-report does differently on each platform. The build links
// the one file of its platform: platform/posix or platform/win32.
#pragma once

// Returns the name of the file that `path` names, without its folders:
// what follows the last character that separates a folder from a name on
// this platform, and on a platform with drives also the drive ("C:").
const char *FileNameOf(const char *path);

// Renames the file `from` to `to`, replacing the file `to` names in one step,
// so that a reader finds either the old file or the new one, never neither.
// Returns false with errno set when it can't.
bool MoveFileOver(const char *from, const char *to);
