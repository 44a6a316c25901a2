#include "platform/audiotoolbox/detail/FluidSynthLibrary.h"

#include "platform/audiotoolbox/AVAudioUnitSampler.h"
#include "platform/audiotoolbox/detail/SamplerInstrument.h"
#include "platform/detail/SharedLibraries.h"

namespace platform::detail {

namespace {

// The run-time name carries FluidSynth's ABI version, which its own version numbers do not: 2.0 and
// 2.1 are libfluidsynth.so.2, the ABI changed with 2.2 (libfluidsynth.so.3).
#if FLUIDSYNTH_VERSION_MAJOR == 2 && FLUIDSYNTH_VERSION_MINOR < 2
#define TAMBERLO_FLUIDSYNTH_ABI "2"
#elif FLUIDSYNTH_VERSION_MAJOR == 2
#define TAMBERLO_FLUIDSYNTH_ABI "3"
#else
#error "the run-time name of this FluidSynth version is not known here"
#endif

constexpr const char* kLibraryNames[] = {"libfluidsynth.so." TAMBERLO_FLUIDSYNTH_ABI};

constexpr SharedLibraries kFluidSynth{"FluidSynth", kLibraryNames, "SoundFonts cannot be played."};

void resolve(SharedLibraryLoader& loader, FluidSynthLibrary& table) {
#define TAMBERLO_FLUIDSYNTH_RESOLVE(name) loader.find(table.name, 0, #name);
    TAMBERLO_FLUIDSYNTH_FUNCTIONS(TAMBERLO_FLUIDSYNTH_RESOLVE)
#undef TAMBERLO_FLUIDSYNTH_RESOLVE
}

// Its messages would reach stderr, from the render thread too; our errors say what failed.
void quiet(const FluidSynthLibrary& table) {
    for (int level = FLUID_PANIC; level <= FLUID_DBG; ++level) table.fluid_set_log_function(level, nullptr, nullptr);
}

const LoadedLibraries<FluidSynthLibrary>& loadedOnce() { return loadOnce(kFluidSynth, resolve, quiet); }

}  // namespace

const FluidSynthLibrary* loadFluidSynth(std::string* failure) { return loadedOnce().get(failure); }

const FluidSynthLibrary& fluidSynth() { return loadedOnce().require(kAudioUnitErr_InvalidFile); }

std::string fluidSynthLibraryName() { return kLibraryNames[0]; }

}  // namespace platform::detail
