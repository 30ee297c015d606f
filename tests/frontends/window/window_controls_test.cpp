// The phone window's handset controls under Xvfb, each clicked where `--layout` lists
// it: the event log shows the effect of the handset command it stands for, and the
// recorded session has that command. A disabled control, clicked, changes nothing.
//
// Like the window's other test it never sleeps: after a click it waits for the window's
// next pictures (DAMAGE) and looks at the logs after each, up to a limit.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <map>
#include <set>

#include "common/child_process.h"
// Last: Xlib defines None, Bool and Status as macros.
#include "frontends/window/x_display.h"

namespace {

namespace fs = std::filesystem;
using qtest::Clock;

constexpr int kScale = 2;

TEST(PhoneWindowControls, EachClickRunsItsCommandAndADisabledOneNothing) {
    const std::optional<fs::path> xvfb = qtest::find_program("Xvfb");
    if (!xvfb) GTEST_SKIP() << "Xvfb is not installed (tools/install-deps installs it)";
    qtest::TempDir dir("qctl");
    const std::string device = dir.file("device");

    const qtest::Result listed = qtest::run_quillon({"--window", "--layout", "--scale", std::to_string(kScale)});
    ASSERT_EQ(listed.status, 0) << listed.err;
    std::map<std::string, std::pair<int, int>> centre;
    const nlohmann::json listing = nlohmann::json::parse(listed.out);
    for (const auto& region : listing["regions"])
        centre[region["name"].get<std::string>()] = {region["x"].get<int>() + region["w"].get<int>() / 2,
                                  region["y"].get<int>() + region["h"].get<int>() / 2};

    qtest::Child server({"-displayfd", "1", "-screen", "0", "1600x1100x24", "-nolisten", "tcp"}, xvfb->string());
    std::string display_name;
    Display* display = qtest::connect_xvfb(server, display_name);
    ASSERT_NE(display, nullptr) << display_name << server.err();
    int damage_event = 0, damage_error = 0;
    ASSERT_TRUE(XDamageQueryExtension(display, &damage_event, &damage_error));
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    qtest::use_display(display_name, dir.file("no-session-bus"));
    const fs::path log = dir / "events.log", record = dir / "session.script";
    // Quillon stays off: its own events would only make the log longer.
    qtest::Child phone({"--window", "--scale", std::to_string(kScale), "--no-start", "--device", device, "--log",
                        log.string(), "--record", record.string()});
    ASSERT_TRUE(phone.started());
    const auto deadline = Clock::now() + qtest::kStuckLimit;
    const Window window = qtest::await_window(display, deadline);
    ASSERT_NE(window, 0u) << phone.err();
    const Damage damage = XDamageCreate(display, window, XDamageReportNonEmpty);

    // Waits, picture by picture, until `holds` does; false at the limit.
    const auto await = [&](const std::function<bool()>& holds) {
        for (;;) {
            XDamageSubtract(display, damage, None, None);
            XSync(display, False);
            if (holds()) return true;
            bool damaged = false;
            while (!damaged && qtest::wait_for_x(display, deadline)) {
                XEvent event;
                XNextEvent(display, &event);
                damaged = event.type == damage_event + XDamageNotify;
            }
            if (!damaged) return false;
        }
    };
    const auto logged = [&](const std::string& text) {
        return [&log, text] { return qtest::read_file(log).find(text) != std::string::npos; };
    };
    const auto speed_is = [&](const std::string& factor) {
        return [&device, factor] {
            return qtest::run_quillon({"--device", device, "ctl", "speed"}).out == factor + "\n";
        };
    };
    const std::string missed = R"("name":"Missed Call Count","type":"dword","data":)";
    const std::string sms = R"("name":"Count","type":"dword","data":)";
    const std::string calls = R"("name":"Active Call Count","type":"dword","data":)";
    const std::string profile = R"("name":"ActiveProfile","type":"sz","data":)";

    // A fresh phone: no count to clear, no call to end, no mail client to close, nothing
    // suspended, and Normal and 1x in force. These clicks come first and must do nothing.
    const char* disabled[] = {"missed-clear", "sms-clear", "call-end", "mail-close", "power-resume",
                              "profile-normal", "speed-1", "charger-off"};
    for (const char* name : disabled) {
        ASSERT_TRUE(centre.count(name)) << name;
        qtest::click_at(display, window, centre[name].first, centre[name].second);
    }

    struct Step {
        const char* control;
        const char* command;
        std::function<bool()> effect;
    };
    const Step steps[] = {
        {"missed-add", "missed +1", logged(missed + "1}")},
        {"missed-add", "missed +1", logged(missed + "2}")},
        {"missed-clear", "missed 0", logged(missed + "0}")},
        {"sms-add", "sms +1", logged(sms + "1}")},
        {"sms-clear", "sms 0", logged(sms + "0}")},
        {"call-start", "call 1", logged(calls + "1}")},
        {"call-end", "call 0", logged(calls + "0}")},
        {"mail-start", "mail start", logged(R"("ev":"process.start","file":"\\Windows\\e mail.exe")")},
        {"mail-close", "mail close", logged(R"("ev":"process.exit","file":"\\Windows\\e mail.exe")")},
        {"profile-silent", "profile Silent", logged(profile + "\"Silent\"")},
        {"profile-meeting", "profile Meeting", logged(profile + "\"Meeting\"")},
        {"profile-normal", "profile Normal", logged(profile + "\"Normal\"")},
        {"power-idle", "power useridle", logged(R"("ev":"power","state":"useridle")")},
        {"power-button", "power button", logged(R"("ev":"power","state":"on")")},
        {"power-suspend", "power suspend", logged(R"("ev":"power","state":"suspend")")},
        // The way back from suspend is broadcast as a resume (PBT_RESUME, 2) too.
        {"power-resume", "power on", logged(R"("ev":"power","state":"on","mask":2})")},
        {"charger-on", "charger on", logged(R"("charger":true,"charging":true)")},
        {"charger-off", "charger off", logged(R"("charger":false,"charging":false)")},
        {"speed-10", "speed 10", speed_is("10")},
        {"speed-60", "speed 60", speed_is("60")},
        {"speed-1", "speed 1", speed_is("1")},
    };
    std::set<std::string> clicked;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.control);
        ASSERT_TRUE(centre.count(step.control));
        qtest::click_at(display, window, centre[step.control].first, centre[step.control].second);
        ASSERT_TRUE(await(step.effect)) << qtest::read_file(log);
        clicked.insert(step.control);
    }
    EXPECT_EQ(clicked.size(), centre.size() - 21) << "every control but the 21 keys";

    qtest::close_window(display, window);
    EXPECT_EQ(phone.finish(), 0) << phone.err();
    XCloseDisplay(display);

    // The session as recorded: each enabled click's command once, in order, and nothing
    // for the disabled clicks before them.
    std::vector<std::string> commands;
    for (const std::string& line : qtest::lines_of(qtest::read_file(record)))
        if (!line.empty() && line[0] != '#' && !line.starts_with("wait ") && !line.starts_with("reg ")) commands.push_back(line);
    std::vector<std::string> expected;
    for (const Step& step : steps) expected.push_back(step.command);
    EXPECT_EQ(commands, expected);
    // Disabled clicks wrote nothing: the first count written is the first +1.
    const std::string events = qtest::read_file(log);
    EXPECT_LT(events.find(missed + "1}"), events.find(missed + "0}"));
    EXPECT_LT(events.find(sms + "1}"), events.find(sms + "0}"));
}

}  // namespace
