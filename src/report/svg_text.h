// Text for SVG documents.
#pragma once

#include <cstdio>
#include <string>

// Writes `text` to `out` as XML character data or attribute text: markup
// characters escaped, and bytes that are no UTF-8 replaced by U+FFFD, so
// the document stays well-formed whatever bytes a log holds.
void WriteXmlText(FILE *out, const std::string &text);
