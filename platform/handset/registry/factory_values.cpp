// The factory values of the handset's registry (see factory_values.h).
//
// The phone-book entry's data are opaque to everything on the handset except the
// dialler: a device-configuration record ("DevCfg") and a dial-up entry ("Entry").
// They are built here field by field in the dialler's little-endian layout so that
// they look like what the handset ships with and are the same on every device.
#include "platform/handset/registry/factory_values.h"

#include "platform/handset/registry/state_values.h"

namespace handset {
namespace {

class Record {
public:
    Record& u8(std::uint8_t v) {
        bytes_.push_back(v);
        return *this;
    }
    Record& u16(std::uint16_t v) { return u8(static_cast<std::uint8_t>(v)).u8(static_cast<std::uint8_t>(v >> 8)); }
    Record& u32(std::uint32_t v) { return u16(static_cast<std::uint16_t>(v)).u16(static_cast<std::uint16_t>(v >> 16)); }
    // A fixed-size UTF-16 field, padded with terminators.
    Record& text(std::u16string_view s, std::size_t units) {
        for (std::size_t i = 0; i < units; ++i) u16(i < s.size() ? s[i] : u'\0');
        return *this;
    }
    Bytes take() { return std::move(bytes_); }

private:
    Bytes bytes_;
};

// Modem settings of the packet-data line: version, timers, 115200 baud, 8N1.
Bytes dev_cfg(std::uint16_t carrier_tag) {
    return Record()
        .u16(0x0010)   // record version
        .u16(0)        // dial-tone wait
        .u32(180)      // call set-up timeout, seconds
        .u32(0x0000000C)  // modem options: flow control
        .u32(115200)   // line speed
        .u16(0x0001)   // options
        .u8(8).u8(0).u8(0).u8(0)  // data bits, stop bits, parity, reserved
        .u32(0)        // idle disconnect: never
        .u16(carrier_tag)
        .u16(0)
        .text(u"Cellular Line", 16)
        .take();
}

// Dial-up entry: size, options, Korea's country id and code, the packet-data number.
Bytes entry(std::u16string_view number) {
    Record r;
    r.u32(56)  // entry size
        .u32(0x00000310)  // options: software compression, IP header compression, remote default gateway
        .u32(82)          // country id
        .u32(82)          // country code
        .text(u"", 4)     // area code
        .text(number, 12)
        .u32(0x00000001)  // frame protocol: PPP
        .u32(0x00000004);  // network protocols: IP
    return r.take();
}

RegKeyPath hkcu(std::u16string path) { return {RegRoot::CurrentUser, std::move(path)}; }

}  // namespace

RegStatus write_factory_registry(RegistryStore& store, std::string_view model, bool unread_sms_in_hklm) {
    const auto set = [](const StateValue& v, DWORD type, Bytes data) {
        return RegOp::set_value(v.key_path(), v.name, type, std::move(data));
    };
    std::vector<RegOp> ops = {
        set(kMissedCallCount, REG_DWORD, dword_bytes(0)),   set(unread_sms_in_hklm ? kUnreadSmsCountHklm : kUnreadSmsCount, REG_DWORD, dword_bytes(0)),
        set(kActiveCallCount, REG_DWORD, dword_bytes(0)),   set(kActiveProfile, REG_SZ, sz_bytes(u"Normal")),
        set(kKeypadLock, REG_DWORD, dword_bytes(0)),
    };
    for (const PowerTimeoutValue& v : kPowerTimeouts)
        ops.push_back(RegOp::set_value({RegRoot::LocalMachine, kPowerTimeoutsKey}, v.name, REG_DWORD, dword_bytes(v.factory)));
    if (model == "skt" || model == "ktf") {
        const bool skt = model == "skt";
        const RegKeyPath key = hkcu(kCarrierEntries[skt ? 0 : 1].key);
        ops.push_back(RegOp::set_value(key, kEntryValueNames[0], REG_BINARY, dev_cfg(skt ? 0x0001 : 0x0002)));
        ops.push_back(RegOp::set_value(key, kEntryValueNames[1], REG_BINARY, entry(skt ? u"*98#" : u"*99***1#")));
    } else if (model != "none") {
        return RegStatus::Invalid;
    }
    return store.apply(ops, Notify::Quiet);
}

}  // namespace handset
