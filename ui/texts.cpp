#include "texts.h"

#include <atomic>

namespace ui {
namespace {

std::atomic<Translate> installed{nullptr};

} // namespace

void setTranslate(Translate translate)
{
    installed.store(translate);
}

std::string localized(Text text)
{
    const Translate translate = installed.load();
    return translate != nullptr ? translate(text.context, text.english) : std::string(text.english);
}

std::string localized(Text text, std::initializer_list<std::string_view> args)
{
    const std::string form = localized(text);
    std::string out;
    out.reserve(form.size());
    for (std::size_t k = 0; k < form.size(); ++k) {
        const char c = form[k];
        const bool placeholder = c == '%' && k + 1 < form.size() && form[k + 1] >= '1' && form[k + 1] <= '9';
        const auto n = placeholder ? static_cast<std::size_t>(form[k + 1] - '1') : args.size();
        if (n < args.size()) {
            out += *(args.begin() + n);
            ++k;
        } else {
            out += c;
        }
    }
    return out;
}

std::string bytesText(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (b >> 6));
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return out;
}

} // namespace ui
