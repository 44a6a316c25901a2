#include "Sonora/MIDI/EndpointInfo.h"

#include "Sonora/MIDI/MIDI.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <functional>

namespace sonora {

namespace {
std::string stringProperty(MIDIEndpointRef endpoint, const char* property) {
    std::string value;
    platform::MIDIObjectGetStringProperty(endpoint, property, &value);
    return value;
}

void combine(size_t& seed, size_t value) { seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); }
}  // namespace

EndpointInfo::EndpointInfo(std::string name, std::string displayName, std::string model, std::string manufacturer,
                           std::string image, std::string driverOwner, MIDIUniqueID midiUniqueID,
                           MIDIEndpointRef midiEndpointRef, std::optional<MIDIPortRef> midiPortRef)
    : name(std::move(name)), displayName(std::move(displayName)), model(std::move(model)),
      manufacturer(std::move(manufacturer)), image(std::move(image)), driverOwner(std::move(driverOwner)),
      midiUniqueID(midiUniqueID), midiEndpointRef(midiEndpointRef), midiPortRef(midiPortRef) {}

EndpointInfo EndpointInfo::of(MIDIEndpointRef endpoint) {
    EndpointInfo info;
    info.name = stringProperty(endpoint, platform::kMIDIPropertyName);
    info.displayName = stringProperty(endpoint, platform::kMIDIPropertyDisplayName);
    info.model = stringProperty(endpoint, platform::kMIDIPropertyModel);
    info.manufacturer = stringProperty(endpoint, platform::kMIDIPropertyManufacturer);
    info.image = stringProperty(endpoint, platform::kMIDIPropertyImage);
    info.driverOwner = stringProperty(endpoint, platform::kMIDIPropertyDriverOwner);
    int32_t id = 0;
    if (platform::MIDIObjectGetIntegerProperty(endpoint, platform::kMIDIPropertyUniqueID, &id) != platform::noErr) id = 0;
    info.midiUniqueID = id;
    info.midiEndpointRef = endpoint;
    return info;
}

size_t EndpointInfo::hashValue() const {
    size_t seed = 0;
    for (const auto* text : {&name, &displayName, &model, &manufacturer, &image, &driverOwner})
        combine(seed, std::hash<std::string>{}(*text));
    combine(seed, uint32_t(midiUniqueID));
    combine(seed, midiPortRef ? 1 : 0);
    if (midiPortRef) combine(seed, *midiPortRef);
    return seed;
}

bool EndpointInfo::operator==(const EndpointInfo& o) const {
    // The hashed fields themselves: two infos whose hashes collide are not thereby equal.
    return name == o.name && displayName == o.displayName && model == o.model && manufacturer == o.manufacturer &&
           image == o.image && driverOwner == o.driverOwner && midiUniqueID == o.midiUniqueID &&
           midiPortRef == o.midiPortRef;
}

std::string EndpointInfo::encode() const {
    QJsonObject o;
    o["name"] = QString::fromStdString(name);
    o["displayName"] = QString::fromStdString(displayName);
    o["model"] = QString::fromStdString(model);
    o["manufacturer"] = QString::fromStdString(manufacturer);
    o["image"] = QString::fromStdString(image);
    o["driverOwner"] = QString::fromStdString(driverOwner);
    o["midiUniqueID"] = midiUniqueID;
    o["midiEndpointRef"] = qint64(midiEndpointRef);
    if (midiPortRef) o["midiPortRef"] = qint64(*midiPortRef);
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

EndpointInfo EndpointInfo::decode(const std::string& json) {
    const auto document = QJsonDocument::fromJson(QByteArray::fromStdString(json));
    if (!document.isObject()) throw DecodingError("EndpointInfo: not a JSON object");
    const auto o = document.object();
    const auto text = [&](const char* key) {
        const auto v = o.value(key);
        if (v.isUndefined()) throw DecodingError(std::string("EndpointInfo: key not found: ") + key);
        if (!v.isString()) throw DecodingError(std::string("EndpointInfo: not a string: ") + key);
        return v.toString().toStdString();
    };
    const auto integer = [&](const char* key, int64_t low, int64_t high) {
        const auto v = o.value(key);
        if (v.isUndefined()) throw DecodingError(std::string("EndpointInfo: key not found: ") + key);
        const double d = v.toDouble();
        if (!v.isDouble() || d != double(int64_t(d)) || d < double(low) || d > double(high))
            throw DecodingError(std::string("EndpointInfo: not an integer in range: ") + key);
        return int64_t(d);
    };
    EndpointInfo info;
    info.name = text("name");
    info.displayName = text("displayName");
    info.model = text("model");
    info.manufacturer = text("manufacturer");
    info.image = text("image");
    info.driverOwner = text("driverOwner");
    info.midiUniqueID = MIDIUniqueID(integer("midiUniqueID", INT32_MIN, INT32_MAX));
    info.midiEndpointRef = MIDIEndpointRef(integer("midiEndpointRef", 0, UINT32_MAX));
    if (o.contains("midiPortRef")) info.midiPortRef = MIDIPortRef(integer("midiPortRef", 0, UINT32_MAX));
    return info;
}

namespace {
std::vector<EndpointInfo> infosOf(const std::vector<MIDIEndpointRef>& endpoints) {
    std::vector<EndpointInfo> infos;
    for (auto endpoint : endpoints) infos.push_back(EndpointInfo::of(endpoint));
    return infos;
}
}  // namespace

std::vector<EndpointInfo> MIDI::sourceInfos() const {
    std::vector<EndpointInfo> infos;
    for (platform::ItemCount i = 0, n = platform::MIDIGetNumberOfSources(); i < n; ++i)
        infos.push_back(EndpointInfo::of(platform::MIDIGetSource(i)));
    return infos;
}

std::vector<EndpointInfo> MIDI::destinationInfos() const {
    std::vector<EndpointInfo> infos;
    for (platform::ItemCount i = 0, n = platform::MIDIGetNumberOfDestinations(); i < n; ++i)
        infos.push_back(EndpointInfo::of(platform::MIDIGetDestination(i)));
    return infos;
}

std::vector<EndpointInfo> MIDI::virtualInputInfos() const { return infosOf(virtualInputs()); }
std::vector<EndpointInfo> MIDI::virtualOutputInfos() const { return infosOf(virtualOutputs()); }

}  // namespace sonora
