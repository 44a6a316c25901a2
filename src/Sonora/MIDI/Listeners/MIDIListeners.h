// The listeners that follow an incoming MIDI clock and transport: the real-time listener keeps
// the transport state, the clock listener counts quanta, quarter notes and song-position beats,
// the tempo listener measures the tempo; plus the mono/poly and omni mode listeners.
//
// Observers are removed by identity. The clock listener refers to its tempo listener and to its
// real-time listener weakly (the tempo listener owns both), so the three are freed together.
#pragma once

#include "Sonora/MIDI/Listeners/MIDITimeout.h"
#include "Sonora/MIDI/MIDIListener.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sonora {

class MIDISystemRealTimeListener;
class MIDITempoListener;

// A plain list of observers, removal by identity.
template <class P>
struct MIDIObserverMaster {
    std::vector<std::shared_ptr<P>> observers;
    void addObserver(std::shared_ptr<P> observer) { observers.push_back(std::move(observer)); }
    void removeObserver(const P& observer) {
        std::erase_if(observers, [&](const auto& o) { return o.get() == &observer; });
    }
    void removeAllObservers() { observers.clear(); }
};

class MIDISystemRealTimeObserver {
public:
    virtual ~MIDISystemRealTimeObserver() = default;
    virtual void startSRT(MIDISystemRealTimeListener& /*listener*/) {}
    virtual void stopSRT(MIDISystemRealTimeListener& /*listener*/) {}
    virtual void continueSRT(MIDISystemRealTimeListener& /*listener*/) {}
};

enum class SRTState { stopped, playing, paused };

class MIDISystemRealTimeListener : public MIDIListener, public MIDIObserverMaster<MIDISystemRealTimeObserver> {
public:
    std::atomic<SRTState> state{SRTState::stopped};
    void receivedMIDISystemCommand(const std::vector<MIDIByte>& data, PortID portID, Stamp timeStamp) override;
};

class MIDIMonoPolyListener : public MIDIListener {
public:
    explicit MIDIMonoPolyListener(bool monoMode = false) : monoMode(monoMode) {}
    std::atomic<bool> monoMode;
    void receivedMIDIController(MIDIByte controller, MIDIByte value, MIDIByte channel, PortID portID,
                                Stamp timeStamp) override;
};

class MIDIOMNIListener : public MIDIListener {
public:
    explicit MIDIOMNIListener(bool omniMode = false) : omniMode(omniMode) {}
    std::atomic<bool> omniMode;
    void receivedMIDIController(MIDIByte controller, MIDIByte value, MIDIByte channel, PortID portID,
                                Stamp timeStamp) override;
};

class MIDIBeatObserver {
public:
    virtual ~MIDIBeatObserver() = default;
    virtual void prepareToPlay(bool /*continue_*/) {}
    virtual void firstBeat(bool /*continue_*/) {}
    virtual void transportStopped() {}
    virtual void midiBeat(uint64_t /*sppMIDIBeatCounter*/) {}
    virtual void clockQuantum(MIDITimeStamp /*time*/, uint8_t /*quarterNote*/, uint64_t /*beat*/, uint64_t /*quantum*/) {}
    virtual void quarterNote(uint8_t /*fourCount*/) {}
};

class MIDITempoObserver {
public:
    virtual ~MIDITempoObserver() = default;
    // Default: logs "MIDI Clock Follower".
    virtual void midiClockFollowerMode();
    // Default: logs "MIDI Clock Leader Enabled".
    virtual void midiClockLeaderEnabled();
    virtual void tempoUpdated(double /*bpm*/, const std::string& /*label*/) {}
};

class MIDIClockListener : public MIDISystemRealTimeObserver,
                          public MIDITempoObserver,
                          public std::enable_shared_from_this<MIDIClockListener> {
public:
    // Registers the new listener with both listeners it follows.
    static std::shared_ptr<MIDIClockListener> make(const std::shared_ptr<MIDISystemRealTimeListener>& srtListener,
                                                   uint8_t quantumsPerQuarterNote,
                                                   const std::shared_ptr<MIDITempoListener>& tempoListener);

    uint8_t quantumsPerQuarterNote = 24;
    uint8_t quarterNoteQuantumCounter = 0;
    uint64_t quantumCounter = 0;
    uint64_t sppMIDIBeatCounter = 0;
    uint8_t sppMIDIBeatQuantumCounter = 0;
    uint8_t fourCount = 0;
    bool sendStart = false;
    bool sendContinue = false;
    std::weak_ptr<MIDISystemRealTimeListener> srtListener;
    std::weak_ptr<MIDITempoListener> tempoListener;
    std::vector<std::shared_ptr<MIDIBeatObserver>> observers;

    void addObserver(std::shared_ptr<MIDIBeatObserver> observer);
    void removeObserver(const MIDIBeatObserver& observer);
    void removeAllObservers() { observers.clear(); }
    void midiClockBeat(MIDITimeStamp timeStamp);

    void startSRT(MIDISystemRealTimeListener& listener) override;
    void stopSRT(MIDISystemRealTimeListener& listener) override;
    void continueSRT(MIDISystemRealTimeListener& listener) override;
    void midiClockFollowerMode() override {}
    void tempoUpdated(double, const std::string&) override {}
};

struct BPMHistoryStatistics {
    using Stat = std::pair<double, double>;  // mean, standard deviation
    size_t regressionCountIndex = 5;
    std::vector<size_t> historyCounts{3, 6, 12, 24, 48, 96, 192, 384};
    std::vector<double> bpmHistory;
    std::vector<MIDITimeStamp> actualTimeHistory;
    std::vector<double> timeHistory;
    std::vector<Stat> bpmStats;
    std::vector<Stat> timeStats;
    std::optional<std::pair<double, double>> lineFn;  // slope, intercept

    void record(double bpm, MIDITimeStamp time);
    MIDITimeStamp timeAt(float ratio) const;
};

struct BPMHistoryAveraging {
    std::vector<double> bpmHistory;
    size_t countLimit = 1;
    std::pair<double, double> results{0, 0};
    void record(double bpm);
};

struct ValueSmoothing {
    double smoothed = 0, factor = 0, priorDataFactor = 1;
};

class MIDITempoListener : public MIDIListener, public std::enable_shared_from_this<MIDITempoListener> {
public:
    static std::shared_ptr<MIDITempoListener> make(double smoothing = 0.98, size_t countLimit = 30);
    ~MIDITempoListener() override;

    std::shared_ptr<MIDIClockListener> clockListener;
    std::shared_ptr<MIDISystemRealTimeListener> srtListener = std::make_shared<MIDISystemRealTimeListener>();
    std::vector<std::shared_ptr<MIDITempoObserver>> tempoObservers;
    std::string tempoString;
    double tempo = 0;
    std::vector<MIDITimeStamp> clockEvents;
    int clockEventLimit = 2;
    BPMHistoryStatistics bpmStats;
    BPMHistoryAveraging bpmAveraging;
    std::pair<uint32_t, uint32_t> timebaseInfo{0, 0};
    ValueSmoothing tickSmoothing, bpmSmoothing;
    std::unique_ptr<MIDITimeout> clockTimeout;
    std::atomic<bool> isIncomingClockActive{false};
    static constexpr int BEAT_TICKS = 24;
    static constexpr int oneThousand = 1000;

    void addTempoObserver(std::shared_ptr<MIDITempoObserver> observer);
    void removeTempoObserver(const MIDITempoObserver& observer);
    void removeAllTempoObservers() { tempoObservers.clear(); }

    void receivedMIDISystemCommand(const std::vector<MIDIByte>& data, PortID portID, Stamp timeStamp) override;
    void clockArrived(Stamp timeStamp);
    void clockStopped();
    void analyzeClockEvents();
    void keepLastClockEvent();
    void keepNewerHalfOfClockEvents();
    void clearClockEvents();

private:
    MIDITempoListener() = default;
    void fetchTimebase();
};

}  // namespace sonora
