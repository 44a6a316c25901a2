#include "Sonora/Internals/Utilities/AUParameterCreation.h"
#include "Sonora/Internals/Utilities/Constants.h"
#include "Sonora/Internals/Utilities/DSPSplitComplexAllocation.h"
#include "Sonora/Internals/Utilities/DownSampling.h"
#include "Sonora/Internals/Utilities/FourCC.h"
#include "Sonora/Internals/Utilities/ObjectAddress.h"
#include "Sonora/Internals/Utilities/Occupiable.h"
#include "Sonora/Internals/Utilities/TitleCase.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

using namespace sonora;

TEST(FourCC, BytesFromMostToLeastSignificant) {
    EXPECT_EQ(fourCC("aumu"), (uint32_t('a') << 24) | (uint32_t('u') << 16) | (uint32_t('m') << 8) | uint32_t('u'));
    EXPECT_EQ(fourCC("lpcm"), 0x6C70636Du);
    EXPECT_EQ(fourCC("aac "), 0x61616320u);
    EXPECT_EQ(fourCC("toolong"), 0u);
    EXPECT_EQ(fourCC(""), 0u);
}

TEST(Occupiable, EmptinessAndMembership) {
    EXPECT_TRUE(isEmpty(std::string()));
    EXPECT_TRUE(isNotEmpty(std::string("x")));
    EXPECT_TRUE(isNotEmpty(std::vector<int>{1}));
    EXPECT_TRUE(isEmpty(std::map<int, int>()));
    EXPECT_TRUE(isNotEmpty(std::set<int>{3}));
    EXPECT_TRUE(doesNotContain(std::vector<int>{1, 2}, 3));
    EXPECT_FALSE(doesNotContain(std::vector<int>{1, 2}, 2));
    EXPECT_EQ(zeros<std::vector<float>>(3), (std::vector<float>{0, 0, 0}));
    EXPECT_TRUE(zeros<std::vector<int>>(0).empty());
}

TEST(DownSampling, AveragesPairsAtTheDecimationFactor) {
    std::vector<float> ramp(100);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = float(i);
    const std::vector<float> out = downSampled(ramp, 10);  // factor 10, (100 − 2) ÷ 10 = 9 outputs
    ASSERT_EQ(out.size(), 9u);
    for (size_t k = 0; k < out.size(); ++k) EXPECT_FLOAT_EQ(out[k], float(k * 10) + 0.5f);

    EXPECT_EQ(downSampled({1, 3, 5, 7}, 2), (std::vector<float>{2}));
    EXPECT_TRUE(downSampled(ramp, 0).empty());
    EXPECT_TRUE(downSampled(ramp, 101).empty());
    EXPECT_TRUE(downSampled({1}, 1).empty());
}

TEST(TitleCase, FromCamelCase) {
    const struct {
        const char* in;
        const char* out;
    } table[] = {
        {"cutoffFrequency", "Cutoff Frequency"},
        {"gain", "Gain"},
        {"HPFCutoff", "H P F Cutoff"},
        {"  dryWetMix\n", "Dry Wet Mix"},
        {"ALLCAPS", "A L L C A P S"},
        {"", ""},
    };
    for (const auto& row : table) EXPECT_EQ(titleCaseFromCamelCase(row.in), row.out) << row.in;
}

TEST(ObjectAddress, EighteenCharactersWithThePrefix) {
    int object = 0;
    const std::string text = objectAddressString(&object);
    EXPECT_EQ(text.size(), 18u);
    EXPECT_EQ(text.substr(0, 2), "0x");
    EXPECT_EQ(std::stoull(text.substr(2), nullptr, 16), reinterpret_cast<uintptr_t>(&object));
    EXPECT_EQ(objectAddressString(reinterpret_cast<const void*>(0xABCDEF)), "0x0000000000abcdef");
    EXPECT_EQ(objectAddressString(nullptr), "0x0000000000000000");
}

TEST(Constants, MIDIBytesAndParameterFlags) {
    EXPECT_EQ(noteOnByte, 0x90);
    EXPECT_EQ(noteOffByte, 0x80);
    EXPECT_EQ(nodeParameterDefaultFlags, 0xC2000000u);
}

TEST(DSPSplitComplexAllocation, FillsBothArrays) {
    DSPSplitComplex same = makeDSPSplitComplex(1.5f, 4);
    DSPSplitComplex split = makeDSPSplitComplex(2.0f, -3.0f, 3);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(same.realp[i], 1.5f);
        EXPECT_EQ(same.imagp[i], 1.5f);
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(split.realp[i], 2.0f);
        EXPECT_EQ(split.imagp[i], -3.0f);
    }
    EXPECT_NE(same.realp, same.imagp);
    deallocate(same);
    deallocate(split);
    EXPECT_EQ(same.realp, nullptr);
    EXPECT_EQ(split.imagp, nullptr);
}

TEST(AUParameterCreation, ARangeWithoutUnitNameValueStringsOrDependents) {
    const auto parameter = sonora::createParameter("cutoff", "Cutoff", 7, {20.0f, 20000.0f},
                                                   platform::kAudioUnitParameterUnit_Hertz,
                                                   platform::kAudioUnitParameterFlag_IsReadable);
    ASSERT_TRUE(parameter);
    EXPECT_EQ(parameter->identifier(), "cutoff");
    EXPECT_EQ(parameter->displayName(), "Cutoff");
    EXPECT_EQ(parameter->address(), 7u);
    EXPECT_EQ(parameter->minValue(), 20.0f);
    EXPECT_EQ(parameter->maxValue(), 20000.0f);
    EXPECT_EQ(parameter->unit(), platform::kAudioUnitParameterUnit_Hertz);
    EXPECT_EQ(parameter->flags(), platform::kAudioUnitParameterFlag_IsReadable);
    EXPECT_TRUE(parameter->unitName().empty());
    EXPECT_TRUE(parameter->valueStrings().empty());
    EXPECT_TRUE(parameter->dependentParameters().empty());
}
