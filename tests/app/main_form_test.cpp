#include "main_form.h"

#include "flash_application.h"
#include "program_texts.h"

#include "scripted_ui.h"
#include "temp_folder.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace app {
namespace {

namespace fs = std::filesystem;

struct NtSystem : OsIdentity {
    bool version(OsVersion& out) const override
    {
        out.platformId = kPlatformNt;
        return true;
    }
};
struct Path : OwnPath {
    std::string ownPath() const override { return "/opt/korvane/W2KVQ8E10.EXE"; }
};
struct Dir : CurrentDirectory {
    std::string dir;
    std::string currentDirectory() const override { return dir; }
};

constexpr std::array<std::uint8_t, 7> kMarker{'Q', 'O', 'R', 'M', '0', '1', 0};
constexpr std::array<std::uint8_t, 8> kTemplateSlot{'Q', 'O', 'R', 'M', '0', '1', 0, 0};
constexpr std::array<std::uint8_t, 8> kFinishedSlot{'Q', 'O', 'R', 'M', '0', '2', 0, 0};

class MainForm : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous = QDir::currentPath();
        for (const char* name : {"VQ8E.BIN", "vq9a.bin", "VQ10.BIN", "VQA0.BIN", "notes.txt"})
            std::ofstream(folder / name) << "x";
        fs::create_directory(folder / "VQ81.BIN"); // a directory is not offered
        QDir::setCurrent(QString::fromStdString(folder.path().string()));
        dir.dir = folder.path().string();
    }
    void TearDown() override
    {
        QDir::setCurrent(previous);
    }

    StartupEnvironment env()
    {
        return {dialogs, quit, os, path, dir, [this](ProgramState&, ui::Dialogs&, ui::QuitRequest&) { return found; }};
    }

    template <class W> W* child(TMainForm& form, const char* name)
    {
        W* w = form.findChild<W*>(QString::fromLatin1(name));
        if (w == nullptr) // a failure of the test, not a crash of the whole program
            throw std::runtime_error(std::string("no control named ") + name);
        return w;
    }

    static QStringList items(QListWidget* list)
    {
        QStringList out;
        for (int i = 0; i < list->count(); ++i)
            out << list->item(i)->text();
        return out;
    }

    QString previous;
    testsupport::TempFolder folder{"mainform"};
    ui::UiLog log;
    ui::ScriptedDialogs dialogs{log};
    ui::RecordingQuit quit{log};
    NtSystem os;
    Path path;
    Dir dir;
    scsi::DiscoveryResult found;
    ProgramState state;
};

TEST_F(MainForm, BuildModeShowsBothFileListsWithTheirMasksAndADisabledBuildButton)
{
    TMainForm form(state);
    ASSERT_EQ(StartupOutcome::BuildMode, form.FormCreate(env(), kTemplateSlot, kMarker));
    form.show();
    EXPECT_EQ(QStringLiteral("MainForm"), form.objectName());
    EXPECT_EQ(QStringLiteral("Korvane  Flash utility   V1.015 QVX-5500 [Buiding]"), form.windowTitle());
    EXPECT_FALSE(child<QComboBox>(form, "ComboBox1")->isVisible());
    auto* list1 = child<QListWidget>(form, "FileListBox1");
    auto* list2 = child<QListWidget>(form, "FileListBox2");
    EXPECT_TRUE(list1->isVisible());
    EXPECT_TRUE(list2->isVisible());
    EXPECT_TRUE(child<QLabel>(form, "SelectLabel2")->isVisible());
    EXPECT_EQ((QStringList{"VQ8E.BIN", "vq9a.bin"}), items(list1));
    EXPECT_EQ((QStringList{"VQ10.BIN"}), items(list2));
    EXPECT_EQ(QStringLiteral("Select IBM-K BIN file."), list1->toolTip());
    EXPECT_EQ(QStringLiteral("Select Non IBM-K BIN file."), list2->toolTip());
    EXPECT_EQ(QStringLiteral("Select IBM-K BIN file."), child<QLabel>(form, "SelectLabel")->text());
    EXPECT_EQ(QStringLiteral("Select NonIBM-K BIN file."), child<QLabel>(form, "SelectLabel2")->text());
    auto* button = child<QPushButton>(form, "FlashButton");
    EXPECT_EQ(QStringLiteral("Build"), button->text());
    EXPECT_FALSE(button->isEnabled());
    EXPECT_TRUE(log.events().empty());
}

TEST_F(MainForm, ButtonIsEnabledOnceBothListsHaveAPickAndStaysEnabled)
{
    TMainForm form(state);
    form.FormCreate(env(), kTemplateSlot, kMarker);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    auto* list1 = child<QListWidget>(form, "FileListBox1");
    auto* list2 = child<QListWidget>(form, "FileListBox2");
    auto* button = child<QPushButton>(form, "FlashButton");

    // A real click on the first list's first row.
    QTest::mouseClick(list1->viewport(), Qt::LeftButton, {}, list1->visualItemRect(list1->item(0)).center());
    EXPECT_EQ(QStringLiteral("IBM-K BIN file: VQ8E.BIN"), child<QLabel>(form, "SelectLabel")->text());
    EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ("VQ8E.BIN", state.fileSelection.ibmKName());
    EXPECT_EQ((folder / "VQ8E.BIN").string(), state.fileSelection.ibmKPath());

    list2->setCurrentRow(0);
    EXPECT_EQ(QStringLiteral("NonIBM-K BIN file: VQ10.BIN"), child<QLabel>(form, "SelectLabel2")->text());
    EXPECT_TRUE(button->isEnabled());

    list1->setCurrentRow(1);
    EXPECT_EQ(QStringLiteral("IBM-K BIN file: vq9a.bin"), child<QLabel>(form, "SelectLabel")->text());
    EXPECT_EQ("vq9a.bin", state.fileSelection.ibmKName());
    list1->clearSelection();
    EXPECT_TRUE(button->isEnabled()); // nothing disables it again
    // The labels grow with their text, and the window with them.
    EXPECT_GE(form.width(), child<QLabel>(form, "SelectLabel2")->geometry().right());
}

TEST_F(MainForm, SecondLabelStaysInsideTheFormWithItsWholeText)
{
    TMainForm form(state);
    form.FormCreate(env(), kTemplateSlot, kMarker);
    child<QListWidget>(form, "FileListBox2")->setCurrentRow(0);
    auto* label = child<QLabel>(form, "SelectLabel2");
    EXPECT_EQ(child<QGroupBox>(form, "GroupBox2")->width(), form.width());
    EXPECT_LE(label->geometry().right(), form.width());
    EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()));
}

// Tabbed into, a list shows its first row framed: the first Down picks that row.
TEST_F(MainForm, FirstDownInAFileListPicksTheFirstFile)
{
    TMainForm form(state);
    form.FormCreate(env(), kTemplateSlot, kMarker);
    auto* list1 = child<QListWidget>(form, "FileListBox1");
    list1->setCurrentRow(0, QItemSelectionModel::NoUpdate);
    QTest::keyClick(list1, Qt::Key_Down);
    EXPECT_EQ("VQ8E.BIN", state.fileSelection.ibmKName());
}

TEST_F(MainForm, FirstPickInTheSecondListDoesNotEnableTheButtonAlone)
{
    TMainForm form(state);
    form.FormCreate(env(), kTemplateSlot, kMarker);
    child<QListWidget>(form, "FileListBox2")->setCurrentRow(0);
    EXPECT_FALSE(child<QPushButton>(form, "FlashButton")->isEnabled());
    child<QListWidget>(form, "FileListBox1")->setCurrentRow(0);
    EXPECT_TRUE(child<QPushButton>(form, "FlashButton")->isEnabled());
}

TEST_F(MainForm, FlashModeListsTheDrivesWithTheirNodesAndSelectsTheFirst)
{
    dialogs.answer(ui::Button::Yes);
    found.lines = {{"1-0-0 D: KORVANE QVX-5500        VQ8E", "/dev/sr0"},
                   {"1-1-0 E: KORVANE QVX-5500        VQ10", "/dev/sr1"}};
    found.selection = 1;
    TMainForm form(state);
    ASSERT_EQ(StartupOutcome::FlashMode, form.FormCreate(env(), kFinishedSlot, kMarker));
    form.show();
    EXPECT_EQ(QStringLiteral("Korvane  Flash utility   V1.015 QVX-5500 [VQ8E10]"), form.windowTitle());
    auto* combo = child<QComboBox>(form, "ComboBox1");
    EXPECT_TRUE(combo->isVisible());
    ASSERT_EQ(2, combo->count());
    EXPECT_EQ(QString::fromStdString(found.lines[1].text), combo->itemText(1));
    EXPECT_EQ(QStringLiteral("/dev/sr1"), combo->itemData(1, Qt::ToolTipRole).toString());
    EXPECT_EQ(0, combo->currentIndex());
    EXPECT_EQ(0, form.driveIndex());
    EXPECT_EQ(QStringLiteral("/dev/sr0"), combo->toolTip());
    const double scale = QGuiApplication::primaryScreen()->logicalDotsPerInchY() / 120.0;
    EXPECT_EQ(std::lround(20 * scale), combo->view()->sizeHintForRow(0)); // the form's item height
    EXPECT_FALSE(child<QListWidget>(form, "FileListBox1")->isVisible());
    EXPECT_FALSE(child<QListWidget>(form, "FileListBox2")->isVisible());
    EXPECT_FALSE(child<QLabel>(form, "SelectLabel2")->isVisible());
    EXPECT_EQ(QStringLiteral("Select drive you want to flash:"), child<QLabel>(form, "SelectLabel")->text());
    EXPECT_EQ(QStringLiteral("Flash"), child<QPushButton>(form, "FlashButton")->text());
    EXPECT_TRUE(child<QPushButton>(form, "FlashButton")->isEnabled());
    // The columns of the drive lines line up: every character has the same advance.
    const QFontMetricsF metrics(combo->font());
    for (QChar c : QStringLiteral("W1- :"))
        EXPECT_DOUBLE_EQ(metrics.horizontalAdvance(QLatin1Char('i')), metrics.horizontalAdvance(c)) << c.toLatin1();
    EXPECT_TRUE(form.font().bold());
    EXPECT_FALSE(combo->font().bold());
    combo->setCurrentIndex(1); // the tool tip and the description follow the line
    EXPECT_EQ(QStringLiteral("/dev/sr1"), combo->toolTip());
    EXPECT_EQ(QStringLiteral("/dev/sr1"), combo->accessibleDescription());
}

TEST_F(MainForm, ControlsStandAsTheFormLaysThemOut)
{
    TMainForm form(state);
    form.FormCreate(env(), kTemplateSlot, kMarker);
    const double scale = QGuiApplication::primaryScreen()->logicalDotsPerInchY() / 120.0;
    const auto px = [&](int v) { return static_cast<int>(std::lround(v * scale)); };
    auto* list2 = child<QListWidget>(form, "FileListBox2");
    EXPECT_EQ(QRect(px(256), px(24), px(241), px(41)), list2->geometry());
    EXPECT_EQ(QRect(px(0), px(72), px(497), px(57)), child<QGroupBox>(form, "GroupBox2")->geometry());
    EXPECT_EQ(QRect(px(8), px(24), px(393), px(23)), child<QProgressBar>(form, "ProgressBar")->geometry());
    EXPECT_EQ(QRect(px(416), px(96), px(73), px(25)), child<QPushButton>(form, "FlashButton")->geometry());
    EXPECT_EQ(child<QComboBox>(form, "ComboBox1")->y(), child<QListWidget>(form, "FileListBox1")->y());
    EXPECT_EQ(px(72) + px(57), form.height()); // auto-size: the group box is the lowest control
    EXPECT_EQ(0, child<QProgressBar>(form, "ProgressBar")->minimum());
    EXPECT_EQ(100, child<QProgressBar>(form, "ProgressBar")->maximum());
}

TEST_F(MainForm, EveryControlHasAnAccessibleName)
{
    dialogs.answer(ui::Button::Yes);
    found.lines = {{"1-0-0 D: KORVANE QVX-5500        VQ8E", ""}};
    found.selection = 0;
    TMainForm form(state);
    form.FormCreate(env(), kFinishedSlot, kMarker);
    form.statusLine().setCaption("Flash Completed.");
    for (const char* name : {"ComboBox1", "FileListBox1", "FileListBox2", "FlashButton", "ProgressBar",
                             "GroupBox2", "SelectLabel"}) {
        QWidget* w = child<QWidget>(form, name);
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        ASSERT_NE(nullptr, a) << name;
        EXPECT_FALSE(a->text(QAccessible::Name).isEmpty()) << name;
    }
    EXPECT_EQ(QStringLiteral("Flash Completed."),
              QAccessible::queryAccessibleInterface(child<QWidget>(form, "GroupBox2"))->text(QAccessible::Name));
    // The form itself is a window to assistive technology (a frame), named by its caption.
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&form);
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(QAccessible::Window, window->role());
    EXPECT_EQ(QStringLiteral("Korvane  Flash utility   V1.015 QVX-5500 [VQ8E10]"), window->text(QAccessible::Name));
}

TEST_F(MainForm, ButtonRunsTheBuildUnderTheHourglassInBuildMode)
{
    TMainForm form(state);
    form.FormCreate(env(), kTemplateSlot, kMarker);
    int builds = 0;
    int flashes = 0;
    form.buildAction = [&] {
        ++builds;
        ASSERT_NE(nullptr, QApplication::overrideCursor());
        EXPECT_EQ(Qt::WaitCursor, QApplication::overrideCursor()->shape());
    };
    form.flashAction = [&] { ++flashes; };
    form.FlashButtonClick();
    EXPECT_EQ(1, builds);
    EXPECT_EQ(0, flashes);
    EXPECT_EQ(nullptr, QApplication::overrideCursor());

    form.buildAction = [] { throw std::runtime_error("disk full"); };
    EXPECT_THROW(form.FlashButtonClick(), std::runtime_error);
    EXPECT_EQ(nullptr, QApplication::overrideCursor()); // restored on the way out
}

TEST_F(MainForm, ButtonRunsTheFlashInFlashMode)
{
    dialogs.answer(ui::Button::Yes);
    found.lines = {{"1-0-0 D: KORVANE QVX-5500        VQ8E", ""}};
    found.selection = 0;
    TMainForm form(state);
    form.FormCreate(env(), kFinishedSlot, kMarker);
    int builds = 0;
    int flashes = 0;
    form.buildAction = [&] { ++builds; };
    form.flashAction = [&] {
        ++flashes;
        EXPECT_EQ(nullptr, QApplication::overrideCursor()); // the flash sets its own cursor
    };
    QTest::mouseClick(child<QPushButton>(form, "FlashButton"), Qt::LeftButton);
    EXPECT_EQ(1, flashes);
    EXPECT_EQ(0, builds);
}

TEST_F(MainForm, EnterOrSpaceOnTheFocusedButtonPressesIt)
{
    TMainForm form(state);
    int flashes = 0;
    form.flashAction = [&] { ++flashes; };
    auto* button = child<QPushButton>(form, "FlashButton");
    QTest::keyClick(button, Qt::Key_Return);
    QTest::keyClick(button, Qt::Key_Enter, Qt::KeypadModifier);
    QTest::keyClick(button, Qt::Key_Space);
    EXPECT_EQ(3, flashes);
}

// A flash disables the button, which passes its focus on; the update question answered No.
TEST_F(MainForm, ButtonHasTheFocusAgainAfterAFlashThatItStarted)
{
    TMainForm form(state);
    form.show();
    auto* button = child<QPushButton>(form, "FlashButton");
    button->setFocus();
    form.flashAction = [&] { form.setButton("Flash", false); form.setButton("Flash", true); };
    QTest::keyClick(button, Qt::Key_Space);
    EXPECT_EQ(button, form.focusWidget());
}

TEST_F(MainForm, ProgressBarAndStatusLineFollowTheProcedures)
{
    TMainForm form(state);
    auto* bar = child<QProgressBar>(form, "ProgressBar");
    state.progress.setMax(262144);
    state.progress.setStep(16384);
    state.progress.stepIt();
    state.progress.stepIt();
    QCoreApplication::processEvents(); // the bar follows once a turn of the event loop
    EXPECT_EQ(262144, bar->maximum());
    EXPECT_EQ(32768, bar->value());
    state.progress.setPosition(0);
    QCoreApplication::processEvents();
    EXPECT_EQ(0, bar->value());

    form.statusLine().setCaption("Don't turn off the system, Flash is in progress...");
    EXPECT_EQ(QStringLiteral("Don't turn off the system, Flash is in progress..."),
              child<QGroupBox>(form, "GroupBox2")->title());
    EXPECT_EQ("Don't turn off the system, Flash is in progress...", form.statusLine().caption());

    // A build holds the event loop: once it has for a frame, the bar is painted at once,
    // then at most once a frame however often it moves (each paint waits for the display).
    struct Paints : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Paint)
                ++count;
            return false;
        }
    } paints;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    state.progress.setStep(1);
    QCoreApplication::processEvents();
    bar->installEventFilter(&paints);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    QElapsedTimer held;
    held.start();
    for (int i = 0; i < 2000; ++i)
        state.progress.stepIt();
    EXPECT_GE(paints.count, 1);
    EXPECT_LE(paints.count, held.elapsed() / 16 + 1);
    EXPECT_GE(bar->value(), 1);
}

TEST_F(MainForm, ClosingCanBeRefusedWhileAFlashRuns)
{
    TMainForm form(state);
    form.show();
    bool busy = true;
    form.mayClose = [&] { return !busy; };
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
    busy = false;
    EXPECT_TRUE(form.close());
    EXPECT_FALSE(form.isVisible());
}

struct CountedDevice : scsi::Device {
    int* alive;
    explicit CountedDevice(int* a) : alive(a) { ++*alive; }
    ~CountedDevice() override { --*alive; }
    scsi::CallResult passThrough(std::uint32_t, std::span<std::uint8_t>, std::uint32_t, std::uint32_t,
                                 std::span<std::uint8_t>) override { return {}; }
    scsi::CallResult queryInquiryData(std::span<std::uint8_t>) override { return {}; }
};

TEST_F(MainForm, ConstructorResetsTheDeviceStateAndDestructionClosesTheDevice)
{
    state.deviceAccess.lastRequestSucceeded = true;
    state.deviceAccess.bytesReturned = 80;
    int alive = 0;
    {
        TMainForm form(state);
        EXPECT_FALSE(state.deviceAccess.lastRequestSucceeded);
        EXPECT_EQ(0u, state.deviceAccess.bytesReturned);
        state.deviceAccess.device = std::make_unique<CountedDevice>(&alive);
        EXPECT_EQ(1, alive);
    }
    EXPECT_EQ(0, alive);
    EXPECT_EQ(nullptr, state.deviceAccess.device);
    state.progress.stepIt(); // the bar is gone; the model no longer calls it
}

// Answers the next modal message box from the event loop and reports what it showed.
struct SeenBox {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
};

void answerNextBox(SeenBox& seen, QMessageBox::StandardButton press)
{
    QTimer::singleShot(0, [&seen, press] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(nullptr, box);
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        for (QAbstractButton* b : box->buttons())
            seen.buttons << b->text().remove(QLatin1Char('&'));
        box->button(press)->click();
    });
}

TEST(QtDialogsTest, MessageDialogShowsKindTitleIconAndTheGivenButtons)
{
    nameApplication();
    QtDialogs dialogs;
    SeenBox seen;
    answerNextBox(seen, QMessageBox::No);
    EXPECT_EQ(ui::Button::No, dialogs.messageDialog("\nWARNING:\n<b>x</b>", ui::DialogKind::Warning,
                                                    {ui::Button::Yes, ui::Button::No}));
    EXPECT_EQ(QStringLiteral("Warning"), seen.title);
    EXPECT_EQ(QStringLiteral("\nWARNING:\n<b>x</b>"), seen.text);
    EXPECT_EQ(QMessageBox::Warning, seen.icon);
    seen.buttons.sort();
    EXPECT_EQ((QStringList{"No", "Yes"}), seen.buttons);

    answerNextBox(seen = {}, QMessageBox::Ok);
    EXPECT_EQ(ui::Button::Ok, dialogs.messageDialog("e", ui::DialogKind::Error, {ui::Button::Ok}));
    EXPECT_EQ(QStringLiteral("Error"), seen.title);
    EXPECT_EQ(QMessageBox::Critical, seen.icon);
    EXPECT_EQ(QStringList{"OK"}, seen.buttons);

    answerNextBox(seen = {}, QMessageBox::Yes);
    EXPECT_EQ(ui::Button::Yes, dialogs.messageDialog("c", ui::DialogKind::Confirmation,
                                                     {ui::Button::Yes, ui::Button::No}));
    EXPECT_EQ(QStringLiteral("Confirm"), seen.title);
    EXPECT_EQ(QMessageBox::Question, seen.icon);

    answerNextBox(seen = {}, QMessageBox::Yes);
    EXPECT_EQ(ui::Button::Yes, dialogs.messageDialog("O.S must be WinNT or Win2000.", ui::DialogKind::Warning,
                                                     {ui::Button::Yes}));
    EXPECT_EQ(QStringList{"Yes"}, seen.buttons);
}

// Consent is a fresh press: a key's automatic repeat (Return held on the Flash button)
// does not answer the box, marked as one or not; a new press does.
TEST(QtDialogsTest, OnlyAFreshKeyPressAnswersABox)
{
    nameApplication();
    QtDialogs dialogs;
    bool openAfterRepeat = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(nullptr, box);
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(box, &repeat);
        // A repeat that X11 did not mark: a release and a press with one time stamp.
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        release.setTimestamp(4711);
        press.setTimestamp(4711);
        QApplication::sendEvent(box, &release);
        QApplication::sendEvent(box, &press);
        openAfterRepeat = box->isVisible();
        QKeyEvent fresh(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(box, &fresh);
    });
    EXPECT_EQ(ui::Button::Yes, dialogs.messageDialog("\nUpdate FW:VQ8A to FW:VQ8E ?\n", ui::DialogKind::Confirmation,
                                                     {ui::Button::Yes, ui::Button::No}));
    EXPECT_TRUE(openAfterRepeat);
}

// The boxes of start-up come before the window is shown: they open in the middle of the
// screen, not against the hidden form in its corner.
TEST(QtDialogsTest, BoxOfAWindowNotShownYetOpensInTheMiddleOfTheScreen)
{
    nameApplication();
    QWidget form;
    form.resize(505, 161);
    QtDialogs dialogs(&form);
    QPoint centre, middle;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(nullptr, box);
        centre = box->frameGeometry().center();
        middle = box->screen()->availableGeometry().center();
        box->button(QMessageBox::Ok)->click();
    });
    dialogs.messageDialog("e", ui::DialogKind::Error, {ui::Button::Ok});
    EXPECT_LE((centre - middle).manhattanLength(), 2) << "box centred at " << centre.x() << "," << centre.y();
}

// A message box breaks lines wider than half the screen at a blank; the start-up warning's
// "This flash utility only supports Korvane QVX-5500 firmware:VQ00~VQ9Z" must read as one line.
TEST(QtDialogsTest, LinesOfTheTextStayWhole)
{
    nameApplication();
    QtDialogs dialogs;
    const QString text = QString::fromLatin1(startWarningText().c_str());
    int widest = 0;
    int labelWidth = 0;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(nullptr, box);
        auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        ASSERT_NE(nullptr, label);
        for (const QString& line : text.split(QLatin1Char('\n')))
            widest = std::max(widest, label->fontMetrics().horizontalAdvance(line));
        labelWidth = label->width();
        box->button(QMessageBox::No)->click();
    });
    dialogs.messageDialog(startWarningText(), ui::DialogKind::Warning, {ui::Button::Yes, ui::Button::No});
    ASSERT_GT(widest, 0);
    EXPECT_GE(labelWidth, widest);
}

TEST(QtDialogsTest, PlainBoxesCarryTheApplicationTitleOrTheirOwn)
{
    nameApplication();
    QtDialogs dialogs;
    SeenBox seen;
    answerNextBox(seen, QMessageBox::Ok);
    dialogs.showMessage("Error opening: 13");
    EXPECT_EQ(QString::fromLatin1(kApplicationTitle), seen.title);
    EXPECT_EQ(QStringLiteral("Error opening: 13"), seen.text);
    EXPECT_EQ(QStringList{"OK"}, seen.buttons);

    answerNextBox(seen = {}, QMessageBox::Ok);
    dialogs.messageBox("Restart now?", "Restart");
    EXPECT_EQ(QStringLiteral("Restart"), seen.title);
    EXPECT_EQ(QStringLiteral("Restart now?"), seen.text);
}

TEST(ApplicationName, NamesTheApplicationAsAWhole)
{
    nameApplication();
    EXPECT_EQ(QString::fromLatin1(kApplicationTitle), QCoreApplication::applicationName());
    EXPECT_EQ(QStringLiteral("korvane-flash-utility"), QGuiApplication::desktopFileName());
    // The window title itself is checked on a real X server (tests/e2e): no display name
    // may be appended to it.
}

} // namespace
} // namespace app

namespace app {
namespace {

// Runs the program's event loop; the posted quit must end it with exit code 0. The guard
// only fires when the quit was lost, which would otherwise hang the test.
void expectLoopEndsWithExitCodeZero(QtQuitRequest& quit)
{
    bool timedOut = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        timedOut = true;
        QCoreApplication::exit(3);
    });
    guard.start(5000);
    EXPECT_EQ(0, quit.runEventLoop());
    EXPECT_FALSE(timedOut);
}

TEST(QtQuitRequestTest, QuitPostedBeforeTheEventLoopEndsItAsSoonAsItRunsWithExitCodeZero)
{
    QtQuitRequest quit;
    EXPECT_FALSE(quit.posted());
    quit.postQuit();
    EXPECT_TRUE(quit.posted());
    expectLoopEndsWithExitCodeZero(quit);
}

TEST(QtQuitRequestTest, QuitPostedWhileTheEventLoopRunsEndsIt)
{
    QtQuitRequest quit;
    QTimer::singleShot(0, [&] { quit.postQuit(); });
    expectLoopEndsWithExitCodeZero(quit);
}

} // namespace
} // namespace app

namespace app {
namespace {

// Start-up may open a box after the request: a second drive that cannot be opened, the
// drives left out of a full table. The request must neither close that box unread nor be
// spent in its event loop, or the program would go on running with no window.
TEST(QtQuitRequestTest, BoxOpenedAfterTheRequestIsShownAndTheProgramStillEnds)
{
    nameApplication();
    QtQuitRequest quit;
    quit.postQuit();
    QtDialogs dialogs;
    bool boxStillOpen = false;
    QTimer::singleShot(150, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        boxStillOpen = box != nullptr && box->isVisible();
        if (box)
            box->button(QMessageBox::Ok)->click();
    });
    dialogs.showMessage("Only four drives can be listed.");
    EXPECT_TRUE(boxStillOpen);

    expectLoopEndsWithExitCodeZero(quit);
}

} // namespace
} // namespace app
