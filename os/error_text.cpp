#include "error_text.h"

#include <clocale>
#include <cstring>
#include <locale.h>

namespace os {

std::string errorText(int error)
{
    static const locale_t c = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c != static_cast<locale_t>(nullptr) ? ::strerror_l(error, c) : std::strerror(error);
}

} // namespace os
