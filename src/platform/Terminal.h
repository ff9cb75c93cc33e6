// The terminal a command-line tool writes to.
#pragma once

#include <cstdio>

namespace Terminal {

// True when the stream is a terminal (not a file or a pipe).
bool IsTerminal(std::FILE* stream);
// The terminal's width in columns (80 when it cannot be told).
int Columns(std::FILE* stream);

} // namespace Terminal
