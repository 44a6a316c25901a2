#include "platform/accelerate/vDSP.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace platform;

TEST(vDSP, RmsAndPeakMagnitudeHonourTheStride) {
    // Interleaved pairs: the left channel is 3, -4, 3, -4; the right is 100s that a stride of 2 skips.
    const float a[] = {3, 100, -4, 100, 3, 100, -4, 100};
    float rms = -1, peak = -1;
    vDSP_rmsqv(a, 2, &rms, 4);
    vDSP_maxmgv(a, 2, &peak, 4);
    EXPECT_FLOAT_EQ(rms, std::sqrt(12.5f));
    EXPECT_FLOAT_EQ(peak, 4);
    vDSP_maxmgv(a, 1, &peak, 8);
    EXPECT_FLOAT_EQ(peak, 100);
    vDSP_rmsqv(a, 1, &rms, 0);
    vDSP_maxmgv(a, 1, &peak, 0);
    EXPECT_EQ(rms, 0);
    EXPECT_EQ(peak, 0);
}

TEST(vDSP, DesampFiltersAndDecimates) {
    std::vector<float> a(20);
    for (size_t i = 0; i < a.size(); ++i) a[i] = float(i);
    const float f[] = {0.25f, 0.5f, 0.25f};
    float c[6];
    vDSP_desamp(a.data(), 3, f, c, 6, 3);
    // C[n] = 0.25*A[3n] + 0.5*A[3n+1] + 0.25*A[3n+2] = 3n + 1.
    for (int n = 0; n < 6; ++n) EXPECT_FLOAT_EQ(c[n], float(3 * n + 1)) << n;

    DSPSplitComplex split{a.data(), a.data() + 10};
    EXPECT_EQ(split.imagp - split.realp, 10);
}

TEST(vDSP, VintbBlendsTowardTheSecondVectorHonouringTheStrides) {
    const float a[] = {0, 99, 10, 99, -4, 99};
    const float b[] = {2, 20, 0};
    float d[6] = {7, 7, 7, 7, 7, 7};
    for (const float t : {0.0f, 0.25f, 1.0f}) {
        vDSP_vintb(a, 2, b, 1, &t, d, 2, 3);
        for (int n = 0; n < 3; ++n) EXPECT_EQ(d[2 * n], a[2 * n] + t * (b[n] - a[2 * n])) << t << " " << n;
        for (int n = 0; n < 3; ++n) EXPECT_EQ(d[2 * n + 1], 7.0f) << "the stride skips every other output";
    }
    EXPECT_EQ(d[0], 2.0f);
    EXPECT_EQ(d[4], 0.0f);
}
