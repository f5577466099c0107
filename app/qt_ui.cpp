#include "qt_ui.h"

#include "program_texts.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QWindow>

#include <algorithm>

namespace app {

QString toQt(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string fromQt(const QString& text)
{
    return text.toUtf8().toStdString();
}

QString bytesToQt(const std::string& bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string bytesFromQt(const QString& bytes)
{
    return bytes.toLatin1().toStdString();
}

namespace {

QMessageBox::Icon iconOf(ui::DialogKind kind)
{
    switch (kind) {
    case ui::DialogKind::Warning: return QMessageBox::Warning;
    case ui::DialogKind::Error: return QMessageBox::Critical;
    case ui::DialogKind::Confirmation: return QMessageBox::Question;
    case ui::DialogKind::Information: return QMessageBox::Information;
    }
    return QMessageBox::Information;
}

QString titleOf(ui::DialogKind kind)
{
    switch (kind) {
    case ui::DialogKind::Warning: return toQt(ui::localized(UI_TEXT("Dialogs", "Warning")));
    case ui::DialogKind::Error: return toQt(ui::localized(UI_TEXT("Dialogs", "Error")));
    case ui::DialogKind::Confirmation: return toQt(ui::localized(UI_TEXT("Dialogs", "Confirm")));
    case ui::DialogKind::Information: break;
    }
    return toQt(ui::localized(UI_TEXT("Dialogs", "Information")));
}

QMessageBox::StandardButton qtButton(ui::Button b)
{
    switch (b) {
    case ui::Button::Yes: return QMessageBox::Yes;
    case ui::Button::No: return QMessageBox::No;
    case ui::Button::Ok: return QMessageBox::Ok;
    case ui::Button::None: break;
    }
    return QMessageBox::NoButton;
}

ui::Button ourButton(int b)
{
    switch (b) {
    case QMessageBox::Yes: return ui::Button::Yes;
    case QMessageBox::No: return ui::Button::No;
    case QMessageBox::Ok: return ui::Button::Ok;
    default: return ui::Button::None;
    }
}

// A message box breaks every line wider than half the screen (500 pixels at most) at a
// blank, so "This flash utility only supports Korvane QVX-5500 firmware:VQ00~VQ9Z" would
// read as two lines. Each line of a text stays whole as long as it fits the screen.
void keepLinesWhole(QMessageBox& box)
{
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    if (label == nullptr)
        return;
    const QFontMetrics metrics(label->font());
    int widest = 0;
    for (const QString& line : label->text().split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    const QScreen* screen = box.screen();
    const int room = screen != nullptr ? screen->availableGeometry().width() * 3 / 4 : widest;
    label->setMinimumWidth(std::min(widest + 2, room));
}

// A box is answered by a fresh, deliberate act only. Its buttons take no automatic repeat
// of a key and no release of a key that was already down when it opened: Return held on
// the Flash button would otherwise answer the update question Yes by itself, and the
// restart question after it.
class FreshKeysOnly : public QObject {
public:
    explicit FreshKeysOnly(const QWidget& box) : box_(box) { QCoreApplication::instance()->installEventFilter(this); }
    ~FreshKeysOnly() override { QCoreApplication::instance()->removeEventFilter(this); }
    FreshKeysOnly(const FreshKeysOnly&) = delete;
    FreshKeysOnly& operator=(const FreshKeysOnly&) = delete;

protected:
    bool eventFilter(QObject* target, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride)
            return false;
        const auto* widget = qobject_cast<const QWidget*>(target);
        if (widget == nullptr || widget->window() != &box_)
            return false;
        const auto* key = static_cast<const QKeyEvent*>(event);
        // A held key repeats as a release and a press with one time stamp. The window
        // system does not always mark them as a repeat (on X11 only when the press is
        // already queued behind the release), so the time stamp is looked at as well.
        const auto lastRelease = released_.constFind(key->key());
        bool stale = key->isAutoRepeat()
            || (type != QEvent::KeyRelease && key->timestamp() != 0 && lastRelease != released_.cend()
                && *lastRelease == key->timestamp());
        if (type == QEvent::KeyRelease)
            released_.insert(key->key(), key->timestamp());
        if (type == QEvent::KeyPress && !stale)
            pressed_.insert(key->key());
        else if (type == QEvent::KeyRelease && !stale)
            stale = !pressed_.remove(key->key());
        if (stale && type == QEvent::ShortcutOverride)
            event->accept(); // taken here, so no shortcut of the box fires on it either
        return stale;
    }

private:
    const QWidget& box_;
    QSet<int> pressed_;               // keys pressed since the box opened and not yet released
    QHash<int, quint64> released_;    // each key's last release: its time stamp
};

int execFresh(QMessageBox& box)
{
    const FreshKeysOnly freshKeys(box);
    return box.exec();
}

// A box opens over its owner and is modal to it. The owner is named, not taken from the
// active window: between two boxes no window is active, and the second box would land in
// the middle of the screen. An owner not shown yet (the boxes of start-up) is no place to
// open against: the box then opens in the middle of the screen.
int runBox(QWidget* owner, QMessageBox::Icon icon, const QString& title, const std::string& text,
           const std::vector<ui::Button>& buttons)
{
    if (owner != nullptr && !owner->isVisible())
        owner = nullptr;
    QMessageBox box(icon, title, toQt(text), QMessageBox::NoButton, owner);
    box.setTextFormat(Qt::PlainText);
    keepLinesWhole(box);
    box.setWindowModality(owner != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    for (ui::Button b : buttons)
        if (QPushButton* pb = box.addButton(qtButton(b)))
            pb->setAccessibleName(pb->text().remove(QLatin1Char('&')));
    box.setObjectName(QStringLiteral("MessageDialog"));
    return execFresh(box);
}

} // namespace

ui::Button QtDialogs::messageDialog(const std::string& text, ui::DialogKind kind,
                                    const std::vector<ui::Button>& buttons)
{
    return ourButton(runBox(owner_, iconOf(kind), titleOf(kind), text, buttons));
}

void QtDialogs::showMessage(const std::string& text)
{
    runBox(owner_, QMessageBox::NoIcon, QString::fromLatin1(kApplicationTitle), text, {ui::Button::Ok});
}

void QtDialogs::messageBox(const std::string& text, const std::string& title)
{
    QMessageBox box(QMessageBox::NoIcon, toQt(title), toQt(text), QMessageBox::Ok, nullptr);
    box.setTextFormat(Qt::PlainText);
    keepLinesWhole(box);
    box.setWindowModality(Qt::ApplicationModal);
    box.setObjectName(QStringLiteral("MessageBox"));
    execFresh(box);
}

QtBusyCursor::QtBusyCursor()
{
    // The first hourglass is read from the cursor theme on disk and handed to the display:
    // milliseconds, tens of them on a busy machine, and a flash sets it while its event loop
    // should be turning. It is loaded once, here, on a window that is never shown.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr)
        return;
    QWindow window;
    window.create();
    window.setCursor(Qt::WaitCursor);
}

QtBusyCursor::~QtBusyCursor()
{
    setBusy(false);
}

void QtBusyCursor::setBusy(bool busy)
{
    if (busy == busy_)
        return;
    busy_ = busy;
    if (busy)
        QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    else
        QApplication::restoreOverrideCursor();
}

void QtQuitRequest::postQuit()
{
    posted_ = true;
    if (running_)
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

int QtQuitRequest::runEventLoop()
{
    if (posted_)
        return 0;
    running_ = true;
    const int code = QCoreApplication::exec();
    running_ = false;
    return code;
}

} // namespace app
