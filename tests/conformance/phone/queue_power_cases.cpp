// Message queues and power notifications as their reference pages give them.
#include <cstddef>
#include <cstring>
#include <vector>

#include "phone.h"
#include "platform/handset/core/clock.h"
#include "platform/handset/power/power.h"

namespace phone_conformance {
namespace {

MSGQUEUEOPTIONS options(BOOL read, DWORD flags = 0, DWORD max_messages = 4, DWORD max_size = 64) {
    return {sizeof(MSGQUEUEOPTIONS), flags, max_messages, max_size, read};
}

// A named queue with one read and one write handle, closed at the end of a case.
struct QueuePair {
    explicit QueuePair(DWORD flags = 0, DWORD max_messages = 4) {
        MSGQUEUEOPTIONS r = options(TRUE, flags, max_messages), w = options(FALSE, flags, max_messages);
        reader = CreateMsgQueue(TEXT("phone-case"), &r);
        writer = CreateMsgQueue(TEXT("phone-case"), &w);
    }
    ~QueuePair() {
        if (reader) CloseMsgQueue(reader);
        if (writer) CloseMsgQueue(writer);
    }
    std::string write(DWORD size, DWORD timeout = 0) {
        std::vector<BYTE> bytes(size, 0x5A);
        return outcome(WriteMsgQueue(writer, bytes.data(), size, timeout, 0));
    }
    HANDLE reader = nullptr;
    HANDLE writer = nullptr;
};

std::string read_outcome(HANDLE queue, DWORD size, DWORD timeout = 0) {
    std::vector<BYTE> buffer(size ? size : 1);
    DWORD read = 0xDEAD, flags = 0xDEAD;
    const BOOL ok = ReadMsgQueue(queue, buffer.data(), size, &read, timeout, &flags);
    if (!ok && GetLastError() != ERROR_INSUFFICIENT_BUFFER) return outcome(ok);
    return outcome(ok) + ", " + std::to_string(read) + " bytes";
}

// The program's power queue: read access, room for a transition's longest name.
struct PowerQueue {
    PowerQueue() {
        MSGQUEUEOPTIONS o = options(TRUE, MSGQUEUE_NOPRECOMMIT, 8, 536);
        queue = CreateMsgQueue(nullptr, &o);
    }
    ~PowerQueue() {
        if (notifications) StopPowerNotifications(notifications);
        CloseMsgQueue(queue);
    }
    // The next message's type, Length and size; "empty" when there is none.
    struct Message {
        DWORD message = 0, flags = 0, length = 0, size = 0;
        std::vector<BYTE> body;
    };
    std::optional<Message> next() {
        std::vector<BYTE> buffer(536);
        DWORD size = 0, flags = 0;
        if (!ReadMsgQueue(queue, buffer.data(), 536, &size, 0, &flags)) return std::nullopt;
        POWER_BROADCAST header;
        std::memcpy(&header, buffer.data(), offsetof(POWER_BROADCAST, SystemPowerState));
        Message m{header.Message, header.Flags, header.Length, size, {}};
        const auto* body = buffer.data() + offsetof(POWER_BROADCAST, SystemPowerState);
        m.body.assign(body, body + std::min<std::size_t>(header.Length, size - offsetof(POWER_BROADCAST, SystemPowerState)));
        return m;
    }
    std::optional<Message> next_of(DWORD type) {
        while (auto m = next())
            if (m->message == type) return m;
        return std::nullopt;
    }
    HANDLE queue = nullptr;
    HANDLE notifications = nullptr;
};

}  // namespace

Group queue_group() {
    return {"queue",
            {
                // "MSGQUEUEOPTIONS": dwSize, dwFlags, dwMaxMessages, cbMaxMessage, bReadAccess.
                {"options_record", "20 bytes; NOPRECOMMIT 0x1, ALLOW_BROKEN 0x2, MSGALERT 0x1",
                 [] {
                     return std::to_string(sizeof(MSGQUEUEOPTIONS)) + " bytes; NOPRECOMMIT " + hex(MSGQUEUE_NOPRECOMMIT) +
                            ", ALLOW_BROKEN " + hex(MSGQUEUE_ALLOW_BROKEN) + ", MSGALERT " + hex(MSGQUEUE_MSGALERT);
                 }},
                // "CreateMsgQueue": dwFlags takes MSGQUEUE_NOPRECOMMIT and MSGQUEUE_ALLOW_BROKEN only.
                {"create_unknown_flags", "null 87",
                 [] {
                     MSGQUEUEOPTIONS o = options(TRUE, 0x4);
                     return handle_outcome(CreateMsgQueue(nullptr, &o));
                 }},
                // "CreateMsgQueue": dwSize must be the size of the record.
                {"create_wrong_size", "null 87",
                 [] {
                     MSGQUEUEOPTIONS o = options(TRUE);
                     o.dwSize = 8;
                     return handle_outcome(CreateMsgQueue(nullptr, &o));
                 }},
                // "CreateMsgQueue": opening a named queue that exists sets ERROR_ALREADY_EXISTS.
                {"create_existing_name", "handle, 183",
                 [] {
                     QueuePair pair;
                     return handle_outcome(pair.writer) + ", " + std::to_string(GetLastError());
                 }},
                // "ReadMsgQueue": a buffer too small gets ERROR_INSUFFICIENT_BUFFER; the
                // buffer's size is copied and the message is gone from the queue.
                {"read_short_buffer", "FALSE 122, 8 bytes; then FALSE 1460",
                 [] {
                     QueuePair pair;
                     pair.write(20);
                     const std::string first = read_outcome(pair.reader, 8);
                     return first + "; then " + read_outcome(pair.reader, 64);
                 }},
                // "ReadMsgQueue": an empty queue with a zero timeout gives ERROR_TIMEOUT.
                {"read_empty_timeout", "FALSE 1460",
                 [] {
                     QueuePair pair;
                     return read_outcome(pair.reader, 64);
                 }},
                // "ReadMsgQueue": ERROR_PIPE_NOT_CONNECTED when the queue has no writer and
                // was not made with MSGQUEUE_ALLOW_BROKEN.
                {"read_without_writer", "FALSE 233; ALLOW_BROKEN: FALSE 1460",
                 [] {
                     MSGQUEUEOPTIONS o = options(TRUE);
                     HANDLE lone = CreateMsgQueue(nullptr, &o);
                     const std::string plain = read_outcome(lone, 64);
                     CloseMsgQueue(lone);
                     o.dwFlags = MSGQUEUE_ALLOW_BROKEN;
                     lone = CreateMsgQueue(nullptr, &o);
                     const std::string broken = read_outcome(lone, 64);
                     CloseMsgQueue(lone);
                     return plain + "; ALLOW_BROKEN: " + broken;
                 }},
                // "ReadMsgQueue": the whole message when the buffer holds it.
                {"read_whole_message", "TRUE, 20 bytes", [] {
                     QueuePair pair;
                     pair.write(20);
                     return read_outcome(pair.reader, 64);
                 }},
                // "WriteMsgQueue": a message larger than cbMaxMessage gets ERROR_INSUFFICIENT_BUFFER.
                {"write_too_large", "FALSE 122", [] { return QueuePair().write(65); }},
                // "WriteMsgQueue": a full queue with a zero timeout gives ERROR_TIMEOUT.
                {"write_full_queue", "TRUE; FALSE 1460",
                 [] {
                     QueuePair pair(0, 1);
                     const std::string first = pair.write(4);
                     return first + "; " + pair.write(4);
                 }},
                // "WriteMsgQueue": ERROR_PIPE_NOT_CONNECTED when nobody reads the queue.
                {"write_without_reader", "FALSE 233",
                 [] {
                     MSGQUEUEOPTIONS o = options(FALSE);
                     HANDLE lone = CreateMsgQueue(nullptr, &o);
                     BYTE b[4]{};
                     const std::string r = outcome(WriteMsgQueue(lone, b, 4, 0, 0));
                     CloseMsgQueue(lone);
                     return r;
                 }},
                // "CreateMsgQueue": a read handle is signalled while the queue holds a message.
                {"read_handle_signalled", "258; 0",
                 [] {
                     QueuePair pair;
                     const DWORD empty = WaitForSingleObject(pair.reader, 0);
                     pair.write(4);
                     return std::to_string(empty) + "; " + std::to_string(WaitForSingleObject(pair.reader, 0));
                 }},
            }};
}

Group power_group() {
    return {"power",
            {
                // pm.h: the notification types.
                {"notification_types", "0x1 0x2 0x4 0x8 0xffffffff",
                 [] {
                     return hex(PBT_TRANSITION) + " " + hex(PBT_RESUME) + " " + hex(PBT_POWERSTATUSCHANGE) + " " +
                            hex(PBT_POWERINFOCHANGE) + " " + hex(POWER_NOTIFY_ALL);
                 }},
                // pm.h: the power-state flags.
                {"state_flags", "0x10000 0x20000 0x40000 0x80000 0x100000 0x200000 0x400000 0x800000 0x1000000 0x2000000 0x10000000",
                 [] {
                     std::string out;
                     for (DWORD f : {POWER_STATE_ON, POWER_STATE_OFF, POWER_STATE_CRITICAL, POWER_STATE_BOOT,
                                     POWER_STATE_IDLE, POWER_STATE_SUSPEND, POWER_STATE_UNATTENDED, POWER_STATE_RESET,
                                     POWER_STATE_USERIDLE, POWER_STATE_BACKLIGHTON, POWER_STATE_PASSWORD})
                         out += (out.empty() ? "" : " ") + hex(f);
                     return out;
                 }},
                // "POWER_BROADCAST_POWER_INFO": five DWORDs and five BYTEs.
                {"power_info_record", "28 bytes; bACLineStatus at 20",
                 [] {
                     return std::to_string(sizeof(POWER_BROADCAST_POWER_INFO)) + " bytes; bACLineStatus at " +
                            std::to_string(offsetof(POWER_BROADCAST_POWER_INFO, bACLineStatus));
                 }},
                // "RequestPowerNotifications": a null queue gives ERROR_INVALID_PARAMETER.
                {"request_null_queue", "null 87", [] { return handle_outcome(RequestPowerNotifications(nullptr, POWER_NOTIFY_ALL)); }},
                // "StopPowerNotifications": returns ERROR_SUCCESS for a registration.
                {"stop_registration", "0",
                 [] {
                     PowerQueue q;
                     HANDLE n = RequestPowerNotifications(q.queue, PBT_TRANSITION);
                     return std::to_string(StopPowerNotifications(n));
                 }},
                // "POWER_BROADCAST": for PBT_TRANSITION, Length is the byte count of the state
                // name with its terminator, and Flags the state's flags.
                {"transition_record", "Length 26, name backlightoff, Flags hold POWER_STATE_ON",
                 [] {
                     PowerQueue q;
                     q.notifications = RequestPowerNotifications(q.queue, PBT_TRANSITION);
                     handset::power_set_state(u"backlightoff");
                     const auto m = q.next_of(PBT_TRANSITION);
                     if (!m) return std::string("no transition");
                     std::u16string name(m->body.size() / 2, u'\0');
                     std::memcpy(name.data(), m->body.data(), name.size() * 2);
                     if (!name.empty() && name.back() == u'\0') name.pop_back();
                     std::string ascii(name.begin(), name.end());
                     return "Length " + std::to_string(m->length) + ", name " + ascii + ", Flags " + ((m->flags & POWER_STATE_ON) ? "hold" : "lack") + " POWER_STATE_ON";
                 }},
                // "POWER_BROADCAST": for PBT_POWERINFOCHANGE, SystemPowerState holds a
                // POWER_BROADCAST_POWER_INFO and Length is its size.
                {"power_info_change", "Length 28, AC 1, flag charging",
                 [] {
                     PowerQueue q;
                     q.notifications = RequestPowerNotifications(q.queue, PBT_POWERINFOCHANGE);
                     handset::set_charger(true);
                     const auto m = q.next_of(PBT_POWERINFOCHANGE);
                     handset::set_charger(false);
                     if (!m || m->body.size() < sizeof(POWER_BROADCAST_POWER_INFO)) return std::string("no power information");
                     POWER_BROADCAST_POWER_INFO info;
                     std::memcpy(&info, m->body.data(), sizeof info);
                     return "Length " + std::to_string(m->length) + ", AC " + std::to_string(info.bACLineStatus) +
                            ", flag " + ((info.bBatteryFlag & BATTERY_FLAG_CHARGING) ? "charging" : "not charging");
                 }},
                // "GetSystemPowerState": the name and its flags.
                {"get_state", "0, on, POWER_STATE_ON",
                 [] {
                     handset::power_button();
                     WCHAR name[32];
                     DWORD flags = 0;
                     const DWORD r = GetSystemPowerState(name, 32, &flags);
                     const std::u16string n(name);
                     return std::to_string(r) + ", " + std::string(n.begin(), n.end()) + ((flags & POWER_STATE_ON) ? ", POWER_STATE_ON" : ", no POWER_STATE_ON");
                 }},
            }};
}

}  // namespace phone_conformance
