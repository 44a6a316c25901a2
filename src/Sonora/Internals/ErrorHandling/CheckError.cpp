#include "Sonora/Internals/ErrorHandling/CheckError.h"

#include "Sonora/Internals/Utilities/Log.h"

#include <string>

namespace sonora {

namespace {
const char* constantName(platform::OSStatus error) {
    switch (error) {
    case -10879: return "kAudioUnitErr_InvalidProperty";
    case -10878: return "kAudioUnitErr_InvalidParameter";
    case -10877: return "kAudioUnitErr_InvalidElement";
    case -10876: return "kAudioUnitErr_NoConnection";
    case -10875: return "kAudioUnitErr_FailedInitialization";
    case -10874: return "kAudioUnitErr_TooManyFramesToProcess";
    case -10871: return "kAudioUnitErr_InvalidFile";
    case -10868: return "kAudioUnitErr_FormatNotSupported";
    case -10867: return "kAudioUnitErr_Uninitialized";
    case -10866: return "kAudioUnitErr_InvalidScope";
    case -10865: return "kAudioUnitErr_PropertyNotWritable";
    case -10864: return "kAUGraphErr_InvalidAudioUnit";
    case -10863: return "kAUGraphErr_CannotDoInCurrentContext";
    case -10862: return "kAUGraphErr_OutputNodeErr";
    case -10861: return "kAUGraphErr_InvalidConnection";
    case -10860: return "kAUGraphErr_NodeNotFound";
    case -10859: return "kAudioToolboxErr_TrackIndexError";
    case -10858: return "kAudioToolboxErr_TrackNotFound";
    case -10857: return "kAudioToolboxErr_EndOfTrack";
    case -10856: return "kAudioToolboxErr_StartOfTrack";
    case -10855: return "kAudioToolboxErr_IllegalTrackDestination";
    case -10854: return "kAudioToolboxErr_NoSequence";
    case -10853: return "kAudioToolboxErr_InvalidEventType";
    case -10852: return "kAudioToolboxErr_InvalidPlayerState";
    case -10851: return "kAudioUnitErr_InvalidPropertyValue";
    case -10850: return "kAudioUnitErr_PropertyNotInUse";
    case -10849: return "kAudioUnitErr_Initialized";
    case -10848: return "kAudioUnitErr_InvalidOfflineRender";
    case -10847: return "kAudioUnitErr_Unauthorized";
    case -10846: return "kAudioToolboxErr_InvalidSequenceType";
    case -10844: return "kMIDINotPermitted: Have you enabled the audio background mode in your ios app?";
    case -10843: return "kMIDIIDNotUnique";
    case -10842: return "kMIDIObjectNotFound";
    case -10841: return "kMIDIWrongThread";
    case -10840: return "kMIDISetupFormatErr";
    case -10839: return "kMIDIServerStartErr";
    case -10838: return "kMIDIMessageSendErr";
    case -10837: return "kMIDINoCurrentSetup";
    case -10836: return "kMIDIWrongPropertyType";
    case -10835: return "kMIDIUnknownProperty";
    case -10834: return "kMIDIUnknownEndpoint";
    case -10833: return "kMIDINoConnection";
    case -10832: return "kMIDIWrongEndpointType";
    case -10831: return "kMIDIInvalidPort";
    case -10830: return "kMIDIInvalidClient";
    case -50: return "kAudio_ParamError";
    default: return nullptr;
    }
}
}  // namespace

void CheckError(platform::OSStatus error) {
    if (error == platform::noErr) return;
    const char* name = constantName(error);
    Log({name ? std::string(name) : std::to_string(error)}, OSLog::general(), OSLogType::error);
}

}  // namespace sonora
