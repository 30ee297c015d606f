// The conformance harness: cases over the platform API, written once against
// platform/windows.h and platform/afxwin.h, compiled for the handset (GoogleTest) and for
// Win32 (a console program run under Wine). Each case fills a Check; both sides print
// one line per case, "name<TAB>outcome<TAB>note", which tools/conformance sets side by side.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/windows.h"

namespace conformance {

// UTF-16 text of the platform as UTF-8, for the outcome lines.
std::string utf8(WStringView text);

// Collects what a case observed. The outcome is "ok" when every comparison held, else
// the first one that did not, with what was seen and what the case expected.
class Check {
public:
    template <class A, class E>
    void eq(const char* what, const A& actual, const E& expected) {
        if (failed_) return;
        if (!same(actual, expected)) fail(what, show(actual), show(expected));
        ++comparisons_;
    }
    void is(const char* what, bool holds) { eq(what, holds, true); }

    bool holds() const { return !failed_ && comparisons_ > 0; }
    std::string outcome() const;
    // Ends the case with this failure (for exceptions and set-up that went wrong).
    void fail(const std::string& what, const std::string& actual, const std::string& expected);

private:
    // Integers compare by value whatever their signedness (DWORD results, LONG codes).
    template <class A, class E>
    static bool same(const A& a, const E& e) {
        if constexpr (std::is_integral_v<A> && std::is_integral_v<E> && !std::is_same_v<A, bool>)
            return std::cmp_equal(a, e);
        else
            return a == e;
    }
    template <class T>
    static std::string show(const T& v) {
        if constexpr (std::is_same_v<T, bool>) return v ? "true" : "false";
        else if constexpr (std::is_convertible_v<const T&, WStringView>) return "\"" + utf8(WStringView(v)) + "\"";
        else if constexpr (std::is_convertible_v<const T&, std::string>) return "\"" + std::string(v) + "\"";
        else if constexpr (std::is_pointer_v<T>) return v ? "handle" : "null";
        else if constexpr (requires { describe(v); }) return describe(v);
        else if constexpr (std::is_enum_v<T>) return std::to_string(static_cast<long long>(v));
        else if constexpr (std::is_signed_v<T>) return std::to_string(static_cast<long long>(v));
        else if constexpr (std::is_unsigned_v<T>) return std::to_string(static_cast<unsigned long long>(v));
        else return show_sequence(v);
    }
    template <class Seq>
    static std::string show_sequence(const Seq& seq) {
        std::string out = "[";
        for (const auto& item : seq) out += (out.size() > 1 ? " " : "") + show(item);
        return out + "]";
    }

    bool failed_ = false;
    int comparisons_ = 0;
    std::string outcome_;
};

// One case: `calls` names the platform calls it exercises (a call routed through a
// Phone* function on Win32 is named by that function too). A phone-only case states the
// phone's behaviour; `phone_only` gives the documented reason the desktop differs.
struct Case {
    std::string name;
    const char* calls;
    std::function<void(Check&)> run;
    const char* phone_only = nullptr;
};

struct Table {
    const char* name;
    std::vector<Case> cases;
};

Table registry_table();
Table kernel_table();
Table window_table();
Table dialog_table();
Table layout_table();
Table file_table();

// Every table, in the order both sides print them.
std::vector<Table> all_tables();

struct Result {
    std::string name;  // "table.case"
    std::string outcome;
    bool holds = false;
    const char* phone_only = nullptr;
};

// Runs one case, turning an escaped exception into its failure.
Result run_case(const Table& table, const Case& c);
// The line both sides print for a result.
std::string line_of(const Result& r);

}  // namespace conformance
