// What vesperix-report does differently on each platform. The build links
// the one file of its platform: platform/posix or platform/win32.
#pragma once

// Returns the name of the file that `path` names, without its folders:
// what follows the last character that separates a folder from a name on
// this platform, and on a platform with drives also the drive ("C:").
const char *FileNameOf(const char *path);
