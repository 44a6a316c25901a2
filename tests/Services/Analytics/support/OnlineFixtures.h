// Fixed system facts (clock, UUIDs, machine) for the online services' tests, so that the records
// they send have the same bytes every run.
#pragma once

#include "platform/foundation/SystemFacts.h"

#include <string>

namespace onlinetest {

struct FixedFacts {
    double now = 1700000000.9;
    int uuids = 0;
    double bundleCreated = 1690000000.1234;
    double documentsCreated = 1680000000.5;

    FixedFacts();
    ~FixedFacts();
    FixedFacts(const FixedFacts&) = delete;
    FixedFacts& operator=(const FixedFacts&) = delete;
};

// "00000000-0000-0000-0000-00000000000<n>".
std::string fixedUUID(int n);

}  // namespace onlinetest
