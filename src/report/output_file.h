// A file that is written whole or not at all: the text goes to a temporary
// file beside it, which takes its place once complete, so that a reader
// finds the old text or the new one, never a part.
#pragma once

#include <cstdio>
#include <string>

struct ReplacingFile {
    FILE *stream = nullptr;  // the temporary file, open for writing
    std::string path, temporary;
};

// Opens a temporary file for `path` in its folder, under a name of its own
// that ends in ".tmp". Returns false with errno set when it can't.
bool StartReplacing(const char *path, ReplacingFile *file);

// Closes the temporary file and puts it in the place of the file when all
// was written. Returns false with errno set when it wasn't or can't be,
// leaving the file as it was and no temporary one.
bool FinishReplacing(ReplacingFile *file);
