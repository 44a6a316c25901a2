#include "Sonora/MIDI/Listeners/MIDIListeners.h"

#include "Sonora/Internals/Utilities/Log.h"
#include "platform/foundation/HostTime.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace sonora {

namespace {
std::pair<double, double> meanAndDeviation(const double* values, size_t n) {
    if (n == 0) return {0, 0};
    const double mean = std::accumulate(values, values + n, 0.0) / double(n);
    if (n == 1) return {mean, 0};
    double sum = 0;
    for (size_t i = 0; i < n; ++i) sum += (values[i] - mean) * (values[i] - mean);
    return {mean, std::sqrt(sum / double(n - 1))};
}

std::vector<std::pair<double, double>> statsOf(const std::vector<double>& history, const std::vector<size_t>& counts) {
    std::vector<std::pair<double, double>> stats;
    for (size_t c : counts)
        if (history.size() > c) stats.push_back(meanAndDeviation(history.data() + history.size() - c, c));
    return stats;
}
}  // namespace

// MARK: - Real time, mono/poly, omni

void MIDISystemRealTimeListener::receivedMIDISystemCommand(const std::vector<MIDIByte>& data, PortID, Stamp) {
    if (data.empty()) return;
    const auto snapshot = observers;
    switch (data[0]) {
    case 0xFA:
        Log({"Incoming MMC [Start]"}, OSLog::midi());
        state = SRTState::playing;
        for (const auto& o : snapshot) o->startSRT(*this);
        break;
    case 0xFB:
        Log({"Incoming MMC [Continue]"}, OSLog::midi());
        state = SRTState::playing;
        for (const auto& o : snapshot) o->continueSRT(*this);
        break;
    case 0xFC:
        Log({"Incoming MMC [Stop]"}, OSLog::midi());
        state = state == SRTState::playing ? SRTState::paused : SRTState::stopped;
        for (const auto& o : snapshot) o->stopSRT(*this);
        break;
    default:
        break;
    }
}

void MIDIMonoPolyListener::receivedMIDIController(MIDIByte controller, MIDIByte, MIDIByte, PortID, Stamp) {
    if (controller == 126) monoMode = true;
    if (controller == 127) monoMode = false;
}

void MIDIOMNIListener::receivedMIDIController(MIDIByte controller, MIDIByte, MIDIByte, PortID, Stamp) {
    if (controller == 125) omniMode = true;
    if (controller == 124) omniMode = false;
}

void MIDITempoObserver::midiClockFollowerMode() { Log({"MIDI Clock Follower"}, OSLog::midi()); }
void MIDITempoObserver::midiClockLeaderEnabled() { Log({"MIDI Clock Leader Enabled"}, OSLog::midi()); }

// MARK: - Clock listener

std::shared_ptr<MIDIClockListener> MIDIClockListener::make(const std::shared_ptr<MIDISystemRealTimeListener>& srt,
                                                           uint8_t quantumsPerQuarterNote,
                                                           const std::shared_ptr<MIDITempoListener>& tempo) {
    auto listener = std::make_shared<MIDIClockListener>();
    listener->quantumsPerQuarterNote = std::max<uint8_t>(1, quantumsPerQuarterNote);
    listener->srtListener = srt;
    listener->tempoListener = tempo;
    if (srt) srt->addObserver(listener);
    if (tempo) tempo->addTempoObserver(listener);
    return listener;
}

void MIDIClockListener::addObserver(std::shared_ptr<MIDIBeatObserver> observer) {
    observers.push_back(std::move(observer));
    Log({"[MIDIClockListener:addObserver] (" + std::to_string(observers.size()) + " observers)"}, OSLog::midi());
}

void MIDIClockListener::removeObserver(const MIDIBeatObserver& observer) {
    std::erase_if(observers, [&](const auto& o) { return o.get() == &observer; });
    Log({"[MIDIClockListener:removeObserver] (" + std::to_string(observers.size()) + " observers)"}, OSLog::midi());
}

void MIDIClockListener::midiClockBeat(MIDITimeStamp timeStamp) {
    quantumCounter += 1;
    const auto srt = srtListener.lock();
    if (!srt || srt->state != SRTState::playing) {
        for (const auto& o : observers) o->clockQuantum(timeStamp, fourCount, sppMIDIBeatCounter, quantumCounter);
        return;
    }
    quarterNoteQuantumCounter += 1;
    if (quarterNoteQuantumCounter == 1) {
        if (fourCount >= 4) fourCount = 0;
        fourCount += 1;
        Log({std::string(fourCount + 1, ' ') + std::to_string(fourCount)}, OSLog::midi());
        if (sendStart || sendContinue) {
            for (const auto& o : observers) o->firstBeat(sendContinue);
            sendStart = sendContinue = false;
        }
        for (const auto& o : observers) o->quarterNote(fourCount);
    } else if (quarterNoteQuantumCounter == quantumsPerQuarterNote) {
        quarterNoteQuantumCounter = 0;
    }
    for (const auto& o : observers) o->clockQuantum(timeStamp, fourCount, sppMIDIBeatCounter, quantumCounter);
    if (sppMIDIBeatQuantumCounter == 6) {
        sppMIDIBeatQuantumCounter = 0;
        sppMIDIBeatCounter += 1;
    }
    sppMIDIBeatQuantumCounter += 1;
    if (sppMIDIBeatQuantumCounter != 1) return;
    for (const auto& o : observers) o->midiBeat(sppMIDIBeatCounter);
    Log({"       " + std::to_string(sppMIDIBeatCounter % 16 + 1)}, OSLog::midi());
}

void MIDIClockListener::startSRT(MIDISystemRealTimeListener&) {
    Log({"Beat: [Start]"}, OSLog::midi());
    sppMIDIBeatCounter = 0;
    quarterNoteQuantumCounter = 0;
    fourCount = 0;
    sendStart = true;
    for (const auto& o : observers) o->prepareToPlay(false);
}

void MIDIClockListener::continueSRT(MIDISystemRealTimeListener&) {
    Log({"Beat: [Continue]"}, OSLog::midi());
    sendContinue = true;
    for (const auto& o : observers) o->prepareToPlay(true);
}

void MIDIClockListener::stopSRT(MIDISystemRealTimeListener&) {
    Log({"Beat: [Stop]"}, OSLog::midi());
    for (const auto& o : observers) o->transportStopped();
}

// MARK: - Tempo statistics

void BPMHistoryStatistics::record(double bpm, MIDITimeStamp time) {
    const size_t m = *std::max_element(historyCounts.begin(), historyCounts.end());
    if (m >= 2) {
        if (bpmHistory.size() > m) bpmHistory.erase(bpmHistory.begin());
        if (timeHistory.size() > m) timeHistory.erase(timeHistory.begin());
        if (actualTimeHistory.size() > m) actualTimeHistory.erase(actualTimeHistory.begin());
    }
    bpmHistory.push_back(bpm);
    timeHistory.push_back(double(time));
    actualTimeHistory.push_back(time);
    bpmStats = statsOf(bpmHistory, historyCounts);
    timeStats = statsOf(timeHistory, historyCounts);
    const size_t k = regressionCountIndex;
    if (timeStats.size() < k || bpmStats.size() < k || k == 0) return;
    const double tm = timeStats[k - 1].first, bm = bpmStats[k - 1].first;
    double num = 0, den = 0;
    for (size_t i = 0, n = std::min(timeHistory.size(), bpmHistory.size()); i < n; ++i) {
        num += (bpmHistory[i] - bm) * (timeHistory[i] - tm);
        den += (timeHistory[i] - tm) * (timeHistory[i] - tm);
    }
    const double slope = num / den;
    lineFn = std::pair{slope, bm - slope * tm};
}

MIDITimeStamp BPMHistoryStatistics::timeAt(float ratio) const {
    const size_t n = timeHistory.size();
    if (n == 0) return 0;
    if (n == 1) return MIDITimeStamp(timeHistory[0]);
    const size_t h = historyCounts.at(regressionCountIndex);
    const double first = timeHistory[n > h ? n - h : 0];
    return MIDITimeStamp(double(ratio) * (timeHistory.back() - first) + first);
}

void BPMHistoryAveraging::record(double bpm) {
    while (bpmHistory.size() > countLimit) bpmHistory.erase(bpmHistory.begin());
    bpmHistory.push_back(bpm);
    results = meanAndDeviation(bpmHistory.data(), bpmHistory.size());
}

// MARK: - Tempo listener

std::shared_ptr<MIDITempoListener> MIDITempoListener::make(double smoothing, size_t countLimit) {
    std::shared_ptr<MIDITempoListener> listener(new MIDITempoListener);
    listener->tickSmoothing = {0, smoothing, 1 - smoothing};
    listener->bpmSmoothing = {0, smoothing, 1 - smoothing};
    listener->bpmAveraging.countLimit = countLimit;
    listener->clockListener = MIDIClockListener::make(listener->srtListener, BEAT_TICKS, listener);
    listener->fetchTimebase();
    std::weak_ptr<MIDITempoListener> weak = listener;
    listener->clockTimeout = std::make_unique<MIDITimeout>(1.6, true, [] {}, [weak] {
        if (const auto self = weak.lock()) self->clockStopped();
    });
    for (const auto& o : std::vector(listener->tempoObservers)) o->midiClockLeaderEnabled();
    return listener;
}

MIDITempoListener::~MIDITempoListener() = default;

void MIDITempoListener::fetchTimebase() {
    if (timebaseInfo.second != 0) return;
    platform::mach_timebase_info_data_t info;
    platform::mach_timebase_info(&info);
    timebaseInfo = {info.numer, info.denom};
}

void MIDITempoListener::addTempoObserver(std::shared_ptr<MIDITempoObserver> observer) {
    tempoObservers.push_back(std::move(observer));
}

void MIDITempoListener::removeTempoObserver(const MIDITempoObserver& observer) {
    std::erase_if(tempoObservers, [&](const auto& o) { return o.get() == &observer; });
}

void MIDITempoListener::receivedMIDISystemCommand(const std::vector<MIDIByte>& data, PortID portID, Stamp timeStamp) {
    if (data.empty()) return;
    if (data[0] == 0xF8 && clockTimeout) {
        clockTimeout->succeed();
        clockTimeout->perform([&] { clockArrived(timeStamp); });
    }
    if (data[0] == 0xFC) clearClockEvents();
    if (data[0] == 0xFA) keepLastClockEvent();
    srtListener->receivedMIDISystemCommand(data, portID, timeStamp);
}

void MIDITempoListener::clockArrived(Stamp timeStamp) {
    if (!isIncomingClockActive) {
        for (const auto& o : std::vector(tempoObservers)) o->midiClockFollowerMode();
        isIncomingClockActive = true;
    }
    clockEvents.push_back(timeStamp.value_or(0));
    analyzeClockEvents();
    if (clockListener) clockListener->midiClockBeat(timeStamp.value_or(0));
}

void MIDITempoListener::analyzeClockEvents() {
    if (clockEvents.size() < 2) return;
    const MIDITimeStamp prev = clockEvents[clockEvents.size() - 2], last = clockEvents.back();
    if (prev == 0 || last <= prev) {
        // Stamps that give no interval would otherwise pile up.
        keepLastClockEvent();
        return;
    }
    fetchTimebase();
    const uint64_t elapsed = (last - prev) * timebaseInfo.first;
    const double interval = double(elapsed) / (double(timebaseInfo.second) * oneThousand);
    double bpm = (1000000.0 / interval / BEAT_TICKS) * 60 + 0.055;
    keepLastClockEvent();
    bpmStats.record(bpm, last);
    const double t = double(bpmStats.timeAt(0.8f));
    const double predicted = bpmStats.lineFn ? bpmStats.lineFn->first * t + bpmStats.lineFn->second : 0;
    if (predicted > 0) bpm = predicted;
    bpmAveraging.record(bpm);
    tempo = bpmAveraging.results.first;
    char text[64];
    std::snprintf(text, sizeof text, "%3.2f", tempo);
    if (tempoString == text) return;
    tempoString = text;
    for (const auto& o : std::vector(tempoObservers)) o->tempoUpdated(tempo, tempoString);
}

void MIDITempoListener::clockStopped() {
    if (isIncomingClockActive)
        for (const auto& o : std::vector(tempoObservers)) o->midiClockLeaderEnabled();
    isIncomingClockActive = false;
}

void MIDITempoListener::keepLastClockEvent() {
    if (clockEvents.size() >= 2) clockEvents = {clockEvents.back()};
}

void MIDITempoListener::keepNewerHalfOfClockEvents() {
    if (clockEvents.size() >= 2) clockEvents.erase(clockEvents.begin(), clockEvents.begin() + std::ptrdiff_t(clockEvents.size() / 2));
}

void MIDITempoListener::clearClockEvents() {
    if (clockEvents.size() >= 2) clockEvents.clear();
}

}  // namespace sonora
