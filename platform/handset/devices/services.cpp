// The device services' start-up and shut-down, and the files they install into a new
// device: the program at \Program Files\Quillon with its Sound folder, the carrier's
// mail client at \Windows\e mail.exe and the empty start-up folder \Windows\StartUp.
//
// The program files are markers: the emulator runs Quillon and the mail client from
// its own code, and the shell only needs their files to exist where the handset has
// them.
#include <fstream>
#include <stdexcept>

#include "platform/handset/core/device.h"
#include "platform/handset/devices/devices.h"
#include "platform/handset/devices/services.h"
#include "platform/handset/devices/sound_set.h"

namespace fs = std::filesystem;

namespace handset {
namespace {

void write_file(const fs::path& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void write_text(const fs::path& path, std::string_view text) {
    write_file(path, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

// Where the program lives on a new device: its folder and its file.
constexpr char16_t kProgramFolder[] = u"\\Program Files\\Quillon";
constexpr char16_t kProgramFile[] = u"Quillon.exe";

void install_device_files(const Device& device) {
    const fs::path program = *device.host_path(kProgramFolder);
    const fs::path windows = device.fs_root() / "Windows";
    fs::create_directories(program);
    fs::create_directories(windows / "StartUp");
    write_text(program / kProgramFile, "Quillon\r\nThe handset runs this program from the emulator.\r\n");
    install_sound_set(program / "Sound");
    write_text(windows / "e mail.exe",
               "e-mail\r\nThe carrier's mail client; the handset runs it from the emulator.\r\n");
}

}  // namespace

void install_sound_set(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) throw std::runtime_error("cannot create " + folder.string() + ": " + ec.message());
    for (const auto& file : sound_set()) write_file(folder / file.name, file.bytes);
}

void register_device_services() { add_factory_hook(&install_device_files); }

std::u16string installed_program_path() { return std::u16string(kProgramFolder) + u"\\" + kProgramFile; }

std::u16string program_path() {
    const std::u16string& chosen = device().exe_path();
    return chosen.empty() ? installed_program_path() : chosen;
}

void start_device_services() { power_start(); }

void stop_device_services() {
    mail_stop_all();
    power_stop();
    sound_stop();
    vibration_stop();
    set_audio_output(false);
}

}  // namespace handset
