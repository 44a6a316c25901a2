#include "platform/accelerate/vDSP.h"

#include <cmath>

namespace platform {

void vDSP_rmsqv(const float* A, vDSP_Stride IA, float* C, vDSP_Length N) {
    if (N == 0) {
        *C = 0;
        return;
    }
    // Summed in double so that long signals do not lose the quiet tail to rounding.
    double sum = 0;
    if (IA == 1) {
        // Four running sums instead of one: a single chain waits on every add, which made this
        // loop cost more than decoding the samples it measures (waveforms of long files).
        double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
        vDSP_Length n = 0;
        for (; n + 4 <= N; n += 4) {
            s0 += double(A[n]) * A[n];
            s1 += double(A[n + 1]) * A[n + 1];
            s2 += double(A[n + 2]) * A[n + 2];
            s3 += double(A[n + 3]) * A[n + 3];
        }
        for (; n < N; ++n) s0 += double(A[n]) * A[n];
        sum = (s0 + s1) + (s2 + s3);
    } else {
        for (vDSP_Length n = 0; n < N; ++n) sum += double(A[long(n) * IA]) * A[long(n) * IA];
    }
    *C = float(std::sqrt(sum / double(N)));
}

void vDSP_maxmgv(const float* A, vDSP_Stride IA, float* C, vDSP_Length N) {
    float peak = 0;
    if (IA == 1) {
        for (vDSP_Length n = 0; n < N; ++n) peak = std::fmax(peak, std::fabs(A[n]));
    } else {
        for (vDSP_Length n = 0; n < N; ++n) peak = std::fmax(peak, std::fabs(A[long(n) * IA]));
    }
    *C = peak;
}

void vDSP_desamp(const float* A, vDSP_Stride DF, const float* F, float* C, vDSP_Length N, vDSP_Length P) {
    for (vDSP_Length n = 0; n < N; ++n) {
        const float* a = A + long(n) * DF;
        float sum = 0;
        for (vDSP_Length p = 0; p < P; ++p) sum += a[p] * F[p];
        C[n] = sum;
    }
}

void vDSP_vintb(const float* A, vDSP_Stride IA, const float* B, vDSP_Stride IB, const float* C, float* D,
                vDSP_Stride ID, vDSP_Length N) {
    const float t = *C;
    for (vDSP_Length n = 0; n < N; ++n) {
        const float a = A[long(n) * IA];
        D[long(n) * ID] = a + t * (B[long(n) * IB] - a);
    }
}

}  // namespace platform

// ---------------------------------------------------------------------------------------------
// Maximum, windows, products and the real FFT.

#include <fftw3.h>

#include <array>
#include <limits>
#include <memory>
#include <mutex>

namespace platform {

void vDSP_maxvi(const float* A, vDSP_Stride IA, float* C, vDSP_Length* I, vDSP_Length N) {
    float best = -std::numeric_limits<float>::infinity();
    vDSP_Length at = 0;
    for (vDSP_Length n = 0; n < N; ++n) {
        const float v = A[long(n) * IA];
        if (v > best) {
            best = v;
            at = n * vDSP_Length(IA);
        }
    }
    *C = best;
    if (I) *I = at;
}

void vDSP_hann_window(float* C, vDSP_Length N, int Flag) {
    const double w = (Flag & vDSP_HANN_NORM) ? 0.8165 : 0.5;
    const vDSP_Length points = (Flag & vDSP_HALF_WINDOW) ? (N + 1) / 2 : N;
    for (vDSP_Length n = 0; n < points; ++n) C[n] = float(w * (1.0 - std::cos(2.0 * M_PI * double(n) / double(N))));
}

void vDSP_vmul(const float* A, vDSP_Stride IA, const float* B, vDSP_Stride IB, float* C, vDSP_Stride IC, vDSP_Length N) {
    if (IA == 1 && IB == 1 && IC == 1) {
        for (vDSP_Length n = 0; n < N; ++n) C[n] = A[n] * B[n];
        return;
    }
    for (vDSP_Length n = 0; n < N; ++n) C[long(n) * IC] = A[long(n) * IA] * B[long(n) * IB];
}

void vDSP_vsmul(const float* A, vDSP_Stride IA, const float* B, float* C, vDSP_Stride IC, vDSP_Length N) {
    const float b = *B;
    if (IA == 1 && IC == 1) {
        for (vDSP_Length n = 0; n < N; ++n) C[n] = A[n] * b;
        return;
    }
    for (vDSP_Length n = 0; n < N; ++n) C[long(n) * IC] = A[long(n) * IA] * b;
}

void vDSP_ctoz(const DSPComplex* C, vDSP_Stride IC, const DSPSplitComplex* Z, vDSP_Stride IZ, vDSP_Length N) {
    const float* in = reinterpret_cast<const float*>(C);
    for (vDSP_Length n = 0; n < N; ++n) {
        Z->realp[long(n) * IZ] = in[long(n) * IC];
        Z->imagp[long(n) * IZ] = in[long(n) * IC + 1];
    }
}

void vDSP_zvzsml(const DSPSplitComplex* A, vDSP_Stride IA, const DSPSplitComplex* B, const DSPSplitComplex* C,
                 vDSP_Stride IC, vDSP_Length N) {
    const float br = *B->realp, bi = *B->imagp;
    for (vDSP_Length n = 0; n < N; ++n) {
        const float ar = A->realp[long(n) * IA], ai = A->imagp[long(n) * IA];
        C->realp[long(n) * IC] = ar * br - ai * bi;
        C->imagp[long(n) * IC] = ar * bi + ai * br;
    }
}

void vDSP_zvmags(const DSPSplitComplex* A, vDSP_Stride IA, float* C, vDSP_Stride IC, vDSP_Length N) {
    for (vDSP_Length n = 0; n < N; ++n) {
        const float r = A->realp[long(n) * IA], i = A->imagp[long(n) * IA];
        C[long(n) * IC] = r * r + i * i;
    }
}

namespace {

constexpr vDSP_Length kMaximumLog2n = 24;

// FFTW's planner is not thread-safe: every plan is made under this mutex, once per size, with
// FFTW_ESTIMATE (no trial runs), and kept for the life of the process.
struct PlanCache {
    std::mutex mutex;
    std::array<fftwf_plan, kMaximumLog2n + 1> plans{};

    fftwf_plan plan(vDSP_Length log2n) {
        std::lock_guard lock(mutex);
        if (!plans[log2n]) {
            const int n = 1 << log2n;
            float* in = fftwf_alloc_real(size_t(n));
            fftwf_complex* out = fftwf_alloc_complex(size_t(n / 2 + 1));
            plans[log2n] = fftwf_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE);
            fftwf_free(in);
            fftwf_free(out);
        }
        return plans[log2n];
    }
};

PlanCache& planCache() {
    static PlanCache* cache = new PlanCache;  // outlives every static user
    return *cache;
}

// Scratch arrays of the calling thread, aligned as the plans were made.
struct Scratch {
    float* real = nullptr;
    fftwf_complex* spectrum = nullptr;
    size_t size = 0;
    ~Scratch() {
        fftwf_free(real);
        fftwf_free(spectrum);
    }
    void reserve(size_t n) {
        if (n <= size) return;
        fftwf_free(real);
        fftwf_free(spectrum);
        real = fftwf_alloc_real(n);
        spectrum = fftwf_alloc_complex(n / 2 + 1);
        size = n;
    }
};

}  // namespace

struct OpaqueFFTSetup {
    vDSP_Length log2n = 0;
    std::array<fftwf_plan, kMaximumLog2n + 1> plans{};
};

FFTSetup vDSP_create_fftsetup(vDSP_Length Log2n, FFTRadix Radix) {
    if (Radix != kFFTRadix2 || Log2n > kMaximumLog2n) return nullptr;
    auto setup = std::make_unique<OpaqueFFTSetup>();
    setup->log2n = Log2n;
    for (vDSP_Length k = 1; k <= Log2n; ++k) setup->plans[k] = planCache().plan(k);
    return setup.release();
}

void vDSP_destroy_fftsetup(FFTSetup setup) { delete setup; }

void vDSP_fft_zrip(FFTSetup setup, const DSPSplitComplex* C, vDSP_Stride IC, vDSP_Length Log2n, FFTDirection Direction) {
    if (!setup || Log2n == 0 || Log2n > setup->log2n || Direction != kFFTDirection_Forward) return;
    const size_t n = size_t(1) << Log2n;
    const size_t h = n / 2;
    thread_local Scratch scratch;
    scratch.reserve(n);
    for (size_t k = 0; k < h; ++k) {
        scratch.real[2 * k] = C->realp[long(k) * IC];
        scratch.real[2 * k + 1] = C->imagp[long(k) * IC];
    }
    fftwf_execute_dft_r2c(setup->plans[Log2n], scratch.real, scratch.spectrum);
    C->realp[0] = 2 * scratch.spectrum[0][0];
    C->imagp[0] = 2 * scratch.spectrum[h][0];
    for (size_t k = 1; k < h; ++k) {
        C->realp[long(k) * IC] = 2 * scratch.spectrum[k][0];
        C->imagp[long(k) * IC] = 2 * scratch.spectrum[k][1];
    }
}

}  // namespace platform
