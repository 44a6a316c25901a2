// A node over the platform sampler unit: loads WAV files, instrument files (sampler presets,
// EXS24), SoundFont presets and open audio files into it, plays notes and sets its level, pan and
// tuning. Loaders throw platform::NSErrorException; names without a leading "/" are looked up in
// the given bundle's resources, with the extension added by the loader.
//
//   auto sampler = std::make_shared<AppleSampler>();
//   sampler->loadMelodicSoundFont("/usr/share/sounds/sf2/TimGM6mb", 0);
//   engine.setOutput(sampler);
//   sampler->play(60, 100, 0);
#pragma once

#include "Sonora/Nodes/Node.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/URL.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class AUAudioUnit;
class AVAudioFile;
class AVAudioUnitSampler;
}  // namespace platform

namespace sonora {

class AppleSampler : public virtual Node {
public:
    // A SoundFont bank number for loadSoundFont(_:preset:bank:in:): 0-127 melodic, 128-255 percussion.
    struct Bank {
        int number = 0;
    };

    // init(file:): loads the WAV file `file` (looked up as loadWav does) when given; a failure is
    // logged and the sampler stays empty.
    explicit AppleSampler(std::optional<std::string> file = std::nullopt);
    ~AppleSampler() override;

    std::vector<std::shared_ptr<Node>> connections() const override { return {}; }
    std::shared_ptr<platform::AVAudioNode> avAudioNode() const override;
    std::string typeName() const override { return "AppleSampler"; }

    std::shared_ptr<platform::AUAudioUnit> internalAU() const { return internalAU_; }
    const std::shared_ptr<platform::AVAudioUnitSampler>& samplerUnit() const { return samplerUnit_; }
    void setSamplerUnit(std::shared_ptr<platform::AVAudioUnitSampler> unit);
    void* token = nullptr;

    // The files last handed to loadAudioFile(s); setting loads them (a failure is logged).
    const std::vector<std::shared_ptr<platform::AVAudioFile>>& audioFiles() const { return audioFiles_; }
    void setAudioFiles(std::vector<std::shared_ptr<platform::AVAudioFile>> files);

    // Semitones (the unit's global tuning ÷ 100).
    float tuning() const;
    void setTuning(float semitones);

    // amplitude: master gain in dB; volume 0…1: master gain volume × 90 − 90; pan −1…1.
    float amplitude() const { return amplitude_; }
    void setAmplitude(float amplitude);
    float volume() const { return volume_; }
    void setVolume(float volume);
    float pan() const { return pan_; }
    void setPan(float pan);

    // An absolute path plus "." + extension when that file exists, else the bundle resource.
    virtual std::optional<platform::URL> locateFile(const std::string& path, const std::string& extension,
                                                    const platform::Bundle& bundle);
    virtual void loadWav(const std::string& file, const platform::Bundle& bundle = platform::Bundle::main());
    virtual void loadEXS24(const std::string& file);
    virtual void loadAudioFile(std::shared_ptr<platform::AVAudioFile> file);
    virtual void loadAudioFiles(std::vector<std::shared_ptr<platform::AVAudioFile>> files);
    // loadInstrument(atPath:): the file at the path, no lookup.
    virtual void loadInstrument(const std::string& atPath);
    virtual void loadInstrument(const std::string& file, const std::string& type,
                                const platform::Bundle& bundle = platform::Bundle::main());
    // loadSoundFont(_:preset:type:in:): program `preset`, bank MSB `type`, LSB 0.
    virtual void loadSoundFont(const std::string& file, int preset, int type,
                               const platform::Bundle& bundle = platform::Bundle::main());
    // loadSoundFont(_:preset:bank:in:).
    virtual void loadSoundFont(const std::string& file, int preset, Bank bank,
                               const platform::Bundle& bundle = platform::Bundle::main());
    virtual void loadMelodicSoundFont(const std::string& file, int preset,
                                      const platform::Bundle& bundle = platform::Bundle::main());
    virtual void loadPercussiveSoundFont(const std::string& file, int preset = 0,
                                         const platform::Bundle& bundle = platform::Bundle::main());

    virtual void play(uint8_t noteNumber, uint8_t velocity, uint8_t channel = 0);
    virtual void stop(uint8_t noteNumber, uint8_t channel = 0);
    virtual void setPitchbend(uint16_t amount, uint8_t channel = 0);
    virtual void resetSampler();

    // The bank MSB and LSB loadSoundFont(_:preset:bank:in:) asks the unit for.
    static std::pair<uint8_t, uint8_t> bankMSBAndLSB(int bank);
    // The "not found" error of the lookup loaders (NSURLErrorDomain, 256).
    static platform::NSError notFoundError();

private:
    void loadSoundFontBank(const std::string& file, int preset, uint8_t msb, uint8_t lsb,
                           const platform::Bundle& bundle);

    std::shared_ptr<platform::AUAudioUnit> internalAU_;
    std::vector<std::shared_ptr<platform::AVAudioFile>> audioFiles_;
    std::shared_ptr<platform::AVAudioUnitSampler> samplerUnit_;
    float amplitude_ = 0;
    float volume_ = 1.0f;
    float pan_ = 0;
};

}  // namespace sonora
