#include "Sonora/Internals/Utilities/DSPSplitComplexAllocation.h"

#include <algorithm>

namespace sonora {

DSPSplitComplex makeDSPSplitComplex(float repeating, size_t count) {
    return makeDSPSplitComplex(repeating, repeating, count);
}

DSPSplitComplex makeDSPSplitComplex(float repeatingReal, float repeatingImag, size_t count) {
    DSPSplitComplex buffer{new float[count], new float[count]};
    std::fill_n(buffer.realp, count, repeatingReal);
    std::fill_n(buffer.imagp, count, repeatingImag);
    return buffer;
}

void deallocate(DSPSplitComplex& buffer) {
    delete[] buffer.realp;
    delete[] buffer.imagp;
    buffer.realp = nullptr;
    buffer.imagp = nullptr;
}

}  // namespace sonora
