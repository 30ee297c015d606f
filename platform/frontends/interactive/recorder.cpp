// Recording an interactive session as a headless script.
#include "platform/frontends/interactive/recorder.h"

#include <unistd.h>

#include <map>
#include <tuple>

#include "platform/phone/commands.h"
#include "platform/phone/keys.h"
#include "platform/handset/core/clock.h"
#include "platform/handset/core/device.h"
#include "platform/handset/core/events.h"
#include "platform/handset/core/utf.h"
#include "platform/handset/registry/factory_values.h"
#include "platform/handset/registry/store.h"

using namespace handset;
using namespace phone;

namespace frontends {
namespace {

// A value with where it lives; keys and names compare without case, as the registry does.
struct Located {
    RegRoot root;
    std::u16string key;
    RegValue value;
};
using Flat = std::map<std::tuple<int, std::u16string, std::u16string>, Located>;

void flatten(RegRoot root, const RegTree& tree, Flat& out) {
    for (const RegValue& v : tree.values)
        out[{static_cast<int>(root), ascii_lower(tree.path), ascii_lower(v.name)}] = {root, tree.path, v};
    for (const RegTree& sub : tree.subkeys) flatten(root, sub, out);
}

bool read_all(RegistryStore& store, Flat& out) {
    for (RegRoot root : {RegRoot::CurrentUser, RegRoot::LocalMachine}) {
        RegTree tree;
        const RegStatus status = store.read_tree({root, u""}, tree);
        if (status == RegStatus::NotFound) continue;
        if (status != RegStatus::Ok) return false;
        flatten(root, tree, out);
    }
    return true;
}

// A script line of its words, quoted where a word needs it.
std::string script_line(const std::vector<std::string>& words) {
    std::string line, error;
    return join_arguments(words, line, error) ? line : std::string();
}

}  // namespace

std::vector<std::string> registry_differences() {
    auto store = current_registry();
    if (!store || !has_device()) return {};
    Flat now, fresh;
    if (!read_all(*store, now)) return {};
    // A new device of the same model, made aside in the run folder and gone again.
    const auto file = device().run_dir() / ("record-factory-" + std::to_string(::getpid()) + ".db");
    try {
        RegistryStore factory(file.string());
        if (write_factory_registry(factory, device().model(), device().unread_sms_in_hklm()) != RegStatus::Ok || !read_all(factory, fresh)) return {};
    } catch (const std::exception&) {
        return {};
    }
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(file.string() + suffix, ec);

    std::vector<std::string> lines;
    for (const auto& [id, v] : now) {
        const auto it = fresh.find(id);
        if (it != fresh.end() && it->second.value.type == v.value.type && it->second.value.data == v.value.data)
            continue;
        lines.push_back(script_line({"reg", "set", format_key_path({v.root, v.key}), to_utf8(v.value.name),
                                     format_typed_value(v.value.type, v.value.data)}));
    }
    for (const auto& [id, v] : fresh)
        if (!now.contains(id))
            lines.push_back(script_line({"reg", "delete", format_key_path({v.root, v.key}), to_utf8(v.value.name)}));
    std::erase(lines, std::string());
    return lines;
}

bool SessionRecorder::open(const std::filesystem::path& file, LineOutput::Report report, std::string& error) {
    out_ = LineOutput::create(file, std::move(report), error);
    if (!out_) error = "cannot write " + file.string() + ": " + error;
    return out_ != nullptr;
}

void SessionRecorder::begin(bool quillon_starts) {
    const std::string model = has_device() ? device().model() : "skt";
    line("# A session of the phone, recorded with --record. Replay it on a new device:");
    line("#   quillon --headless --no-start --model " + model + " --device NEW_FOLDER --script THIS_FILE");
    line("# The device's registry as it differed from a new one when the session began:");
    for (const std::string& difference : registry_differences()) line(difference);
    if (quillon_starts) line("start");
    last_ms_ = handset::clock().now_ms();
}

void SessionRecorder::key(BYTE vk) {
    std::string name;
    for (const PhoneKey& k : phone_keys())
        if (k.vk == vk && !k.press.empty()) name = std::string(k.press);
    wait_until_now();
    line("press " + (name.empty() ? "vk:" + std::to_string(vk) : name));
}

void SessionRecorder::command(const std::string& text) {
    const ParsedLine parsed = parse_line(text, 1);
    if (!parsed.command || std::holds_alternative<cmd::Wait>(*parsed.command)) return;
    wait_until_now();
    line(text);
}

void SessionRecorder::end() { wait_until_now(); }

void SessionRecorder::wait_until_now() {
    const long long now = handset::clock().now_ms();
    if (now > last_ms_) line("wait " + std::to_string(now - last_ms_) + "ms");
    last_ms_ = std::max(now, last_ms_);
}

void SessionRecorder::line(const std::string& text) {
    if (out_) out_->write(text + "\n");
}

}  // namespace frontends
