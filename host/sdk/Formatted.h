// printf-style formatting into a std::string, for the stand-in's text buffers.
#pragma once

#include <cstdarg>
#include <string>

namespace kivohost {

// Appends the text of format and args to out; nothing for an empty or failing format. args is
// left unread (a copy is consumed), so the caller still ends it.
void appendFormatted(std::string& out, const char* format, std::va_list args);

} // namespace kivohost
