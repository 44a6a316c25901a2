// The few vector routines of the platform's DSP library that the audio layer calls, as plain loops
// the compiler vectorises; the real FFT runs on FFTW (single precision).
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

// An interleaved complex number, as vDSP_ctoz reads them.
struct DSPComplex {
    float real;
    float imag;
};

// *C = the largest A[n*IA] (signed, not by magnitude), *I = n*IA of its first occurrence;
// N = 0: -infinity and 0.
void vDSP_maxvi(const float* A, vDSP_Stride IA, float* C, vDSP_Length* I, vDSP_Length N);

inline constexpr int vDSP_HALF_WINDOW = 1;
inline constexpr int vDSP_HANN_DENORM = 0;
inline constexpr int vDSP_HANN_NORM = 2;
// C[n] = W * (1 - cos(2 pi n / N)) for the periodic window of N points: W = 0.8165 with
// vDSP_HANN_NORM, else 0.5. With vDSP_HALF_WINDOW only the first (N + 1) / 2 points are written.
void vDSP_hann_window(float* C, vDSP_Length N, int Flag);

// C[n*IC] = A[n*IA] * B[n*IB].
void vDSP_vmul(const float* A, vDSP_Stride IA, const float* B, vDSP_Stride IB, float* C, vDSP_Stride IC, vDSP_Length N);
// C[n*IC] = A[n*IA] * *B.
void vDSP_vsmul(const float* A, vDSP_Stride IA, const float* B, float* C, vDSP_Stride IC, vDSP_Length N);

// Interleaved to split complex: Z.realp[n*IZ] = ((float*)C)[n*IC], Z.imagp[n*IZ] = ((float*)C)[n*IC + 1]
// (IC counts floats: 2 reads consecutive pairs, so a real signal's even samples land in realp
// and its odd ones in imagp).
void vDSP_ctoz(const DSPComplex* C, vDSP_Stride IC, const DSPSplitComplex* Z, vDSP_Stride IZ, vDSP_Length N);

// C[n*IC] = A[n*IA] * *B, complex.
void vDSP_zvzsml(const DSPSplitComplex* A, vDSP_Stride IA, const DSPSplitComplex* B, const DSPSplitComplex* C,
                 vDSP_Stride IC, vDSP_Length N);
// C[n*IC] = |A[n*IA]|^2.
void vDSP_zvmags(const DSPSplitComplex* A, vDSP_Stride IA, float* C, vDSP_Stride IC, vDSP_Length N);

// FFT set-ups: one serves every transform of up to 2^Log2n points. Making one costs a lookup
// once the sizes were planned (plans are made once per size, process-wide).
struct OpaqueFFTSetup;
using FFTSetup = OpaqueFFTSetup*;
using FFTRadix = int;
using FFTDirection = int;
inline constexpr FFTRadix kFFTRadix2 = 0;
inline constexpr FFTDirection kFFTDirection_Forward = 1;
inline constexpr FFTDirection kFFTDirection_Inverse = -1;

// Null for a Log2n above 24 or a radix other than 2.
FFTSetup vDSP_create_fftsetup(vDSP_Length Log2n, FFTRadix Radix);
void vDSP_destroy_fftsetup(FFTSetup setup);

// In-place real FFT of N = 2^Log2n samples packed by vDSP_ctoz into N/2 complex values (stride IC).
// Forward, with X the discrete Fourier transform of the samples: realp[0] = 2 X[0],
// imagp[0] = 2 X[N/2], and realp[k] + i imagp[k] = 2 X[k] for 0 < k < N/2. Only the forward
// direction exists; Log2n must not exceed the set-up's.
void vDSP_fft_zrip(FFTSetup setup, const DSPSplitComplex* C, vDSP_Stride IC, vDSP_Length Log2n, FFTDirection Direction);

}  // namespace platform
