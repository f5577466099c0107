#include "restart_offer.h"

namespace flash {

void RestartOffer::wait(const std::function<void()>& call)
{
    if (waiter_)
        waiter_->runBlocking(call);
    else
        call();
}

RestartOutcome RestartOffer::run()
{
    RestartOutcome outcome = RestartOutcome::Declined;
    const ui::Button answer = dialogs_.messageDialog(
        ui::localized(kRestartQuestion), ui::DialogKind::Confirmation, {ui::Button::Yes, ui::Button::No});
    const auto step = [this](StepResult (RestartSystem::*which)()) {
        StepResult result;
        wait([&] { result = (system_.*which)(); });
        return result;
    };
    if (answer == ui::Button::Yes) {
        if (!step(&RestartSystem::openSession).ok) {
            dialogs_.messageBox(ui::localized(kExitError), ui::localized(kOpenSessionFailed));
            outcome = RestartOutcome::OpenSessionFailed;
        } else if (!step(&RestartSystem::findRebootService).ok) {
            dialogs_.messageBox(ui::localized(kExitError), ui::localized(kLookupRightFailed));
            outcome = RestartOutcome::LookupFailed;
        } else if (!step(&RestartSystem::checkRebootAllowed).ok) {
            dialogs_.messageBox(ui::localized(kExitError), ui::localized(kEnableRightFailed));
            outcome = RestartOutcome::EnableFailed;
        } else {
            cursor_.setBusy(false);
            // The program does not close itself; the system ends it as it goes down.
            wait([this] { system_.reboot(); });
            outcome = RestartOutcome::RebootRequested;
        }
    }
    status_.setCaption("");
    return outcome;
}

} // namespace flash
