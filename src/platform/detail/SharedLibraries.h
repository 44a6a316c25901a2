// Libraries a part of the platform layer loads when it first needs them, rather than every program
// at start-up: opened by their run-time names, their functions looked up into a table of typed
// pointers, once per process. Where a library cannot be opened or lacks a function the table stays
// empty, and the reason (naming the library) is logged once and kept for the callers' errors.
#pragma once

#include "platform/foundation/NSError.h"

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace platform::detail {

// Libraries loaded together.
struct SharedLibraries {
    const char* name;                      // what they are, for messages: "FFmpeg"
    std::span<const char* const> sonames;  // opened in this order, each after those it needs
    const char* without;                   // what cannot be done without them, for the log line
};

// Opens a set's libraries (RTLD_NOW | RTLD_LOCAL, stopping at the first that fails) and finds
// functions in them. The first failure is kept; every lookup after it finds nothing. Whatever was
// opened stays loaded for the rest of the process, even after a failure: unloading a library that
// has set itself up would strand what it allocated.
class SharedLibraryLoader {
public:
    explicit SharedLibraryLoader(const SharedLibraries& libraries);

    // Sets `pointer` to function `name` of the set's library number `library`; null after a failure.
    template <class Function>
    void find(Function& pointer, size_t library, const char* name) {
        pointer = reinterpret_cast<Function>(symbol(library, name));
    }

    // Empty when everything was found; otherwise the failure, which is logged here.
    std::string finish() const;

private:
    void* symbol(size_t library, const char* name);

    const SharedLibraries& libraries_;
    std::vector<void*> handles_;
    std::string failure_;
};

// Throws NSErrorException with `status`: "<name> cannot be loaded: <failure>."
[[noreturn]] void failToLoad(const char* name, const std::string& failure, OSStatus status);

template <class Table>
struct LoadedLibraries {
    const char* name = "";  // the set's, for messages
    Table table;            // all null unless everything loaded
    std::string failure;    // empty once loaded; otherwise why not, naming the library

    // The table, or nullptr with the reason in `why`.
    const Table* get(std::string* why = nullptr) const {
        if (failure.empty()) return &table;
        if (why) *why = failure;
        return nullptr;
    }

    // The table, for code that holds the libraries' objects and so runs only after get() gave it;
    // throws NSErrorException with `status` and the reason when they cannot be loaded.
    const Table& require(OSStatus status) const {
        if (!failure.empty()) failToLoad(name, failure, status);
        return table;
    }
};

// The table of `libraries`, loaded on the first call (once per process, from any thread; one table
// type per set): `resolve` fills it through the loader, and `ready` runs once on a complete table.
template <class Table>
const LoadedLibraries<Table>& loadOnce(const SharedLibraries& libraries, void (*resolve)(SharedLibraryLoader&, Table&),
                                       void (*ready)(const Table&) = nullptr) {
    static const LoadedLibraries<Table> loaded = [&] {
        LoadedLibraries<Table> result;
        result.name = libraries.name;
        SharedLibraryLoader loader(libraries);
        resolve(loader, result.table);
        result.failure = loader.finish();
        if (!result.failure.empty()) result.table = {};
        else if (ready) ready(result.table);
        return result;
    }();
    return loaded;
}

}  // namespace platform::detail
