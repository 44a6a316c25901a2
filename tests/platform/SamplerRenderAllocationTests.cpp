// The sampler's render allocates nothing: malloc, calloc and realloc are counted while the render
// thread plays notes, controllers, bends, program changes and resets (FluidSynth and zones alike).
#include "platform/audiotoolbox/AVAudioUnitSampler.h"
#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SAMPLER_COUNTS_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define SAMPLER_COUNTS_ALLOCATIONS 0
#endif
#endif
#ifndef SAMPLER_COUNTS_ALLOCATIONS
#define SAMPLER_COUNTS_ALLOCATIONS 1
#endif

#if SAMPLER_COUNTS_ALLOCATIONS
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
}

namespace {
__thread bool counting = false;
__thread size_t allocations = 0;
}  // namespace

extern "C" void* malloc(size_t size) {
    if (counting) ++allocations;
    return __libc_malloc(size);
}
extern "C" void* calloc(size_t n, size_t size) {
    if (counting) ++allocations;
    return __libc_calloc(n, size);
}
extern "C" void* realloc(void* p, size_t size) {
    if (counting) ++allocations;
    return __libc_realloc(p, size);
}
#endif

using namespace platform;

namespace {

size_t allocationsWhilePlaying(AVAudioUnitSampler& sampler) {
    EXPECT_TRUE(sampler.auAudioUnit()->allocateRenderResources());
    std::vector<float> left(512), right(512);
    std::vector<unsigned char> storage(AudioBufferListSize(2));
    auto* list = reinterpret_cast<AudioBufferList*>(storage.data());
    const auto render = sampler.auAudioUnit()->renderBlock();
    int64_t sampleTime = 0;
    size_t total = 0;
    for (int cycle = 0; cycle < 200; ++cycle) {
        const uint8_t note = uint8_t(36 + cycle % 48);
        sampler.startNote(note, 100, uint8_t(cycle % 16));
        if (cycle % 3 == 0) sampler.stopNote(uint8_t(note - 3), uint8_t(cycle % 16));
        if (cycle % 5 == 0) sampler.sendController(7, uint8_t(cycle % 128), 0);
        if (cycle % 7 == 0) sampler.sendPitchBend(uint16_t(cycle * 80), 1);
        if (cycle % 50 == 0) sampler.sendProgramChange(uint8_t(cycle % 8), 2);
        if (cycle % 60 == 59) sampler.reset();
        if (cycle % 40 == 0) sampler.setGlobalTuning(float(cycle % 100));
        list->mNumberBuffers = 2;
        list->mBuffers[0] = {1, uint32_t(512 * sizeof(float)), left.data()};
        list->mBuffers[1] = {1, uint32_t(512 * sizeof(float)), right.data()};
        AudioTimeStamp time;
        time.mSampleTime = double(sampleTime);
        AudioUnitRenderActionFlags flags = 0;
#if SAMPLER_COUNTS_ALLOCATIONS
        allocations = 0;
        counting = true;
#endif
        render(&flags, &time, 512, 0, list, nullptr);
#if SAMPLER_COUNTS_ALLOCATIONS
        counting = false;
        // The first cycles may set up what the synthesizer keeps; after them nothing is allocated.
        if (cycle >= 2) total += allocations;
#endif
        sampleTime += 512;
    }
    return total;
}

}  // namespace

TEST(SamplerRenderAllocation, RenderingNotesAllocatesNothing) {
    if (!SAMPLER_COUNTS_ALLOCATIONS) GTEST_SKIP() << "the sanitizers own malloc";
#if SAMPLER_COUNTS_ALLOCATIONS
    // The count sees an allocation.
    allocations = 0;
    counting = true;
    std::vector<float>* probe = new std::vector<float>(100);
    counting = false;
    delete probe;
    ASSERT_GE(allocations, 1u);
#endif
    const char* soundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    if (std::filesystem::exists(soundFont)) {
        AVAudioUnitSampler sampler;
        sampler.loadSoundBankInstrument(soundFont, 0, 0x79, 0);
        EXPECT_EQ(allocationsWhilePlaying(sampler), 0u) << "FluidSynth";
    }
    testsupport::ScratchDir dir;
    ASSERT_EQ(testsupport::run("sox -n -r 22050 " + testsupport::q(dir / "s.wav") + " synth 0.5 sine 440"), 0);
    AVAudioUnitSampler zones;
    zones.loadAudioFiles({URL(dir / "s.wav")});
    EXPECT_EQ(allocationsWhilePlaying(zones), 0u) << "zones";
}
