#include "Sonora/Internals/Utilities/PitchConversion.h"
#include "Sonora/Internals/Utilities/ValueMapping.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace sonora;

TEST(ValueMapping, Clamping) {
    EXPECT_EQ(clamped(5, ClosedRange<int>{0, 3}), 3);
    EXPECT_EQ(clamped(-1.5, ClosedRange<double>{-1, 1}), -1.0);
    EXPECT_EQ(clamped(0.25f, ClosedRange<float>{0, 1}), 0.25f);
}

TEST(ValueMapping, NormalisingWithATaperAndBack) {
    EXPECT_FLOAT_EQ(normalized(15, {10, 20}), 0.5f);
    EXPECT_FLOAT_EQ(normalized(15, {10, 20}, 2), std::sqrt(0.5f));
    EXPECT_FLOAT_EQ(denormalized(0.5f, {10, 20}), 15);
    EXPECT_FLOAT_EQ(denormalized(0.5f, {10, 20}, 2), 12.5f);
    for (const float x : {20.0f, 440.0f, 19000.0f})
        EXPECT_NEAR(denormalized(normalized(x, {20, 20000}, 3), {20, 20000}, 3), std::min(x, 20000.0f), 0.01f);
}

TEST(ValueMapping, LinearLogarithmicAndExponentialMaps) {
    const struct {
        double value, a, b, c, d, linear, inverted;
    } table[] = {
        {5, 0, 10, 0, 1, 0.5, 0.5},
        {0, 0, 10, 100, 200, 100, 200},
        {10, 0, 10, 100, 200, 200, 100},
        {2.5, 0, 10, -1, 1, -0.5, 0.5},
    };
    for (const auto& row : table) {
        EXPECT_DOUBLE_EQ(mapped(row.value, {row.a, row.b}, {row.c, row.d}), row.linear);
        EXPECT_DOUBLE_EQ(mappedInverted(row.value, {row.a, row.b}, {row.c, row.d}), row.inverted);
    }
    EXPECT_DOUBLE_EQ(mapped(3, ClosedRange<int>{0, 4}, ClosedRange<double>{0, 1}), 0.75);

    EXPECT_DOUBLE_EQ(mappedLog10(100, {10, 1000}, {0, 1}), 0.5);
    EXPECT_DOUBLE_EQ(mappedLog10(1000, {10, 1000}, {0, 1}), 1.0);
    // log10(0) over a range from 0: not a number, so 0.
    EXPECT_EQ(mappedLog10(0, {0, 1}, {0, 1}), 0.0);

    EXPECT_NEAR(mappedExp(0.5, {0, 1}, {20, 20000}), std::sqrt(20.0 * 20000.0), 1e-9);
    EXPECT_NEAR(mappedExp(0, {0, 1}, {20, 20000}), 20, 1e-9);
    EXPECT_NEAR(mappedExp(1, {0, 1}, {20, 20000}), 20000, 1e-6);
}

TEST(PitchConversion, NotesAndFrequencies) {
    EXPECT_NEAR(midiNoteToFrequency(60), 261.63f, 0.01f);
    EXPECT_FLOAT_EQ(midiNoteToFrequency(69), 440.0f);
    EXPECT_FLOAT_EQ(midiNoteToFrequency(uint8_t(81)), 880.0f);
    EXPECT_FLOAT_EQ(midiNoteToFrequency(57.0f), 220.0f);
    EXPECT_FLOAT_EQ(midiNoteToFrequency(69, 432.0f), 432.0f);
    EXPECT_FLOAT_EQ(frequencyToMIDINote(440), 69.0f);
    EXPECT_FLOAT_EQ(frequencyToMIDINote(880.0f), 81.0f);
    EXPECT_NEAR(frequencyToMIDINote(midiNoteToFrequency(61.5f)), 61.5f, 1e-4f);
}
