// A binary that names no kernel class: the library's kernels must still be there.
#include "SonoraEX/Kernels/KernelBridge.h"
#include "SonoraEX/Node+SonoraAU.h"

#include <gtest/gtest.h>

TEST(KernelRegistry, KernelsResolveInABinaryThatNamesNone) {
    sonora::DSPBase* kernel = sonora::akCreateDSPForSubtype(platform::FourCC("fder"));
    ASSERT_NE(kernel, nullptr);
    EXPECT_TRUE(sonora::akDSPCanProcessInPlace(kernel));
    sonora::akDSPDelete(kernel);
    EXPECT_NE(sonora::instantiateEffect("sflm"), nullptr);
}
