#include "platform/foundation/NSError.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(NSError, ThrownErrorCarriesDomainCodeAndDescription) {
    try {
        throw NSErrorException(makeOSStatusError(-43, "The file was not found."));
    } catch (const NSErrorException& e) {
        EXPECT_EQ(e.error().domain, NSOSStatusErrorDomain);
        EXPECT_EQ(e.error().code, -43);
        EXPECT_EQ(e.error().localizedDescription, "The file was not found.");
        EXPECT_STREQ(e.what(), "Error Domain=NSOSStatusErrorDomain Code=-43 \"The file was not found.\"");
    }
}

TEST(NSError, FourCharCodesPrintAsTextOrNumber) {
    EXPECT_EQ(fourCharCodeString(0x74797020 /* 'typ ' */), "typ ");
    EXPECT_EQ(fourCharCodeString(static_cast<uint32_t>(-50)), "-50");
}
