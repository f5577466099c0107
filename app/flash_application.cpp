#include "flash_application.h"

#include "program_texts.h"

#include <QMessageBox>

#include <exception>

namespace app {

void nameApplication()
{
    QCoreApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
    QGuiApplication::setDesktopFileName(QStringLiteral("korvane-flash-utility"));
}

FlashApplication::FlashApplication(int& argc, char** argv)
    : QApplication(argc, argv)
    , exceptionDisplay(&FlashApplication::showException)
{
    nameApplication();
}

void FlashApplication::showException(const std::string& what)
{
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kApplicationTitle),
                    QString::fromLatin1(what.c_str()), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool FlashApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        exceptionDisplay(e.what());
    } catch (...) {
        exceptionDisplay("An unexpected error occurred.");
    }
    return false;
}

} // namespace app
