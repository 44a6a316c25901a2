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
