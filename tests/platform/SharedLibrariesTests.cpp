// Libraries loaded on first use: what a lookup finds, and what a failure leaves.
#include "platform/detail/SharedLibraries.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using platform::detail::LoadedLibraries;
using platform::detail::loadOnce;
using platform::detail::SharedLibraries;
using platform::detail::SharedLibraryLoader;

TEST(SharedLibraries, TheFirstFailureNamesTheLibraryAndStopsEveryLookup) {
    const struct {
        std::vector<const char*> sonames;
        std::vector<const char*> functions;  // looked up in the last library, in this order
        std::string failure;                 // what the failure starts with; empty: none
    } cases[] = {
        {{"libc.so.6"}, {"strlen", "abs"}, ""},
        {{"libc.so.6"}, {"strlen", "tamberlo_no_such_function", "abs"}, "libc.so.6 has no function tamberlo_no_such_function"},
        {{"libtamberlo-no-such-library.so.1", "libc.so.6"}, {"strlen"}, "libtamberlo-no-such-library.so.1"},
    };
    for (const auto& c : cases) {
        const SharedLibraries libraries{"Test", c.sonames, "Nothing fails without it."};
        SharedLibraryLoader loader(libraries);
        bool failed = false;
        for (const char* name : c.functions) {
            void (*function)() = nullptr;
            loader.find(function, c.sonames.size() - 1, name);
            failed = failed || !function;
            EXPECT_EQ(function == nullptr, failed) << name << ": lookups after a failure find nothing";
        }
        const std::string failure = loader.finish();
        EXPECT_EQ(failure.rfind(c.failure, 0), 0u) << failure;
        EXPECT_EQ(failure.empty(), c.failure.empty()) << failure;
    }
}

namespace {

int readyCalls = 0;

struct Complete {
    decltype(&::strlen) strlen = nullptr;
};

struct Incomplete {
    decltype(&::strlen) strlen = nullptr;
    int (*missing)(int) = nullptr;
};

constexpr const char* kLibc[] = {"libc.so.6"};
constexpr SharedLibraries kTest{"Test", kLibc, "Nothing fails without it."};

}  // namespace

TEST(SharedLibraries, ATableLoadsOnceAndStaysEmptyWhenAnythingIsMissing) {
    readyCalls = 0;
    const auto resolveComplete = [](SharedLibraryLoader& loader, Complete& table) { loader.find(table.strlen, 0, "strlen"); };
    const auto countReady = [](const Complete&) { ++readyCalls; };
    const LoadedLibraries<Complete>& complete = loadOnce<Complete>(kTest, resolveComplete, countReady);
    EXPECT_EQ(&loadOnce<Complete>(kTest, resolveComplete, countReady), &complete);
    EXPECT_EQ(readyCalls, 1);
    ASSERT_NE(complete.get(), nullptr);
    EXPECT_EQ(complete.get()->strlen("four"), 4u);

    const auto resolveIncomplete = [](SharedLibraryLoader& loader, Incomplete& table) {
        loader.find(table.strlen, 0, "strlen");
        loader.find(table.missing, 0, "tamberlo_no_such_function");
    };
    const LoadedLibraries<Incomplete>& incomplete =
        loadOnce<Incomplete>(kTest, resolveIncomplete, [](const Incomplete&) { ++readyCalls; });
    std::string why;
    EXPECT_EQ(incomplete.get(&why), nullptr);
    EXPECT_EQ(why, "libc.so.6 has no function tamberlo_no_such_function");
    EXPECT_EQ(incomplete.table.strlen, nullptr) << "what was found is not handed out either";
    EXPECT_EQ(readyCalls, 1);
}
