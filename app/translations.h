// The program in the session's language: its own texts from the translations built into
// the program file, Qt's own (the standard buttons of a box) from the system's Qt
// translations, so that a box's Yes and No read in the same language as its text.
#pragma once

#include <QString>

class QCoreApplication;

namespace app {

// Goes through the session's languages in their order of preference; the first that is
// English (or the C locale), or that the program carries a translation for, decides. The
// texts then come in that language; with English, or with no language carried, every text
// stays exactly as written. Returns the language taken ("de", "zh_TW"), empty for English.
// Called once, before anything is shown.
QString installTranslations(QCoreApplication& application);

} // namespace app
