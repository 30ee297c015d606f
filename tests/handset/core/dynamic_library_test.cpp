// Host libraries opened at run time: a library the host lacks is no library, and the
// functions a service declares resolve all together or the set is reported incomplete.
#include <gtest/gtest.h>

#include <cstddef>

#include "platform/handset/core/dynamic_library.h"

namespace {

struct Strings : handset::LibraryFunctions {
    handset::LibraryFunction<std::size_t(const char*)> length{*this, "strlen"};
    handset::LibraryFunction<int(const char*, const char*)> compare{*this, "strcmp"};
};

struct StringsAndMore : Strings {
    handset::LibraryFunction<int(int)> absent{*this, "quillon_absent_function"};
};

TEST(DynamicLibrary, ResolvesEveryFunctionOrReportsTheSetIncomplete) {
    EXPECT_EQ(handset::open_library("libquillon-absent.so.0"), nullptr);
    void* libc = handset::open_library("libc.so.6");
    ASSERT_NE(libc, nullptr);

    Strings strings;
    ASSERT_TRUE(strings.resolve_in(libc));
    EXPECT_EQ(strings.length("quillon"), 7u);
    EXPECT_LT(strings.compare("a", "b"), 0);

    StringsAndMore more;
    EXPECT_FALSE(more.resolve_in(libc));
}

}  // namespace
