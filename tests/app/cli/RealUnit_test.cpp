// The headless loader's whole update against a unit made of servers written
// elsewhere (real-unit.sh on 127.0.0.171: busybox's httpd with a CGI for the
// commands, Net::TFTPd for the images, a reboot that stops and starts both),
// so that nothing of this project stands on the other end of the wire.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "runtime/Process.h"
#include "tests/app/LoaderRig.h"
#include "tests/app/cli/RunCli.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ImageFolder.h"

namespace {

/// The unit of real-unit.sh at an address, with a folder of its own; stopped
/// (its servers by their pids) with the object.
class TRealUnit {
public:
    explicit TRealUnit(const std::string& address)
        : script_("/bin/bash", {REAL_UNIT_SCRIPT, address, folder_.Path()}) {}
    ~TRealUnit() {
        script_.Interrupt();
        WaitForEnd(script_, std::chrono::seconds(10));
    }
    TRealUnit(const TRealUnit&) = delete;
    TRealUnit& operator=(const TRealUnit&) = delete;

    /// Why the unit cannot run here; empty when it can.
    static std::string Missing() {
        for (const char* needed :
             {"/bin/busybox", "/usr/share/perl5/Net/TFTPd.pm", "/usr/bin/curl"})
            if (!std::filesystem::exists(needed))
                return std::string(needed) + " is missing; scripts/install-deps.sh installs it";
        return "";
    }
    /// True once the unit's web server answers (at most 10 seconds).
    bool Ready() {
        std::string output, errors;
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (output.find("ready\n") == std::string::npos) {
            if (std::chrono::steady_clock::now() >= giveUp || script_.Ended())
                return false;
            TChildProcess* const children[] = {&script_};
            WaitForChildOutput(children, std::chrono::milliseconds(100));
            script_.Read(TChildStream::chOutput, output);
        }
        return true;
    }
    /// Where the unit stored an image.
    std::string Stored(const std::string& name) const { return folder_.Path() + "store/" + name; }
    /// The unit's starts and the commands it took, in order.
    Lines Log() const {
        std::ifstream in(folder_.Path() + "log");
        Lines lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

private:
    TTempFolder folder_;
    TChildProcess script_;
};

} // namespace

TEST(TftpLoaderCli, UpdatesAUnitMadeOfServersWrittenElsewhere) {
    if (const std::string missing = TRealUnit::Missing(); !missing.empty())
        GTEST_SKIP() << missing;
    TImages images(171);
    TRealUnit unit("127.0.0.171");
    ASSERT_TRUE(unit.Ready()) << "the unit's web server did not answer";
    const TRun run =
        RunCli("--address 127.0.0.171 --folder " + images.Folder.Path() + " --wait-limit 30");
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, (Lines{"Connected, H/W revision 171", "Rebooting unit",
                              "Uploading Web page file " + images.PagesName, "Web pages transfered",
                              "Rebooting unit", "Uploading Program file prog.bin",
                              "Program transfered", "Update successful"}));
    EXPECT_EQ(FileBytes(unit.Stored("rrpages.bin")), images.Pages);
    EXPECT_EQ(FileBytes(unit.Stored("rrboot.bin")), images.Program);
    // TFTP came on with the reboot that the loader asked for, and only then.
    EXPECT_EQ(unit.Log(), (Lines{"start", "command tftpp=69", "command REBOOT", "start"}));
}
