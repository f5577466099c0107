#include "translations.h"

#include "texts.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace app {
namespace {

// Where the build puts the compiled translations, "korvane-flash_<language>.qm".
constexpr const char* kOwnTranslations = ":/i18n";
constexpr const char* kOwnName = "korvane-flash";

std::string translate(const char* context, const char* english)
{
    return QCoreApplication::translate(context, english).toUtf8().toStdString();
}

} // namespace

QString installTranslations(QCoreApplication& application)
{
    for (const QString& language : QLocale::system().uiLanguages()) {
        const QLocale locale(language);
        if (locale.language() == QLocale::English || locale.language() == QLocale::C)
            return {};
        auto* own = new QTranslator(&application);
        if (!own->load(locale, QString::fromLatin1(kOwnName), QStringLiteral("_"), QString::fromLatin1(kOwnTranslations))) {
            delete own;
            continue;
        }
        QCoreApplication::installTranslator(own);
        // Qt's own words for Yes, No and OK, where the system has them (qt6-translations-l10n).
        auto* qt = new QTranslator(&application);
        if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(qt);
        else
            delete qt;
        ui::setTranslate(&translate);
        return own->language();
    }
    return {};
}

} // namespace app
