// The phone cases on the handset: each group is one test on a fresh device in factory
// state with its services running and the virtual clock. A case fails the test when the handset's
// outcome is not the documented one and no reason keeps the difference.
#include <cstdio>

#include "handset/devices/device_fixture.h"
#include "phone.h"
#include "platform/handset/registry/factory_values.h"
#include "platform/handset/window/wm.h"
#include "res/resources.h"

namespace phone_conformance {

std::string outcome(BOOL ok) { return ok ? "TRUE" : "FALSE " + std::to_string(GetLastError()); }
std::string handle_outcome(HANDLE h) { return h ? "handle" : "null " + std::to_string(GetLastError()); }
std::string hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(value));
    return text;
}

}  // namespace phone_conformance

namespace {

using namespace phone_conformance;

// The program's resources and one menu too wide for the soft keys.
const resource::Resources& case_resources() {
    static const resource::MenuItem items[] = {{1, TEXT("One")}, {2, TEXT("Two")}, {3, TEXT("Three")}};
    static std::vector<resource::MenuTemplate> menus = [] {
        std::vector<resource::MenuTemplate> all(quillon_resources().menus.begin(), quillon_resources().menus.end());
        all.push_back({kThreeItemMenu, items});
        return all;
    }();
    static const resource::Resources table = [] {
        resource::Resources r = quillon_resources();
        r.menus = menus;
        return r;
    }();
    return table;
}

class PhoneCases : public DeviceTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        resource::set_resources(&case_resources());
        DeviceTest::SetUp();
        ASSERT_EQ(handset::write_factory_registry(*handset::current_registry(), "skt"), handset::RegStatus::Ok);
        handset::register_window_table();
    }
};

TEST_P(PhoneCases, AsDocumented) {
    const Group groups[] = {queue_group(), power_group(),  timeout_group(),  shell_group(),
                            sound_group(), state_group(), vibration_group()};
    for (const Group& group : groups) {
        if (std::string(group.name) != GetParam()) continue;
        ASSERT_FALSE(group.cases.empty());
        for (const Case& c : group.cases) {
            const std::string handset = c.observe();
            std::printf("phone\t%s.%s\t%s\t%s\t%s\n", group.name, c.name, c.documented.c_str(), handset.c_str(),
                        c.kept ? c.kept : "");
            if (!c.kept) {
                EXPECT_EQ(handset, c.documented) << group.name << "." << c.name;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Groups, PhoneCases,
                         ::testing::Values("queue", "power", "timeouts", "shell", "sound", "state", "vibration"));

}  // namespace
