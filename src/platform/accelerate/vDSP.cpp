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
        for (vDSP_Length n = 0; n < N; ++n) sum += double(A[n]) * A[n];
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

}  // namespace platform
