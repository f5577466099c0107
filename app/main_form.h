// TMainForm: the program's one window. It creates the controls as the form lays them
// out, lets start-up arrange them, and hands the button to the build or the flash.
#pragma once

#include "main_view.h"
#include "program_state.h"
#include "qt_ui.h"
#include "startup.h"
#include "ui_ports.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <span>

class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace app {

// The services start-up needs besides the window itself.
struct StartupEnvironment {
    ui::Dialogs& dialogs;
    ui::QuitRequest& quit;
    const OsIdentity& os;
    const OwnPath& ownPath;
    const CurrentDirectory& currentDirectory;
    DiscoverDrives discover;
};

class TMainForm : public QWidget, public MainView, public ui::StatusLine {
    Q_OBJECT
public:
    // Resets the device access state, as the window's constructor always did.
    explicit TMainForm(ProgramState& state, QWidget* parent = nullptr);
    ~TMainForm() override; // FormDestroy

    // The creation handler. slot1 and marker default to the running program's own.
    StartupOutcome FormCreate(const StartupEnvironment& env);
    StartupOutcome FormCreate(const StartupEnvironment& env, std::span<const std::uint8_t> slot1,
                              std::span<const std::uint8_t> marker);

    // What the button does: buildAction in build mode (between the hourglass and the
    // default cursor), flashAction in flash mode. Empty actions do nothing.
    std::function<void()> buildAction;
    std::function<void()> flashAction;
    // Consulted when the window is asked to close; false keeps it open (a flash in progress).
    std::function<bool()> mayClose;

    int driveIndex() const; // ComboBox1's item index, -1 when none
    ui::StatusLine& statusLine() { return *this; }
    ui::BusyCursor& cursor() { return cursor_; }
    ProgramState& state() { return state_; }

    // MainView
    void setWindowCaption(const std::string& caption) override;
    void setDriveListVisible(bool visible) override;
    void setFileListsVisible(bool visible) override;
    void setSelectLabel2Visible(bool visible) override;
    void setFileMasks(const std::string& list1Mask, const std::string& list2Mask) override;
    void setFileList1Directory(const std::string& directory) override;
    void setSelectLabelTexts(const std::string& label1, const std::string& label2) override;
    void setButton(const std::string& caption, bool enabled) override;
    void setDriveLines(const std::vector<DriveLine>& lines) override;
    void selectDriveLine(int index) override;

    // ui::StatusLine: GroupBox2's caption, painted by the event loop, or at once while a
    // build holds the loop.
    void setCaption(const std::string& text) override;
    std::string caption() const override;

    // Fills both lists from their directories and masks; called when start-up sets the
    // masks. Nothing reads them again after a build: a new program (W2K*.EXE) matches
    // neither mask.
    void refreshFileLists();

public slots:
    void FlashButtonClick();
    void FileListBox1Click();
    void FileListBox2Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int px(int formPixels) const; // form pixels (120 per inch) on this screen
    void showDriveNode();
    void place(QWidget* w, int left, int top, int width, int height);
    void fitLabel(QLabel* label, int rightEdge);
    void fitButtonText();
    // The form's font, set narrower (down to a limit) until text takes no more than room pixels.
    QFont fontFitting(const QString& text, int room) const;
    void autoSize();
    void fillList(QListWidget* list, const std::string& directory, const std::string& mask);
    void progressChanged();
    void showProgress();
    void paintIfLoopStalled();

    ProgramState& state_;
    QtBusyCursor cursor_;
    double scale_ = 1.0;
    QElapsedTimer sinceLoopTurned_;
    bool progressQueued_ = false;
    std::string dir1_, dir2_, mask1_, mask2_;
    bool focusGivenAway_ = false;
    QPointer<QWidget> focusTakenBy_;

    QLabel* SelectLabel = nullptr;
    QLabel* SelectLabel2 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QProgressBar* ProgressBar = nullptr;
    QPushButton* FlashButton = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QListWidget* FileListBox1 = nullptr;
    QListWidget* FileListBox2 = nullptr;
};

} // namespace app
