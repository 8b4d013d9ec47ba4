// The run as every window shows it, without a toolkit, on a view that
// records what it is told: Upload offered only while the address field reads
// the unit connected, the focus kept across a run, the close during a run,
// the folder scanned once typing pauses, a held failure, the log's Copy and
// Save As. Against simulated units on loopback
// addresses of this file's own.
#include "app/WindowController.h"

#include <gtest/gtest.h>

#include <set>

#include "tests/app/LoaderRig.h"
#include "tests/app/WindowRows.h"

namespace {

/// A window that tells its controller of its run, as each toolkit's does,
/// and records what the controller asks of its view.
class TControlledWindow : public TRecordingWindow, private TRunView {
public:
    TWindowController Controller{*this, *this};
    std::optional<TWindowControl> Focus;
    /// Where the focus was once the run had started.
    std::optional<TWindowControl> FocusInRun;
    bool AddressHeld = false;
    std::set<std::size_t> Selected; // of the log's lines
    std::string Clipboard;
    std::optional<std::string> SavePath;
    int Questions = 0, Closes = 0;

    TControlledWindow() {
        OnDirEditChange = [this] { Controller.FolderChanged(TFolderChange::fcSet); };
    }
    void SetBusy(bool busy) override {
        TRecordingWindow::SetBusy(busy);
        Controller.SetBusy(busy);
        if (busy)
            FocusInRun = Focus;
    }
    void ScanStopped(const std::string& name, const std::string& reason) override {
        Controller.ScanStopped(name, reason);
    }
    void RunEnded(const TRunOutcome& outcome) override {
        TRecordingWindow::RunEnded(outcome);
        Controller.RunEnded(outcome);
    }
    void SetDirEditText(const std::string& text) override {
        TRecordingWindow::SetDirEditText(text);
        Controller.RaiseHeldFailure();
    }
    void ShowError(const std::string& text) override { Controller.ShowError(text); }
    /// The user's edit of the folder edit, to text.
    void EditFolder(const std::string& text) {
        DirEdit = text;
        Controller.FolderChanged(TFolderChange::fcEdited);
    }
    /// The pause started last has passed.
    void PassPause() { Controller.FolderPaused(); }

private:
    void ShowRunState() override {}
    std::optional<TWindowControl> FocusedControl() override { return Focus; }
    void FocusControl(TWindowControl control) override { Focus = control; }
    bool ControlShown(TWindowControl control) override {
        switch (control) {
        case TWindowControl::wcLog:
        case TWindowControl::wcAddress:
        case TWindowControl::wcConnect:
            return true;
        default:
            return GroupVisible;
        }
    }
    bool AddressHoldsInvalidChange() override { return AddressHeld; }
    std::vector<TLogLine> LogLines() override {
        std::vector<TLogLine> lines;
        for (std::size_t i = 0; i < Lines.size(); ++i)
            lines.push_back({Lines[i], Selected.count(i) > 0});
        return lines;
    }
    std::string_view LineEnd() const override { return "\r\n"; }
    void SetClipboardText(const std::string& text) override { Clipboard = text; }
    std::optional<std::string> AskSavePath() override { return SavePath; }
    void ShowErrorBox(const std::string& text) override { TRecordingWindow::ShowError(text); }
    void StartFolderPause(std::chrono::milliseconds delay) override {
        EXPECT_EQ(delay, TWindowController::FolderPause);
    }
    void AskToClose(const std::string& /*question*/) override { ++Questions; }
    void CloseWindow() override { ++Closes; }
};

} // namespace

TEST(WindowController, OffersUploadOnlyWhileTheFieldReadsTheUnitConnected) {
    TUnitSim first(UnitAt("127.0.43.2"));
    TUnitSim second(UnitAt("127.0.43.3"));
    first.Start();
    second.Start();
    TControlledWindow window;
    struct TRow {
        const char* name;
        const char* reads; // the address field
        bool connect;      // and Connect is pressed
        bool offered;
        const char* status; // "": the label was never set
    };
    const char* Hint = TWindowController::ConnectHint;
    const TRow rows[] = {
        {"before any Connect", "127.0.43.2", false, false, ""},
        {"connected", "127.0.43.2", true, true, "Connected"},
        {"another unit's address", "127.0.43.3", false, false, Hint},
        {"an address still being typed", "127.0.4  .   ", false, false, Hint},
        {"the connected unit's again", "127.0.43.2", false, true, "Connected"},
        {"another unit, connected", "127.0.43.3", true, true, "Connected"},
        {"the unit connected before", "127.0.43.2", false, false, Hint},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        window.Address = row.reads;
        window.Controller.AddressChanged();
        if (row.connect)
            window.Controller.Press(TRunKind::rkConnect);
        EXPECT_EQ(window.Controller.ControlEnabled(TWindowControl::wcUpload), row.offered);
        EXPECT_TRUE(window.Controller.ControlEnabled(TWindowControl::wcConnect));
        EXPECT_EQ(window.Statuses.empty() ? "" : window.Statuses.back(), row.status);
        EXPECT_EQ(window.Controller.StatusTone(), TStatusTone::stNormal);
    }
}

TEST(WindowController, KeepsTheFocusAcrossARun) {
    // Connects where nothing answers: the run fails, and hides the group.
    using enum TWindowControl;
    struct TRow {
        const char* name;
        std::optional<TWindowControl> before, inRun, after;
        bool addressHeld = false; // the field refuses to be left: no run
    };
    const TRow rows[] = {
        {"Connect, from its button", wcConnect, wcConnect, wcConnect},
        {"Enter in the address field", wcAddress, wcLog, wcAddress},
        {"from a list that the failed Connect hides", wcPrograms, wcLog, wcConnect},
        {"the focus in another window", std::nullopt, std::nullopt, std::nullopt},
        {"a click that the address field refuses", wcConnect, std::nullopt, wcConnect, true},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        TControlledWindow window;
        window.Address = "127.0.43.9";
        window.GroupVisible = true;
        window.Focus = row.before;
        window.AddressHeld = row.addressHeld;
        window.Controller.Press(TRunKind::rkConnect);
        EXPECT_EQ(window.BusyChanges.size(), row.addressHeld ? 0u : 2u);
        EXPECT_EQ(window.FocusInRun, row.inRun);
        EXPECT_EQ(window.Focus, row.after);
    }
}

TEST(WindowController, ACloseDuringARunAsksAndClosesOnceItHasEnded) {
    const TImages images(171);
    struct TRow {
        const char* name;
        const char* address; // of a unit that never comes back from its reboot
        int questions;
        std::function<void(TWindowController&)> user; // in the wait for the unit
    };
    const TRow rows[] = {
        {"a close answered Yes", "127.0.43.4", 1,
         [](TWindowController& c) {
             EXPECT_EQ(c.CloseRequested(), TCloseAction::caKeepOpen);
             EXPECT_EQ(c.CloseRequested(), TCloseAction::caKeepOpen); // while it asks
             c.CloseAnswered(true);
             EXPECT_EQ(c.CloseRequested(), TCloseAction::caCloseAfterRun);
         }},
        {"the program told to quit", "127.0.43.5", 0,
         [](TWindowController& c) { c.QuitRequested(); }},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        TUnitSimSettings lost = UnitAt(row.address);
        lost.NeverComesBack = true;
        TUnitSim unit(lost);
        unit.Start();
        TControlledWindow window;
        window.Address = row.address;
        window.DirEdit = images.Folder.Path();
        window.Controller.Press(TRunKind::rkConnect);
        ASSERT_EQ(window.Lines, Lines{"Connected, H/W revision 171"});
        bool answered = false;
        window.OnPump = [&] {
            if (window.Lines == Lines{"Rebooting unit"} && !std::exchange(answered, true))
                row.user(window.Controller);
        };
        window.Controller.Press(TRunKind::rkUpload);
        EXPECT_TRUE(answered);
        EXPECT_EQ(window.Questions, row.questions);
        EXPECT_TRUE(window.Controller.Closing());
        EXPECT_EQ(window.Outcomes.back().Result, TRunResult::rrCancelled);
        // Closed once the run had ended; the Yes asked for it once before.
        EXPECT_EQ(window.Closes, window.Questions + 1);
        EXPECT_EQ(window.Controller.CloseRequested(), TCloseAction::caCloseNow);
    }
}

TEST(WindowController, AHeldFailureStaysTheFirstTillItIsRaised) {
    // A scan's failure inside a run is held and raised so (tests/app/qt's
    // ErrorBoxAddsThePeriodAndCarriesTheApplicationsName); a second one
    // must not take its place.
    TControlledWindow window;
    window.Controller.HoldFailure(std::make_exception_ptr(Exception("first")));
    window.Controller.HoldFailure(std::make_exception_ptr(Exception("second")));
    try {
        window.Controller.RaiseHeldFailure();
        ADD_FAILURE() << "nothing raised";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "first");
    }
    EXPECT_NO_THROW(window.Controller.RaiseHeldFailure());
}

TEST(WindowController, CopiesTheSelectedLinesOrAllAndSavesAll) {
    TControlledWindow window;
    window.Lines = {"Rebooting unit", "Uploading Web page file a.bin", "Update successful"};
    const std::string all =
        "Rebooting unit\r\nUploading Web page file a.bin\r\nUpdate successful\r\n";
    window.Controller.CopyLog();
    EXPECT_EQ(window.Clipboard, all);
    window.Selected = {0, 2};
    window.Controller.CopyLog();
    EXPECT_EQ(window.Clipboard, "Rebooting unit\r\nUpdate successful\r\n");

    TTempFolder folder;
    struct TRow {
        const char* name;
        std::optional<std::string> path; // none: the user cancels
        std::string error;               // how the box begins; "": none
    };
    const TRow rows[] = {
        {"a new file", folder.Path() + "log.txt", ""},
        {"over the file saved before", folder.Path() + "log.txt", ""},
        {"cancelled", std::nullopt, ""},
        {"in a folder that is not there", folder.Path() + "missing" + PathDelim + "log.txt",
         "Cannot write " + folder.Path() + "missing"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        window.Errors.clear();
        window.SavePath = row.path;
        window.Controller.SaveLogAs();
        ASSERT_EQ(window.Errors.size(), row.error.empty() ? 0u : 1u);
        if (!row.error.empty()) {
            EXPECT_EQ(window.Errors[0].substr(0, row.error.size()), row.error);
        } else if (row.path) {
            EXPECT_EQ(FileBytes(*row.path), std::vector<std::uint8_t>(all.begin(), all.end()));
        }
    }
}

TEST(WindowController, ScansTheFolderOnceTypingPausesOrAtOnceForAWholeText) {
    const TStoppingFolder stopping;
    const TTempFolder& outer = stopping.Outer;
    const std::string images = outer.Path() + "images";
    const auto typeFrom = [](TControlledWindow& w, const std::string& from, const std::string& to) {
        for (std::size_t length = from.size() + 1; length <= to.size(); ++length)
            w.EditFolder(to.substr(0, length));
    };
    // Typed and paused, or Enter: each window's test (TypingRows).
    struct TRow {
        const char* name;
        std::function<void(TControlledWindow&)> edit;
        bool box;      // "Read beyond end of file." shown, the file named in the log
        int programs;  // entries of the program list
        bool boxLater; // once a pause passes later
    };
    const TRow rows[] = {
        {"typed, with no pause yet", [&](TControlledWindow& w) { typeFrom(w, "", outer.Path()); },
         false, 0, true},
        {"pasted whole", [&](TControlledWindow& w) { w.EditFolder(outer.Path()); }, true, 0, false},
        {"a key typed after a paste",
         [&](TControlledWindow& w) {
             w.EditFolder(images);
             w.EditFolder(images + PathDelim);
         },
         false, 1, false},
        {"chosen in the chooser",
         [&](TControlledWindow& w) {
             w.DirEdit = outer.Path();
             w.Controller.FolderChanged(TFolderChange::fcSet);
         },
         true, 0, false},
        {"typed, then Upload pressed",
         [&](TControlledWindow& w) {
             typeFrom(w, "", outer.Path());
             w.Controller.Press(TRunKind::rkUpload);
         },
         true, 0, false},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        TControlledWindow window;
        row.edit(window);
        EXPECT_EQ(window.Errors, row.box ? Lines{"Read beyond end of file."} : Lines{});
        EXPECT_EQ(std::count(window.Lines.begin(), window.Lines.end(), ScanStopped),
                  row.box ? 1 : 0);
        EXPECT_EQ(window.ListCount(TImageList::ilPrograms), row.programs);
        // A pause that passes later scans only what typing left to it.
        window.PassPause();
        EXPECT_EQ(window.Errors.size(), row.box || row.boxLater ? 1u : 0u);
    }
}
