#include "platform/detail/SharedLibraries.h"

#include "platform/foundation/OSLog.h"

#include <dlfcn.h>

namespace platform::detail {

SharedLibraryLoader::SharedLibraryLoader(const SharedLibraries& libraries) : libraries_(libraries) {
    for (const char* soname : libraries_.sonames) {
        void* handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* text = dlerror();
            failure_ = text ? std::string(text) : std::string(soname);
            return;
        }
        handles_.push_back(handle);
    }
}

void* SharedLibraryLoader::symbol(size_t library, const char* name) {
    if (!failure_.empty()) return nullptr;
    dlerror();
    void* found = dlsym(handles_.at(library), name);
    if (!found) failure_ = std::string(libraries_.sonames[library]) + " has no function " + name;
    return found;
}

void failToLoad(const char* name, const std::string& failure, OSStatus status) {
    throw NSErrorException(makeOSStatusError(status, std::string(name) + " cannot be loaded: " + failure + "."));
}

std::string SharedLibraryLoader::finish() const {
    if (!failure_.empty())
        os_log(OSLog{"platform", libraries_.name}, OSLogType::error,
               std::string(libraries_.name) + " cannot be loaded: " + failure_ + ". " + libraries_.without);
    return failure_;
}

}  // namespace platform::detail
