// process-child: the child program of the process tests, the same on every
// platform. Its arguments are steps, done in order:
//   out TEXT, err TEXT   write TEXT to stdout or stderr
//   zeros N              write N zero bytes to stdout
//   read                 read stdin to its end, then write "read COUNT" to stderr
//   args ARG...          write "|ARG" to stdout for every argument after it
//   sleep MS             wait MS milliseconds
//   hold                 hold Ctrl-C (HoldInterrupts)
//   take MS              wait up to MS milliseconds for a held Ctrl-C: exit
//                        status 0 when one came, 1 when none
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
#include "tests/support/Platform.h"

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
        } else if (step == "hold") {
            HoldInterrupts();
        } else if (step == "take") {
            return TakeInterrupt(std::chrono::milliseconds(std::atol(value.c_str()))) ? 0 : 1;
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
