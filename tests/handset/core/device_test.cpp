// A device folder is told by its marker, which says what the device was made as: the
// options of a later start do not change a model or where the unread-SMS count lives.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/child_process.h"
#include "common/temp_dir.h"
#include "platform/handset/core/device.h"

namespace {

TEST(Device, TheMarkerSaysWhatTheDeviceWasMadeAs) {
    struct Case {
        std::string marker;  // as a device of an earlier start wrote it, or as a hand left it
        std::string model;
        bool hklm;
    };
    const Case cases[] = {
        {"ktf\n", "ktf", false},
        {"none\nsms-root HKLM\n", "none", true},
        {"ktf\nsms-root HKLM", "ktf", true},  // no line break at the end
        {"ktf", "ktf", false},
        {"\nsms-root HKLM\n", "skt", true},  // no model: the options' stands
        {"skt\nsms-root HKCU\n", "skt", false},
        {"", "skt", false},
    };
    for (const Case& c : cases) {
        qtest::TempDir dir("quillon-device");
        std::filesystem::create_directories(dir / "device");
        qtest::write_file((dir / "device" / "device.model").string(), c.marker);
        handset::DeviceOptions options;
        options.folder = dir / "device";
        options.model = "skt";
        const handset::Device device(options);
        EXPECT_EQ(device.model(), c.model) << c.marker;
        EXPECT_EQ(device.unread_sms_in_hklm(), c.hklm) << c.marker;
    }

    // What a device writes, it reads back at the next start, whatever that start's options.
    qtest::TempDir dir("quillon-device");
    handset::DeviceOptions made;
    made.folder = dir / "device";
    made.model = "ktf";
    made.unread_sms_in_hklm = true;
    { const handset::Device first(made); }
    handset::DeviceOptions later;
    later.folder = made.folder;
    const handset::Device again(later);
    EXPECT_EQ(again.model(), "ktf");
    EXPECT_TRUE(again.unread_sms_in_hklm());
}

}  // namespace
