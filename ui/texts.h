// The program's texts in the user's language.
//
// Every text the user sees is written where it stands in the program's own English and
// marked with UI_TEXT(context, english), which lupdate reads as QT_TRANSLATE_NOOP.
// localized() puts it into the session's language when it is shown or composed; without an
// installed translation it gives the English byte for byte, so tests and the C locale see
// the texts exactly as written. What the program reads or writes (revisions, sense bytes,
// device nodes, file names, what goes to standard error) is never translated: it goes into
// a text as an argument (%1 .. %9), where a translation may move it but not change it.
//
// Texts are UTF-8. The bytes that come from a drive or a file name are shown as the
// Latin-1 characters they are: bytesText() makes a text of them.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace ui {

struct Text {
    const char* context; // where the text stands, for the translator: "Flash", "Builder", ...
    const char* english;
};

#define UI_TEXT(context, english) (::ui::Text{context, english})

// Turns a text of a context into the session's language (UTF-8).
using Translate = std::string (*)(const char* context, const char* english);

// The program installs the session's translation once, before it shows anything. The
// language is the session's, program-wide, as the toolkit's own translations are.
void setTranslate(Translate translate);

std::string localized(Text text);
// The text with %1 .. %9 replaced by the arguments in order, in one pass: an argument is
// never read for placeholders itself.
std::string localized(Text text, std::initializer_list<std::string_view> args);

// Bytes read from a drive, a file name or a path, each as the Latin-1 character it is.
std::string bytesText(std::string_view bytes);

} // namespace ui
