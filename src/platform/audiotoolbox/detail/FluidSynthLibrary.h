// FluidSynth, which plays the sampler's SoundFonts, loaded when a SoundFont is first loaded rather
// than by every process at start-up (with it come SDL, PulseAudio, JACK, glib and more): opened by
// the run-time name of the headers we build with, its functions looked up into one table. Nothing
// calls FluidSynth directly; the header only gives the types.
#pragma once

#include <fluidsynth.h>

#include <string>

namespace platform::detail {

// Every FluidSynth function we call.
#define TAMBERLO_FLUIDSYNTH_FUNCTIONS(X)   \
    X(delete_fluid_settings)               \
    X(delete_fluid_sfont)                  \
    X(delete_fluid_synth)                  \
    X(fluid_set_log_function)              \
    X(fluid_settings_setint)               \
    X(fluid_settings_setnum)               \
    X(fluid_sfont_get_data)                \
    X(fluid_sfont_get_name)                \
    X(fluid_sfont_get_preset)              \
    X(fluid_sfont_iteration_next)          \
    X(fluid_sfont_iteration_start)         \
    X(fluid_sfont_set_data)                \
    X(fluid_synth_add_sfont)               \
    X(fluid_synth_all_sounds_off)          \
    X(fluid_synth_cc)                      \
    X(fluid_synth_channel_pressure)        \
    X(fluid_synth_get_active_voice_count)  \
    X(fluid_synth_get_internal_bufsize)    \
    X(fluid_synth_get_sfont_by_id)         \
    X(fluid_synth_key_pressure)            \
    X(fluid_synth_noteoff)                 \
    X(fluid_synth_noteon)                  \
    X(fluid_synth_pitch_bend)              \
    X(fluid_synth_program_change)          \
    X(fluid_synth_program_select)          \
    X(fluid_synth_set_channel_type)        \
    X(fluid_synth_set_gen)                 \
    X(fluid_synth_sfload)                  \
    X(fluid_synth_write_float)             \
    X(new_fluid_settings)                  \
    X(new_fluid_sfont)                     \
    X(new_fluid_synth)

struct FluidSynthLibrary {
#define TAMBERLO_FLUIDSYNTH_POINTER(name) decltype(&::name) name = nullptr;
    TAMBERLO_FLUIDSYNTH_FUNCTIONS(TAMBERLO_FLUIDSYNTH_POINTER)
#undef TAMBERLO_FLUIDSYNTH_POINTER
};

// Loads the library on the first call (once per process, from any thread; FluidSynth's own log is
// silenced then). nullptr when it or one of its functions cannot be loaded: `failure` then gets the
// reason, which names the library, and the log has it once.
const FluidSynthLibrary* loadFluidSynth(std::string* failure = nullptr);

// The loaded table, for code that holds FluidSynth objects and so runs only after loadFluidSynth()
// succeeded (FluidSynth's calls back into us among it). Throws NSErrorException when the library
// cannot be loaded.
const FluidSynthLibrary& fluidSynth();

}  // namespace platform::detail
