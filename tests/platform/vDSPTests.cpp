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

TEST(vDSP, MaxviGivesTheSignedMaximumAndItsFirstIndex) {
    const float a[] = {-3, -0.5f, -7, -0.5f, -9, 4};
    float c = 0;
    vDSP_Length i = 99;
    vDSP_maxvi(a, 1, &c, &i, 5);
    EXPECT_EQ(c, -0.5f);  // not the largest magnitude
    EXPECT_EQ(i, 1u);
    vDSP_maxvi(a, 2, &c, &i, 3);  // -3, -7, -9
    EXPECT_EQ(c, -3);
    EXPECT_EQ(i, 0u);
    vDSP_maxvi(a + 1, 2, &c, &i, 3);  // -0.5, -0.5, 4: the index counts elements of A
    EXPECT_EQ(c, 4);
    EXPECT_EQ(i, 4u);
    vDSP_maxvi(a, 1, &c, &i, 0);
    EXPECT_TRUE(std::isinf(c) && c < 0);
    EXPECT_EQ(i, 0u);
}

TEST(vDSP, HannWindowIsPeriodicScaledAndHalvable) {
    struct Case {
        int flag;
        double w;
        size_t points;
    };
    for (const Case& k : {Case{vDSP_HANN_NORM, 0.8165, 7}, Case{vDSP_HANN_DENORM, 0.5, 7},
                          Case{vDSP_HANN_NORM | vDSP_HALF_WINDOW, 0.8165, 4}, Case{vDSP_HALF_WINDOW, 0.5, 4}}) {
        std::vector<float> c(8, -1);
        vDSP_hann_window(c.data(), 7, k.flag);
        for (size_t n = 0; n < 8; ++n) {
            const float expected = n < k.points ? float(k.w * (1 - std::cos(2 * M_PI * double(n) / 7))) : -1.0f;
            EXPECT_FLOAT_EQ(c[n], expected) << "flag " << k.flag << " n " << n;
        }
    }
}

TEST(vDSP, ComplexProductsAndMagnitudes) {
    float re[] = {1, 0, 3}, im[] = {2, -1, -4};
    DSPSplitComplex a{re, im};
    float sr = 0.5f, si = 2;
    DSPSplitComplex s{&sr, &si};
    float outRe[3], outIm[3], mags[3];
    DSPSplitComplex out{outRe, outIm};
    vDSP_zvzsml(&a, 1, &s, &out, 1, 3);
    // (1+2i)(0.5+2i) = -3.5+3i; (-i)(0.5+2i) = 2-0.5i; (3-4i)(0.5+2i) = 9.5+4i.
    const float wantRe[] = {-3.5f, 2, 9.5f}, wantIm[] = {3, -0.5f, 4};
    vDSP_zvmags(&a, 1, mags, 1, 3);
    const float wantMags[] = {5, 1, 25};
    for (int n = 0; n < 3; ++n) {
        EXPECT_FLOAT_EQ(outRe[n], wantRe[n]);
        EXPECT_FLOAT_EQ(outIm[n], wantIm[n]);
        EXPECT_FLOAT_EQ(mags[n], wantMags[n]);
    }
    const float x[] = {1, -2, 3, -4}, y[] = {2, 2, 0.5f, -1};
    float z[4];
    vDSP_vmul(x, 1, y, 1, z, 1, 4);
    EXPECT_EQ(std::vector<float>(z, z + 4), (std::vector<float>{2, -4, 1.5f, 4}));
    const float three = 3;
    vDSP_vsmul(x, 2, &three, z, 1, 2);
    EXPECT_EQ(z[0], 3);
    EXPECT_EQ(z[1], 9);
}

// The packed forward real FFT against a direct DFT, for several sizes and one set-up reused.
TEST(vDSP, RealFFTMatchesTheDirectTransformInThePackedLayout) {
    FFTSetup setup = vDSP_create_fftsetup(10, kFFTRadix2);
    ASSERT_NE(setup, nullptr);
    for (vDSP_Length log2n : {1ul, 3ul, 6ul, 10ul}) {
        const size_t n = size_t(1) << log2n, h = n / 2;
        std::vector<float> x(n);
        for (size_t i = 0; i < n; ++i) x[i] = float(std::sin(0.37 * double(i * i)) + 0.25 * double(i % 3));
        std::vector<float> re(h), im(h);
        DSPSplitComplex packed{re.data(), im.data()};
        vDSP_ctoz(reinterpret_cast<const DSPComplex*>(x.data()), 2, &packed, 1, h);
        EXPECT_EQ(re[0], x[0]);
        EXPECT_EQ(im[0], x[1]);
        vDSP_fft_zrip(setup, &packed, 1, log2n, kFFTDirection_Forward);
        auto dft = [&](size_t k) {
            double r = 0, i = 0;
            for (size_t t = 0; t < n; ++t) {
                r += x[t] * std::cos(2 * M_PI * double(k * t) / double(n));
                i -= x[t] * std::sin(2 * M_PI * double(k * t) / double(n));
            }
            return std::pair{r, i};
        };
        const double tolerance = 1e-4 * double(n);
        EXPECT_NEAR(re[0], 2 * dft(0).first, tolerance) << n;
        EXPECT_NEAR(im[0], 2 * dft(h).first, tolerance) << n;
        for (size_t k = 1; k < h; ++k) {
            EXPECT_NEAR(re[k], 2 * dft(k).first, tolerance) << n << " bin " << k;
            EXPECT_NEAR(im[k], 2 * dft(k).second, tolerance) << n << " bin " << k;
        }
    }
    vDSP_destroy_fftsetup(setup);
    EXPECT_EQ(vDSP_create_fftsetup(25, kFFTRadix2), nullptr);
    EXPECT_EQ(vDSP_create_fftsetup(4, 1), nullptr);
}
