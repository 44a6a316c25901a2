// Split-complex buffers (separate real and imaginary arrays) for spectrum analysis.
#pragma once

#include "platform/accelerate/vDSP.h"

#include <cstddef>

namespace sonora {

using platform::DSPSplitComplex;

// DSPSplitComplex(repeating:count:): two new arrays of `count` floats, both filled with the value.
// The caller owns them and frees them with deallocate().
DSPSplitComplex makeDSPSplitComplex(float repeating, size_t count);
// DSPSplitComplex(repeatingReal:repeatingImag:count:): the same with separate fill values.
DSPSplitComplex makeDSPSplitComplex(float repeatingReal, float repeatingImag, size_t count);
// Frees both arrays and clears the pointers.
void deallocate(DSPSplitComplex& buffer);

}  // namespace sonora
