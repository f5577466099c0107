// The C library's words for an error number, in English whatever the session's language:
// the program's lines on standard error are never translated, and Qt sets the C library to
// the session's locale.
#pragma once

#include <string>

namespace os {

std::string errorText(int error);

} // namespace os
