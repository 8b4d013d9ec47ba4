// The window's program as a user starts it from a terminal: what it says
// where there is no display to open the window on. Its --version is the
// packaging tests' (tests/packaging), with every other program's.
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>

namespace {

struct TRun {
    int Status = -1;
    std::string Output; // stdout and stderr together
};

TRun RunWindowProgram(const std::string& environment, const std::string& args) {
    // Bounded: a window that opened after all would otherwise wait for ever.
    const std::string command = "env " + environment + " timeout -s KILL 20 " + LOADER_WINDOW_PATH +
                                " " + args + " 2>&1 </dev/null";
    TRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return run;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        run.Output.append(buffer, n);
    const int rc = ::pclose(pipe);
    run.Status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return run;
}

} // namespace

TEST(WindowProgram, WithoutADisplaySaysSoInOneLineAndNamesTheHeadlessLoader) {
    struct TRow {
        const char* name;
        std::string environment;
        const char* reason;
    };
    const TRow rows[] = {
        {"no display set", "-u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM", "none is set"},
        // A display number that nothing serves: the X socket is missing.
        {"a display nothing answers on", "-u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:97",
         "the display \":97\" cannot be opened"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        const TRun run = RunWindowProgram(row.environment, "");
        EXPECT_EQ(run.Status, 1);
        ASSERT_FALSE(run.Output.empty());
        EXPECT_EQ(run.Output.find('\n'), run.Output.size() - 1) << run.Output; // one line
        EXPECT_EQ(run.Output.rfind("tftp-loader: the window needs a display", 0), 0u);
        EXPECT_NE(run.Output.find(row.reason), std::string::npos) << run.Output;
        EXPECT_NE(run.Output.find("tftp-loader-cli --address"), std::string::npos);
    }
}
