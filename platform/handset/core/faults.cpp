// Fault points and their names as scripts spell them.
#include "platform/handset/core/faults.h"

#include <array>
#include <atomic>
#include <cassert>

namespace handset {
namespace {

struct FaultName {
    Fault fault;
    std::string_view service;
    std::string_view operation;
};

constexpr std::array<FaultName, static_cast<std::size_t>(Fault::Count)> kNames{{
    {Fault::RegistryWrite, "registry", "write"},
    {Fault::ShellMenuBar, "shell", "menubar"},
    {Fault::ShellCommandBar, "shell", "commandbar"},
    {Fault::PowerMsgQueue, "power", "msgqueue"},
    {Fault::PowerNotify, "power", "notify"},
    {Fault::KernelEvent, "kernel", "event"},
    {Fault::KernelThread, "kernel", "thread"},
    {Fault::KernelMutex, "kernel", "mutex"},
    {Fault::ProcessStart, "process", "start"},
    {Fault::ShellShortcut, "shell", "shortcut"},
    {Fault::StorageFull, "storage", "full"},
}};

std::array<std::atomic<bool>, static_cast<std::size_t>(Fault::Count)> g_active{};
// Operations still to let through before an active point fails.
std::array<std::atomic<int>, static_cast<std::size_t>(Fault::Count)> g_passes{};
thread_local int t_exemptions = 0;

}  // namespace

bool fault_active(Fault f) {
    const auto i = static_cast<std::size_t>(f);
    if (!g_active[i].load(std::memory_order_relaxed) || t_exemptions != 0) return false;
    int passes = g_passes[i].load(std::memory_order_relaxed);
    while (passes > 0)
        if (g_passes[i].compare_exchange_weak(passes, passes - 1, std::memory_order_relaxed)) return false;
    return true;
}

FaultExemption::FaultExemption() { ++t_exemptions; }

FaultExemption::~FaultExemption() {
    assert(t_exemptions > 0);
    --t_exemptions;
}

void set_fault(Fault f, bool on) {
    g_passes[static_cast<std::size_t>(f)].store(0, std::memory_order_relaxed);
    g_active[static_cast<std::size_t>(f)].store(on, std::memory_order_relaxed);
}

void set_fault_after(Fault f, int passes) {
    assert(passes >= 0);
    g_passes[static_cast<std::size_t>(f)].store(passes, std::memory_order_relaxed);
    g_active[static_cast<std::size_t>(f)].store(true, std::memory_order_relaxed);
}

void clear_faults() {
    for (auto& a : g_active) a.store(false, std::memory_order_relaxed);
    for (auto& p : g_passes) p.store(0, std::memory_order_relaxed);
}

bool parse_fault(std::string_view service, std::string_view operation, Fault& out) {
    for (const auto& n : kNames) {
        if (n.service == service && n.operation == operation) {
            out = n.fault;
            return true;
        }
    }
    return false;
}

std::string fault_name(Fault f) {
    const FaultName& n = kNames[static_cast<std::size_t>(f)];
    return std::string(n.service) + " " + std::string(n.operation);
}

std::vector<std::string> fault_names() {
    std::vector<std::string> names;
    for (const auto& n : kNames) names.push_back(std::string(n.service) + " " + std::string(n.operation));
    return names;
}

}  // namespace handset
