// The run as every window shows it, without a toolkit: Upload offered only
// while the address field reads the unit connected. Against simulated units
// on loopback addresses of this file's own.
#include "app/WindowController.h"

#include <gtest/gtest.h>

#include "tests/app/LoaderRig.h"

namespace {

/// A window that tells its controller of its run, as each toolkit's does,
/// and draws nothing.
class TControlledWindow : public TRecordingWindow, private TRunView {
public:
    TWindowController Controller{*this, *this};

    void SetBusy(bool busy) override { Controller.SetBusy(busy); }
    void RunEnded(const TRunOutcome& outcome) override { Controller.RunEnded(outcome); }

private:
    void ShowRunState() override {}
    void AskToClose(const std::string& /*question*/) override {}
    void CloseWindow() override {}
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
        EXPECT_EQ(window.Controller.ButtonEnabled(TRunKind::rkUpload), row.offered);
        EXPECT_TRUE(window.Controller.ButtonEnabled(TRunKind::rkConnect));
        EXPECT_EQ(window.Statuses.empty() ? "" : window.Statuses.back(), row.status);
        EXPECT_EQ(window.Controller.StatusTone(), TStatusTone::stNormal);
    }
}
