// Bringing an interactive phone up and down, and the ways it ends.
#include "platform/frontends/interactive/interactive.h"

#include <signal.h>

#include <algorithm>

#include "platform/handset/core/clock.h"
#include "platform/handset/devices/devices.h"
#include "platform/handset/window/wm.h"

using namespace handset;
using namespace handset::shell;
using namespace phone;

namespace frontends {
namespace {

// How long an end that no user can repeat (a signal, a lost terminal) waits for Quillon
// and the running command before the phone leaves without them.
constexpr auto kUnattendedEndGrace = std::chrono::seconds(10);

}  // namespace

InteractivePhone::InteractivePhone(InteractiveOptions options, std::function<void()> wake)
    : options_(std::move(options)), wake_(std::move(wake)), log_(wake_) {}

InteractivePhone::~InteractivePhone() = default;

void InteractivePhone::start() {
    const LineOutput::Report report_error = [this](const std::string& text) {
        log_.add(ConsoleLine::Kind::Error, text);
    };
    if (options_.log) {
        std::string error;
        log_file_ = LineOutput::create(*options_.log, report_error, error);
        if (!log_file_)
            log_.add(ConsoleLine::Kind::Error, "cannot write the log " + options_.log->string() + ": " + error);
    }
    PhoneOptions phone;
    phone.home_screen = time_;
    phone.launch = [this] { worker_->run("start", Command{cmd::Start{}}); };
    phone.report = report_error;
    phone_ = std::make_unique<Phone>(std::move(phone), [this](const std::string& line, const Event& event) {
        if (log_file_) log_file_->write(line + "\n");
        log_.add(ConsoleLine::Kind::Event, describe_event(event));
    });
    worker_ = std::make_unique<CommandWorker>(*phone_, log_, wake_);
    set_screen_listener(wake_);
    set_audio_output(true);

    std::string error;
    if (options_.record) {
        if (recorder_.open(*options_.record, report_error, error))
            recorder_.begin(!options_.no_start);
        else log_.add(ConsoleLine::Kind::Error, error);
    }
    Participation participation;
    phone_->start_services();
    if (!options_.no_start && !phone_->start_quillon(error))
        log_.add(ConsoleLine::Kind::Error, "cannot start Quillon: " + error);
}

void InteractivePhone::end() {
    worker_->stop();
    recorder_.end();
    {
        Participation participation;
        std::string error;
        phone_->end(error);  // Quillon has ended in the worker's quit job
    }
    set_screen_listener(nullptr);
    worker_.reset();
    phone_.reset();
}

void InteractivePhone::press(BYTE vk) {
    message_.clear();
    recorder_.key(vk);
    press_physical_key(vk);
}

void InteractivePhone::submit_command_line(const std::string& text) {
    TypedLine typed = read_typed_line(text, ++command_number_, log_);
    message_ = typed.message;
    if (typed.action == TypedLine::Action::Exit) request_quit();
    if (typed.action != TypedLine::Action::Run) return;
    recorder_.command(text);
    worker_->run(text, std::move(*typed.command));
}

bool InteractivePhone::use_control(const HandsetControl& control) {
    const std::optional<std::string> command = control.command(read_phone_state());
    if (command) submit_command_line(*command);
    return command.has_value();
}

void InteractivePhone::request_quit() {
    if (quitting_) {
        leave_now_ = true;
        return;
    }
    quitting_ = true;
    // A command still waiting (`:wait 1h`) would hold the end back behind it.
    phone_->host().cancel_waits();
    worker_->end_quillon();
}

void InteractivePhone::request_unattended_end() {
    if (end_deadline_) return;
    end_deadline_ = std::chrono::steady_clock::now() + kUnattendedEndGrace;
    if (!quitting_) request_quit();
}

void InteractivePhone::on_signal(int signo) {
    // Ctrl-C is the user's F10 (a second one leaves at once); TERM and HUP come from
    // outside, where no one may send another.
    if (signo == SIGINT) request_quit();
    else request_unattended_end();
}

std::string InteractivePhone::status() const {
    if (quitting_) return "Ending Quillon... (F10 again leaves at once)";
    if (const std::string busy = worker_->busy(); !busy.empty()) return "running: " + busy;
    return message_;
}

bool InteractivePhone::status_is_error() const { return !quitting_ && worker_->busy().empty(); }

bool InteractivePhone::finished() { return leave_now_ || worker_->finished(); }

long long InteractivePhone::next_look_ms() {
    // The clocks on screen show minutes: look when the next one begins (in real time,
    // sooner when the clock runs fast, but not more often than ten times a second).
    const double handset_ms = static_cast<double>(60'000 - handset::clock().now_ms() % 60'000);
    long long ms = std::clamp(static_cast<long long>(handset_ms / handset::clock().speed()) + 1, 100LL, 60'000LL);
    if (end_deadline_) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*end_deadline_ - std::chrono::steady_clock::now());
        if (left.count() <= 0) leave_now_ = true;
        ms = std::clamp<long long>(left.count(), 0, ms);
    }
    return ms;
}

}  // namespace frontends
