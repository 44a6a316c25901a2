// The few vector routines of the platform's DSP library that the audio layer calls, as plain loops
// the compiler vectorises.
#pragma once

namespace platform {

using vDSP_Length = unsigned long;
using vDSP_Stride = long;

// A complex vector kept as two separate arrays.
struct DSPSplitComplex {
    float* realp;
    float* imagp;
};

// *C = sqrt(sum(A[n*IA]^2) / N); 0 when N is 0.
void vDSP_rmsqv(const float* A, vDSP_Stride IA, float* C, vDSP_Length N);

// *C = max |A[n*IA]|; 0 when N is 0.
void vDSP_maxmgv(const float* A, vDSP_Stride IA, float* C, vDSP_Length N);

// C[n] = sum over p < P of A[n*DF + p] * F[p], for n < N (decimation through an FIR filter).
void vDSP_desamp(const float* A, vDSP_Stride DF, const float* F, float* C, vDSP_Length N, vDSP_Length P);

// D[n*ID] = A[n*IA] + *C * (B[n*IB] - A[n*IA]), for n < N (a blend of A toward B by the fraction *C).
void vDSP_vintb(const float* A, vDSP_Stride IA, const float* B, vDSP_Stride IB, const float* C, float* D,
                vDSP_Stride ID, vDSP_Length N);

}  // namespace platform
