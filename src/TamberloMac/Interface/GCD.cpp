#include "TamberloMac/Interface/GCD.h"

#include "platform/dispatch/DispatchQueue.h"

namespace tamberlo {

using platform::DispatchQueue;

namespace {
void runIfSet(const GCDBlock& block) {
    if (block) block();
}
}  // namespace

void GCDAsyncMain(GCDBlock block) {
    DispatchQueue::main().async([block = std::move(block)] { runIfSet(block); });
}

void GCDAfterMain(GCDBlock block, double seconds) {
    DispatchQueue::main().asyncAfter(seconds, [block = std::move(block)] { runIfSet(block); });
}

void GCDAsyncGlobal(GCDBlock block) {
    DispatchQueue::global().async([block = std::move(block)] { runIfSet(block); });
}

void GCDAfterGlobal(GCDBlock block, double seconds) {
    DispatchQueue::global().asyncAfter(seconds, [block = std::move(block)] { runIfSet(block); });
}

void GCDAsyncGlobalThenGlobal(GCDBlock first, GCDBlock second) {
    DispatchQueue::global().async([first = std::move(first), second = std::move(second)] {
        runIfSet(first);
        GCDAsyncGlobal(second);
    });
}

void GCDAsyncGlobalThenMain(GCDBlock first, GCDBlock second) {
    DispatchQueue::global().async([first = std::move(first), second = std::move(second)] {
        runIfSet(first);
        GCDAsyncMain(second);
    });
}

}  // namespace tamberlo
