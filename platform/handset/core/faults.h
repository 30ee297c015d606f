// Fault injection: named platform operations that a script can make fail.
//
// A fault point is "SERVICE OPERATION", for example "registry write" or
// "power msgqueue". Services ask active() at the moment they would do the
// operation; a script switches points on and off with the `fault` command.
// Reads are lock-free so that the check costs nothing on hot paths.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace handset {

enum class Fault {
    RegistryWrite,    // registry write
    ShellMenuBar,     // shell menubar   (SHCreateMenuBar)
    ShellCommandBar,  // shell commandbar (CCommandBar::Create / InsertMenuBar)
    PowerMsgQueue,    // power msgqueue  (CreateMsgQueue)
    PowerNotify,      // power notify    (RequestPowerNotifications)
    KernelEvent,      // kernel event    (CreateEvent)
    KernelThread,     // kernel thread   (CreateThread)
    KernelMutex,      // kernel mutex    (CreateMutex)
    ProcessStart,     // process start   (ShellExecuteEx)
    ShellShortcut,    // shell shortcut  (SHCreateShortcut)
    StorageFull,      // storage full    (every registry change and shortcut, as on a full disk)
    Count
};

// Whether `f` fails now on the calling thread. Each call is one operation of the point:
// a point set to fail after N lets that many calls pass first.
bool fault_active(Fault f);
void set_fault(Fault f, bool on);
// Lets the next `passes` operations of `f` through, then fails every one after them.
void set_fault_after(Fault f, int passes);
void clear_faults();

// While one lives on a thread, no fault point fails on that thread. The emulator's own
// changes to the phone (a script storing a missed-call count) go through the same calls
// as the program, and a fault is meant for the program alone. Nests.
class FaultExemption {
public:
    FaultExemption();
    ~FaultExemption();
    FaultExemption(const FaultExemption&) = delete;
    FaultExemption& operator=(const FaultExemption&) = delete;
};

// Parses "SERVICE OPERATION" (e.g. "registry", "write"); false when unknown.
bool parse_fault(std::string_view service, std::string_view operation, Fault& out);
// The point's name as scripts spell it, "service operation".
std::string fault_name(Fault f);
// The names of every fault point, "service operation", for help texts and errors.
std::vector<std::string> fault_names();

}  // namespace handset
