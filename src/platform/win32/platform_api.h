// The Windows calls and records the program is written against, from the
// Windows headers themselves.
#pragma once

// Calls to kernel32 go through its import thunks rather than straight through
// the import table, so a test program can put its own definitions in their
// place at link time.
#define _KERNEL32_

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include <cstddef>

// What separates a folder from a name in a path.
const char kPathSeparator = '\\';

// The longest command line Windows passes a program, so the bound of any one
// argument, in characters without the terminating zero.
const size_t kLongestArgument = 32767;
