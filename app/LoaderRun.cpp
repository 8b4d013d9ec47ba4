// The run guard under the loader's sequence: one Connect or Upload at a
// time, busy from its start to every way out, its outcome built step by step
// and told to the window at the end; a cancel or the time limit ends it
// silently, any other failure shows in the error box.
#include "app/Loader.h"

#include <functional>

#include "runtime/Convert.h"
#include "runtime/Exception.h"

namespace {

/// Unwinds a handler after a cancel request or once the time limit has
/// passed; the guard ends it silently. Not an Exception, so no failure
/// handler on the way mistakes it for one.
struct TStopped {
    TRunResult Result;
};

/// The largest slice of a wait, so that a cancel ends it quickly.
constexpr auto PumpSlice = std::chrono::milliseconds(250);

} // namespace

void TLoader::RunHandler(TNesting nesting, TRunKind kind, const std::function<void()>& body) {
    if (cancelled_)
        return;
    if (busy_) {
        // The folder edit is disabled during a run, so a scan now is the
        // run's own (Connect setting the folder): it scans inside the run,
        // whose guard shows any failure. Anything else would nest a second
        // run into the one under way.
        if (nesting == TNesting::nsScan)
            body();
        return;
    }
    // A scan is no run: it neither waits nor talks to the unit, so it leaves
    // the controls as they are. Disabling the folder edit for it would take
    // the keyboard from the user typing a path into it.
    const bool run = nesting == TNesting::nsRun;
    const auto end = [this, run] {
        if (run) {
            busy_ = false;
            runCancelled_ = false;
            window_.RunEnded(outcome_);
            window_.SetBusy(false);
        }
    };
    if (run) {
        busy_ = true;
        runCancelled_ = false;
        outcome_ = TRunOutcome{};
        outcome_.Kind = kind;
        // Whether the unit came back is asked of an Upload only, and stays
        // false until it has.
        if (kind == TRunKind::rkUpload && Verify)
            outcome_.Verified = false;
        // One unit from start to end: a run talks to the address it began with.
        address_ = window_.ReadAddress();
        window_.SetBusy(true);
        Reach(kind == TRunKind::rkConnect ? TRunStep::spConnect : TRunStep::spImageCheck);
    }
    const auto failed = [this, run](const std::string& message) {
        if (run)
            outcome_.Reason = message;
        window_.ShowError(ErrorBoxText(message));
    };
    try {
        body();
    } catch (const TStopped& stopped) {
        outcome_.Result = stopped.Result;
        // A cancel needs no reason: the user (or a signal) asked for it.
        outcome_.Reason = stopped.Result == TRunResult::rrTimeLimit
                              ? "time limit of " + SecondsText(timeLimit_) + " s reached"
                              : "";
    } catch (const Exception& e) {
        failed(e.Message());
    } catch (const std::exception& e) {
        failed(e.what());
    } catch (...) {
        end();
        throw;
    }
    end();
}

std::optional<TRunResult> TLoader::StopRequested() const {
    if (cancelled_ || runCancelled_)
        return TRunResult::rrCancelled;
    if (deadline_ && TWindowOperations::Clock::now() >= *deadline_)
        return TRunResult::rrTimeLimit;
    return std::nullopt;
}

void TLoader::CheckCancel() const {
    if (const auto stop = StopRequested())
        Stop(*stop);
}

void TLoader::Pump() {
    window_.PumpMessages();
    CheckCancel();
}

void TLoader::Reach(TRunStep step) {
    outcome_.Step = step;
    window_.StepReached(step);
}

void TLoader::Succeed() {
    outcome_.Step = TRunStep::spDone;
    outcome_.Result = TRunResult::rrSucceeded;
}

void TLoader::Fail(std::string reason) {
    outcome_.Result = TRunResult::rrFailed;
    outcome_.Reason = std::move(reason);
}

void TLoader::SetTimeLimit(std::chrono::milliseconds limit) {
    timeLimit_ = limit;
    if (limit > std::chrono::milliseconds::zero())
        deadline_ = TWindowOperations::Clock::now() + limit;
    else
        deadline_.reset();
}

void TLoader::PumpDelay(double seconds) {
    const auto deadline = TWindowOperations::Clock::now() +
                          std::chrono::duration_cast<TWindowOperations::Clock::duration>(
                              std::chrono::duration<double>(seconds));
    // The window waits for its messages rather than spinning; the slices
    // only bound how long a cancel request waits to be seen.
    for (auto now = TWindowOperations::Clock::now(); now < deadline;
         now = TWindowOperations::Clock::now()) {
        window_.PumpMessagesUntil(std::min(deadline, now + PumpSlice));
        CheckCancel();
    }
}

void TLoader::Stop(TRunResult result) const {
    throw TStopped{result};
}
