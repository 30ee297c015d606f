// The headless front end: no screen; handset commands from a script or stdin drive the
// phone and the events go to stdout (or a log file) as JSON lines, and with a trace
// file also to a trace built as the run goes.
//
// The script's thread takes part in handset time for the whole run, so under the
// virtual clock time moves only inside `wait` (and inside the waits a command makes the
// phone do), and a run gives the same events every time. A script file is checked
// whole before anything runs; commands from stdin are checked line by line, and a
// mistyped one at a terminal is only reported.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform/frontends/frontend.h"
#include "platform/frontends/line_output.h"
#include "platform/handset/core/clock.h"
#include "platform/handset/core/events.h"
#include "platform/handset/core/host_io.h"
#include "platform/handset/devices/devices.h"
#include "platform/phone/executor.h"
#include "platform/phone/phone.h"
#include "platform/phone/trace.h"

using namespace handset;
using namespace handset::shell;
using namespace phone;

namespace frontends {
namespace {

void report(const std::string& text) {
    std::fprintf(stderr, "quillon: %s\n", text.c_str());
}

// Lines of a descriptor, read as they come; a wake-up descriptor ends the reading early.
class LineReader {
public:
    LineReader(int fd, int wake) : fd_(fd), wake_(wake) {}

    // The next line without its line break; false at the end of input or when woken.
    bool next(std::string& line) {
        for (;;) {
            const std::size_t nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return true;
            }
            if (eof_) {
                if (buffer_.empty()) return false;
                line = std::move(buffer_);
                buffer_.clear();
                return true;
            }
            pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
            int ready;
            {
                // Time stands still until the next line comes, but a command from the
                // control socket may meanwhile wait for the phone to be at rest.
                const Clock::AwaitingInput awaiting;
                ready = ::poll(fds, 2, -1);
            }
            if (ready < 0) {
                if (errno == EINTR) continue;
                eof_ = true;
                continue;
            }
            if (fds[1].revents & POLLIN) return false;
            char chunk[4096];
            const ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) eof_ = true;
            else buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

private:
    int fd_;
    int wake_;
    std::string buffer_;
    bool eof_ = false;
};

class HeadlessFrontEnd : public FrontEnd {
public:
    explicit HeadlessFrontEnd(HeadlessOptions options) : options_(std::move(options)) {}

    int run() override {
        Script script;
        if (options_.script && !load_script(script)) return kExitBadInput;

        std::unique_ptr<LineOutput> log_file;
        if (options_.log) {
            std::string error;
            log_file = LineOutput::create(*options_.log, report, error);
            if (!log_file) {
                std::fprintf(stderr, "quillon: cannot write the log %s: %s\n", options_.log->c_str(), error.c_str());
                return kExitBadInput;
            }
        }
        std::optional<TraceBuilder> trace;
        if (options_.trace) {
            // Found out now rather than after a long run.
            if (!std::ofstream(*options_.trace, std::ios::binary | std::ios::trunc)) {
                std::fprintf(stderr, "quillon: cannot write the trace %s: %s\n", options_.trace->c_str(),
                             std::strerror(errno));
                return kExitBadInput;
            }
            trace.emplace();
        }
        LineOutput& log = log_file ? *log_file : stdout_;
        int status = run_phone(script, [&log, &trace](const std::string& line, const Event& event) {
            log.write(line + "\n");
            std::string error;
            // The phone's own events always have their fields; a miss would be a bug here.
            if (trace && !trace->add(event_json(event), error))
                std::fprintf(stderr, "quillon: trace: %s: %s\n", error.c_str(), line.c_str());
        });
        // A run whose events or output did not all get out did not do what was asked.
        if (log.ended() || stdout_.ended()) status = std::max(status, kExitCommandFailed);
        return std::max(status, write_trace_file(trace));
    }

private:
    // Brings the phone up, runs the script (or stdin) on it and takes it down again.
    int run_phone(const Script& script, EventLog::Sink sink) {
        PhoneOptions options;
        // Under the virtual clock the phone's clock starts at a fixed moment, so that
        // the home screen prints the same every run.
        options.home_screen = handset::clock().kind() == ClockKind::Virtual ? PhoneTime::fixed() : PhoneTime();
        options.report = report;
        Phone phone(std::move(options), std::move(sink));
        // Stdin is read with this as a second way out: Quillon ending by itself ends the run.
        // A script needs none: it looks before each command.
        const int wake = options_.script ? -1 : ::eventfd(0, EFD_CLOEXEC);
        if (wake >= 0)
            phone.host().set_on_end([wake] {
                const std::uint64_t one = 1;
                [[maybe_unused]] ssize_t n = ::write(wake, &one, sizeof one);
            });

        int status = kExitOk;
        {
            Participation participation;
            phone.start_services();
            std::string error;
            if (!options_.no_start && !phone.start_quillon(error)) {
                std::fprintf(stderr, "quillon: cannot start Quillon: %s\n", error.c_str());
                status = kExitCommandFailed;
            }
            if (options_.script) status = std::max(status, run_script(script, phone.executor()));
            else status = std::max(status, run_stdin(phone.executor(), wake));
            if (!phone.end(error)) {
                std::fprintf(stderr, "quillon: %s\n", error.c_str());
                status = std::max(status, kExitCommandFailed);
            }
        }
        if (wake >= 0) {
            phone.host().set_on_end(nullptr);
            ::close(wake);
        }
        return status;
    }

    int write_trace_file(std::optional<TraceBuilder>& trace) {
        std::string error;
        if (trace && !write_trace(options_.trace->string(), *trace, error)) {
            std::fprintf(stderr, "quillon: %s\n", error.c_str());
            return kExitCommandFailed;
        }
        return kExitOk;
    }

    std::string where(int line) const {
        return options_.script ? options_.script->string() + " line " + std::to_string(line)
                               : "line " + std::to_string(line);
    }

    bool load_script(Script& script) {
        FileBytes text;
        if (!text.read(*options_.script)) {
            std::fprintf(stderr, "quillon: cannot read the script %s: %s\n", options_.script->c_str(),
                         std::strerror(errno));
            return false;
        }
        script = parse_script(text.text());
        for (const auto& e : script.errors)
            std::fprintf(stderr, "quillon: %s: %s\n", where(e.line).c_str(), e.error.c_str());
        if (!script.errors.empty()) {
            std::fprintf(stderr, "quillon: the script has errors; nothing was run\n");
            return false;
        }
        return true;
    }

    // Runs one command; false when the run should end (Quillon ended by itself).
    bool run_one(Executor& executor, int line, const Command& command, int& status) {
        if (executor.host().ended_by_itself()) return false;
        std::string out, error, notice;
        const bool ok = executor.run(command, out, error, notice);
        if (!out.empty()) stdout_.write(out);
        if (!notice.empty())
            std::fprintf(stderr, "quillon: %s: %s: %s\n", where(line).c_str(), command_name(command).c_str(),
                         notice.c_str());
        if (!ok) {
            std::fprintf(stderr, "quillon: %s: %s: %s\n", where(line).c_str(), command_name(command).c_str(),
                         error.c_str());
            status = kExitCommandFailed;
        }
        return !executor.host().ended_by_itself();
    }

    int run_script(const Script& script, Executor& executor) {
        int status = kExitOk;
        for (std::size_t i = 0; i < script.commands.size(); ++i) {
            const auto& line = script.commands[i];
            if (!run_one(executor, line.line, line.command, status)) {
                if (i + 1 < script.commands.size())
                    std::fprintf(stderr, "quillon: Quillon has ended; the script stops before %s\n",
                                 where(script.commands[i + 1].line).c_str());
                break;
            }
        }
        return status;
    }

    // A person at a terminal mistypes now and then: the line is named and the run goes
    // on. Piped input stops at its first malformed line, as a script would.
    int run_stdin(Executor& executor, int wake) {
        int status = kExitOk;
        const bool typed = ::isatty(STDIN_FILENO) != 0;
        LineReader reader(STDIN_FILENO, wake);
        std::string text;
        for (int number = 1; !executor.host().ended_by_itself() && reader.next(text); ++number) {
            ParsedLine parsed = parse_line(text, number);
            if (!parsed.ok()) {
                std::fprintf(stderr, "quillon: %s: %s%s\n", where(number).c_str(), parsed.error.c_str(),
                             typed ? " (`help` lists the commands)" : "");
                if (typed) continue;
                return kExitBadInput;
            }
            if (parsed.command && !run_one(executor, number, *parsed.command, status)) break;
        }
        return status;
    }

    HeadlessOptions options_;
    LineOutput stdout_{STDOUT_FILENO, "stdout", report};  // commands' output, and the events without a log
};

}  // namespace

std::unique_ptr<FrontEnd> make_headless(HeadlessOptions options) {
    return std::make_unique<HeadlessFrontEnd>(std::move(options));
}

}  // namespace frontends
