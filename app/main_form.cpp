#include "main_form.h"

#include "container.h"
#include "file_masks.h"
#include "program_texts.h"

#include <QAbstractEventDispatcher>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFontDatabase>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyledItemDelegate>

#include <algorithm>
#include <cmath>

namespace app {
namespace {

// The form's positions and sizes are in pixels at 120 pixels per inch.
constexpr double kFormDpi = 120.0;
constexpr int kFontPixels = 17;
constexpr int kItemHeight = 20;
constexpr int kPathRole = Qt::UserRole + 1;
// The width the form lays its controls out in (the drive list's and the group box's).
constexpr int kFormWidth = 497;
constexpr int kSelectLabel2Left = 264;
// The status line's room: the group box less the title's margins on either side.
constexpr int kStatusMargin = 16;
// How far a label's text may be narrowed to stay inside the form (percent of its width).
constexpr int kNarrowestStretch = 70;
// One frame at 60 Hz: the window is painted at most this often.
constexpr qint64 kFrameMs = 16;

// A bare top-level widget is a "filler" to assistive technology, which screen readers do
// not take for a window: the form says it is one (a frame, named by its caption).
QAccessibleInterface* formAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String(TMainForm::staticMetaObject.className()) && object != nullptr
        && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    return nullptr;
}

// The drop-down's rows have the form's item height. The style's own popup rows are as high
// as a menu's, whatever the items say.
class ItemHeightDelegate : public QStyledItemDelegate {
public:
    ItemHeightDelegate(int height, QObject* parent)
        : QStyledItemDelegate(parent)
        , height_(height)
    {
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return {QStyledItemDelegate::sizeHint(option, index).width(), height_};
    }

private:
    int height_;
};

} // namespace

TMainForm::TMainForm(ProgramState& state, QWidget* parent)
    : QWidget(parent)
    , state_(state)
{
    state_.deviceAccess.reset();
    setObjectName(QStringLiteral("MainForm"));
    // The window has a fixed size: it asks the window manager for no maximize button.
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    static const bool accessibleAsWindow = (QAccessible::installFactory(&formAccessible), true);
    (void)accessibleAsWindow;

    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    scale_ = dpi > 0 ? dpi / kFormDpi : 1.0;

    // "System" bold, 17 pixels high: the desktop's UI font in bold at that height.
    QFont formFont = QApplication::font();
    formFont.setBold(true);
    formFont.setPixelSize(std::max(1, static_cast<int>(std::lround(kFontPixels * scale_))));
    setFont(formFont);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);

    SelectLabel = new QLabel(toQt(ui::localized(kSelectDriveText)), this);
    SelectLabel->setObjectName(QStringLiteral("SelectLabel"));
    place(SelectLabel, 0, 0, 238, 20);

    SelectLabel2 = new QLabel(this);
    SelectLabel2->setObjectName(QStringLiteral("SelectLabel2"));
    place(SelectLabel2, kSelectLabel2Left, 0, 4, 20);

    GroupBox2 = new QGroupBox(this);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    GroupBox2->setAccessibleDescription(toQt(ui::localized(UI_TEXT("MainForm", "Status"))));
    place(GroupBox2, 0, 72, 497, 57);

    ProgressBar = new QProgressBar(GroupBox2);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setAccessibleName(toQt(ui::localized(UI_TEXT("MainForm", "Progress"))));
    ProgressBar->setTextVisible(false);
    place(ProgressBar, 8, 24, 393, 23);

    FlashButton = new QPushButton(toQt(ui::localized(kFlashCaption)), this);
    FlashButton->setObjectName(QStringLiteral("FlashButton"));
    place(FlashButton, 416, 96, 73, 25);
    fitButtonText();
    // Enter presses the focused button, as in a dialog; Space still does too.
    FlashButton->setAutoDefault(true);
    connect(FlashButton, &QPushButton::clicked, this, &TMainForm::FlashButtonClick);

    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setBold(false);
    fixed.setPixelSize(formFont.pixelSize());
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setAccessibleName(toQt(ui::localized(UI_TEXT("MainForm", "Drive list"))));
    ComboBox1->setFont(fixed);
    place(ComboBox1, 0, 24, 497, 28);
    ComboBox1->setItemDelegate(new ItemHeightDelegate(px(kItemHeight), ComboBox1));
    // The line's device node is its tool tip; the drive list's own follows the current line.
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, &TMainForm::showDriveNode);

    const auto makeList = [&](const char* name, ui::Text accessible, ui::Text hint) {
        auto* list = new QListWidget(this);
        list->setObjectName(QString::fromLatin1(name));
        list->setAccessibleName(toQt(ui::localized(accessible)));
        list->setToolTip(toQt(ui::localized(hint)));
        list->setAccessibleDescription(toQt(ui::localized(hint)));
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setUniformItemSizes(true);
        list->installEventFilter(this);
        return list;
    };
    FileListBox1 = makeList("FileListBox1", UI_TEXT("MainForm", "IBM-K BIN files"), kIbmKListHint);
    place(FileListBox1, 0, 24, 249, 41);
    connect(FileListBox1, &QListWidget::itemSelectionChanged, this, &TMainForm::FileListBox1Click);
    FileListBox2 = makeList("FileListBox2", UI_TEXT("MainForm", "Non IBM-K BIN files"), kNonIbmKListHint);
    place(FileListBox2, 256, 24, 241, 41);
    connect(FileListBox2, &QListWidget::itemSelectionChanged, this, &TMainForm::FileListBox2Click);

    // The tab order of the form: the drive list or the first file list, the group box,
    // the button, the second file list.
    setTabOrder(ComboBox1, FileListBox1);
    setTabOrder(FileListBox1, FlashButton);
    setTabOrder(FlashButton, FileListBox2);

    // A file list box starts out on the current directory.
    dir1_ = dir2_ = QDir::currentPath().toStdString();

    // The event loop paints what changed, once a turn. The window notes when the loop last
    // turned, to tell a build, which copies on this thread without returning to it, from a
    // flash, whose drive calls wait in it.
    sinceLoopTurned_.start();
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
        const auto turned = [this] { sinceLoopTurned_.restart(); };
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, turned);
        connect(dispatcher, &QAbstractEventDispatcher::awake, this, turned);
    }

    state_.progress.setOnChange([this] { progressChanged(); });
    showProgress();
    autoSize();
    // Where the form puts the window on the screen.
    move(static_cast<int>(std::lround(98 * scale_)), static_cast<int>(std::lround(67 * scale_)));
}

TMainForm::~TMainForm()
{
    // FormDestroy: a drive left open by a flash is closed here.
    state_.deviceAccess.device.reset();
    state_.progress.setOnChange({});
}

StartupOutcome TMainForm::FormCreate(const StartupEnvironment& env)
{
    return FormCreate(env, flash::slot1(), flash::emptySlotMarker());
}

StartupOutcome TMainForm::FormCreate(const StartupEnvironment& env,
                                     std::span<const std::uint8_t> slot1,
                                     std::span<const std::uint8_t> marker)
{
    const StartupServices services{*this, env.dialogs, env.quit, env.os,
                                   env.ownPath, env.currentDirectory, env.discover};
    const StartupOutcome outcome = formCreate(state_, slot1, marker, services);
    autoSize();
    return outcome;
}

int TMainForm::driveIndex() const
{
    return ComboBox1->currentIndex();
}

int TMainForm::px(int formPixels) const
{
    return static_cast<int>(std::lround(formPixels * scale_));
}

void TMainForm::place(QWidget* w, int left, int top, int width, int height)
{
    w->setGeometry(px(left), px(top), px(width), px(height));
    if (auto* list = qobject_cast<QListWidget*>(w))
        list->setProperty("itemHeight", px(kItemHeight));
}

void TMainForm::fitLabel(QLabel* label, int rightEdge)
{
    // Labels size themselves to their text, keeping their place. The desktop's font is wider
    // than the one the form was laid out in: a text that would run past rightEdge (form
    // pixels) is set narrower, down to a limit, rather than widen the window, and stays whole.
    QFont narrow = font();
    label->setFont(narrow);
    const int room = px(rightEdge) - label->x();
    for (int stretch = 95; label->sizeHint().width() > room && stretch >= kNarrowestStretch; stretch -= 5) {
        narrow.setStretch(stretch);
        label->setFont(narrow);
    }
    const QSize hint = label->sizeHint();
    label->resize(std::max(hint.width(), 1), std::max(label->height(), hint.height()));
}

QFont TMainForm::fontFitting(const QString& text, int room) const
{
    QFont narrow = font();
    for (int stretch = 95; QFontMetrics(narrow).horizontalAdvance(text) > room && stretch >= kNarrowestStretch;
         stretch -= 5)
        narrow.setStretch(stretch);
    return narrow;
}

void TMainForm::fitButtonText()
{
    // The button keeps its place and size; a caption that a language makes longer than
    // the button ("Flashen") is set narrower, down to the labels' limit.
    const QStyle* style = FlashButton->style();
    const int room = FlashButton->width() - 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, FlashButton)
        - 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, FlashButton);
    FlashButton->setFont(fontFitting(FlashButton->text().remove(QLatin1Char('&')), room));
}

void TMainForm::autoSize()
{
    // The window sizes itself to its visible controls.
    fitLabel(SelectLabel, SelectLabel2->isHidden() ? kFormWidth : kSelectLabel2Left);
    fitLabel(SelectLabel2, kFormWidth);
    int right = 0;
    int bottom = 0;
    for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (w->isHidden())
            continue;
        right = std::max(right, w->geometry().right() + 1);
        bottom = std::max(bottom, w->geometry().bottom() + 1);
    }
    setFixedSize(right, bottom);
}

void TMainForm::setWindowCaption(const std::string& caption)
{
    setWindowTitle(toQt(caption));
}

void TMainForm::setDriveListVisible(bool visible)
{
    ComboBox1->setVisible(visible);
}

void TMainForm::setFileListsVisible(bool visible)
{
    FileListBox1->setVisible(visible);
    FileListBox2->setVisible(visible);
}

void TMainForm::setSelectLabel2Visible(bool visible)
{
    SelectLabel2->setVisible(visible);
}

void TMainForm::setFileMasks(const std::string& list1Mask, const std::string& list2Mask)
{
    mask1_ = list1Mask;
    mask2_ = list2Mask;
    refreshFileLists();
}

void TMainForm::setFileList1Directory(const std::string& directory)
{
    dir1_ = directory;
    fillList(FileListBox1, dir1_, mask1_);
}

void TMainForm::setSelectLabelTexts(const std::string& label1, const std::string& label2)
{
    SelectLabel->setText(toQt(label1));
    SelectLabel2->setText(toQt(label2));
    autoSize();
}

void TMainForm::setButton(const std::string& caption, bool enabled)
{
    FlashButton->setText(toQt(caption));
    fitButtonText();
    // A disabled button hands its focus on to the next control (the drive list while a
    // flash runs); it takes it back when enabled again, unless the user moved it meanwhile.
    const bool hadFocus = !enabled && focusWidget() == FlashButton;
    FlashButton->setEnabled(enabled);
    if (hadFocus) {
        focusGivenAway_ = true;
        focusTakenBy_ = focusWidget();
    } else if (enabled && focusGivenAway_) {
        focusGivenAway_ = false;
        if (focusWidget() == focusTakenBy_)
            FlashButton->setFocus(Qt::OtherFocusReason);
    }
}

void TMainForm::setDriveLines(const std::vector<DriveLine>& lines)
{
    ComboBox1->clear();
    for (const DriveLine& line : lines) {
        ComboBox1->addItem(bytesToQt(line.text));
        ComboBox1->setItemData(ComboBox1->count() - 1, bytesToQt(line.node), Qt::ToolTipRole);
    }
}

void TMainForm::selectDriveLine(int index)
{
    ComboBox1->setCurrentIndex(index);
    showDriveNode();
}

void TMainForm::showDriveNode()
{
    // A screen reader announces the description: it must name the drive about to be flashed.
    const QString node = ComboBox1->itemData(ComboBox1->currentIndex(), Qt::ToolTipRole).toString();
    ComboBox1->setToolTip(node);
    ComboBox1->setAccessibleDescription(node);
}

void TMainForm::setCaption(const std::string& text)
{
    // The status line stays inside the group box: a longer one is set narrower, as the labels are.
    const QString title = toQt(text);
    GroupBox2->setFont(fontFitting(title, GroupBox2->width() - px(kStatusMargin)));
    GroupBox2->setTitle(title);
    paintIfLoopStalled();
}

std::string TMainForm::caption() const
{
    return fromQt(GroupBox2->title());
}

void TMainForm::refreshFileLists()
{
    fillList(FileListBox1, dir1_, mask1_);
    fillList(FileListBox2, dir2_, mask2_);
}

void TMainForm::fillList(QListWidget* list, const std::string& directory, const std::string& mask)
{
    const QSignalBlocker quiet(list);
    list->clear();
    if (mask.empty())
        return;
    const int itemHeight = list->property("itemHeight").toInt();
    for (const std::string& name : builder::listMatchingFiles(directory, mask)) {
        auto* item = new QListWidgetItem(bytesToQt(name), list);
        item->setData(kPathRole, bytesToQt(directory + "/" + name));
        if (itemHeight > 0)
            item->setSizeHint(QSize(0, itemHeight));
    }
}

void TMainForm::progressChanged()
{
    // A build moves the model thousands of times; the bar follows once a turn of the event
    // loop, or once a frame while a build holds the loop.
    if (!progressQueued_) {
        progressQueued_ = true;
        QMetaObject::invokeMethod(this, &TMainForm::showProgress, Qt::QueuedConnection);
    }
    paintIfLoopStalled();
}

void TMainForm::showProgress()
{
    progressQueued_ = false;
    const ui::ProgressModel& p = state_.progress;
    const auto clampInt = [](std::int64_t v) {
        return static_cast<int>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
    };
    const int min = clampInt(p.min());
    const int max = clampInt(p.max());
    const int value = clampInt(p.position());
    // A Step of its own changes nothing on the screen.
    if (min == ProgressBar->minimum() && max == ProgressBar->maximum() && value == ProgressBar->value())
        return;
    // The bar would paint itself at once whenever it moves by a chunk; the event loop paints
    // it instead, or paintIfLoopStalled.
    ProgressBar->setUpdatesEnabled(false);
    ProgressBar->setRange(min, max);
    ProgressBar->setValue(value);
    ProgressBar->setUpdatesEnabled(true);
}

void TMainForm::paintIfLoopStalled()
{
    // A paint can wait for the display. A flash waits for its drive in a local event loop,
    // which paints the status line and the bar as they change. A build copies without
    // returning to the loop: once it has held the loop for a frame, the status line and
    // the bar are painted here, at once, and again a frame later at the earliest, so the
    // bar still moves with the bytes.
    if (sinceLoopTurned_.elapsed() < kFrameMs || !GroupBox2->isVisible())
        return;
    showProgress();
    GroupBox2->repaint();
    sinceLoopTurned_.restart();
}

void TMainForm::FlashButtonClick()
{
    if (state_.buildMode) {
        cursor_.setBusy(true);
        struct Restore {
            QtBusyCursor& c;
            ~Restore() { c.setBusy(false); }
        } restore{cursor_};
        if (buildAction)
            buildAction();
        return;
    }
    if (flashAction)
        flashAction();
}

void TMainForm::FileListBox1Click()
{
    const auto picked = FileListBox1->selectedItems();
    if (picked.isEmpty())
        return;
    const auto result = state_.fileSelection.pickIbmK(
        bytesFromQt(picked.first()->data(kPathRole).toString()), !FileListBox2->selectedItems().isEmpty());
    SelectLabel->setText(toQt(result.labelCaption));
    if (result.enableButton)
        FlashButton->setEnabled(true);
    autoSize();
}

void TMainForm::FileListBox2Click()
{
    const auto picked = FileListBox2->selectedItems();
    if (picked.isEmpty())
        return;
    const auto result = state_.fileSelection.pickNonIbmK(
        bytesFromQt(picked.first()->data(kPathRole).toString()), !FileListBox1->selectedItems().isEmpty());
    SelectLabel2->setText(toQt(result.labelCaption));
    if (result.enableButton)
        FlashButton->setEnabled(true);
    autoSize();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    // The first arrow key in a file list picks the row that has the focus frame (the first
    // file when the list was tabbed into) instead of moving past it.
    auto* list = qobject_cast<QListWidget*>(watched);
    if (list != nullptr && event->type() == QEvent::KeyPress && list->count() > 0
        && list->selectedItems().isEmpty()) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Down || key == Qt::Key_Up) {
            list->setCurrentRow(std::max(list->currentRow(), 0));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    if (mayClose && !mayClose()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

} // namespace app
