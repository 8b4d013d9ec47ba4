// process-child: the child program of the process tests, the same on every
// platform. Its arguments are steps, done in order:
//   out TEXT, err TEXT   write TEXT to stdout or stderr
//   zeros N              write N zero bytes to stdout
//   read                 read stdin to its end, then write "read COUNT" to stderr
//   args ARG...          write "|ARG" to stdout for every argument after it
//   sleep MS             wait MS milliseconds
//   pid                  write this program's process id to stdout
//   hold                 hold interrupts (HoldInterrupts)
//   take MS              wait up to MS milliseconds for a held interrupt: exit
//                        status its number, 120 when none came
//   wait                 wait on a set of no children with no limit, then take
//                        the interrupt that woke it: "interrupt N" on stdout,
//                        exit status N (121 when something else woke it)
//   set STEPS...         run process-child with the rest of the arguments as
//                        its steps in a set, passing on what it writes to
//                        stdout, until it ends (exit status its own) or an
//                        interrupt comes (as "wait" ends)
//   end-with-parent      end with the parent (EndWithParent)
//   signal-parent N      send signal N to the parent (exit status 98 where
//                        the platform cannot)
//   write-closed-pipe    write to a pipe whose reader is gone: "write failed"
//                        on stdout when the write failed and the program lives
//   close-streams        close stdout and stderr
//   ctrl-c               end as Ctrl-C at the console ends a program
//   exit N               end with status N
// No line feeds are written: a Windows program's text mode would turn them
// into CR LF.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "runtime/Console.h"
#include "runtime/Process.h"
#include "tests/support/Platform.h"

namespace {

int TakeAndTell() {
    const int signal = TakeInterrupt(std::chrono::nanoseconds::zero());
    std::printf("interrupt %d", signal);
    std::fflush(stdout);
    return signal;
}

int RunInSet(const std::string& self, const std::vector<std::string>& steps) {
    TChildProcessSet set;
    const std::string file = RunningProgramFile();
    TChildProcess& child = set.Start(file.empty() ? self : file, steps);
    for (;;) {
        if (set.Wait() == TChildWake::cwInterrupt)
            return TakeAndTell();
        std::string output, dropped;
        child.Read(TChildStream::chOutput, output);
        child.Read(TChildStream::chError, dropped);
        std::fputs(output.c_str(), stdout);
        std::fflush(stdout);
        const auto status = child.Ended();
        if (status && !child.IsOpen(TChildStream::chOutput) && !child.IsOpen(TChildStream::chError))
            return *status;
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& step = args[i];
        const std::string value = i + 1 < args.size() ? args[i + 1] : "";
        if (step == "out" || step == "err") {
            std::fputs(value.c_str(), step == "out" ? stdout : stderr);
            std::fflush(step == "out" ? stdout : stderr);
            ++i;
        } else if (step == "zeros") {
            const std::string block(4096, '\0');
            for (long left = std::atol(value.c_str()); left > 0; left -= 4096)
                std::fwrite(block.data(), 1, static_cast<std::size_t>(std::min(left, 4096L)),
                            stdout);
            std::fflush(stdout);
            ++i;
        } else if (step == "read") {
            long count = 0;
            while (std::fgetc(stdin) != EOF)
                ++count;
            std::fprintf(stderr, "read %ld", count);
        } else if (step == "args") {
            for (++i; i < args.size(); ++i)
                std::fputs(("|" + args[i]).c_str(), stdout);
            std::fflush(stdout);
        } else if (step == "sleep") {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(value.c_str())));
            ++i;
        } else if (step == "pid") {
            std::fputs(ProcessTag().c_str(), stdout);
            std::fflush(stdout);
        } else if (step == "hold") {
            HoldInterrupts();
        } else if (step == "take") {
            const int signal = TakeInterrupt(std::chrono::milliseconds(std::atol(value.c_str())));
            return signal != 0 ? signal : 120;
        } else if (step == "wait") {
            return TChildProcessSet().Wait() == TChildWake::cwInterrupt ? TakeAndTell() : 121;
        } else if (step == "set") {
            return RunInSet(argv[0], std::vector<std::string>(
                                         args.begin() + static_cast<long>(i) + 1, args.end()));
        } else if (step == "end-with-parent") {
            EndWithParent();
        } else if (step == "signal-parent") {
            if (!SignalParent(std::atoi(value.c_str())))
                return 98;
            ++i;
        } else if (step == "write-closed-pipe") {
            if (WriteToClosedPipe() != 0)
                std::fputs("write failed", stdout);
            std::fflush(stdout);
        } else if (step == "close-streams") {
            std::fclose(stdout);
            std::fclose(stderr);
        } else if (step == "ctrl-c") {
            EndAsCtrlCWould();
        } else if (step == "exit") {
            return std::atoi(value.c_str());
        } else {
            std::fprintf(stderr, "process-child: unknown step %s", step.c_str());
            return 99;
        }
    }
    return 0;
}
