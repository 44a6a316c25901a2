// Reads sampler presets: XML property lists with an "Instrument" of "Layers", each with "Zones"
// (key range, root key, "waveform" naming a "Sample:<id>" of the "file-references"), an envelope
// whose stages 1 and 5 give attack and release, "trigger mode" and "voice count". Unknown keys
// are skipped; a file that is no such list throws.
#include "platform/audiotoolbox/AudioUnit.h"
#include "platform/audiotoolbox/AVAudioUnitSampler.h"
#include "platform/audiotoolbox/detail/SamplerInstrument.h"

#include <QXmlStreamReader>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <variant>

namespace platform::detail {

namespace {

constexpr int kMaximumDepth = 32;
constexpr size_t kMaximumBytes = 16u << 20;
constexpr int kTriggerModeIgnoresNoteOff = 11;

[[noreturn]] void malformed(const std::string& why) {
    throw NSErrorException(makeOSStatusError(kAudioUnitErr_InvalidFile, "The sampler preset is malformed: " + why));
}

struct Value;
using Dictionary = std::map<std::string, Value>;
using Array = std::vector<Value>;

struct Value {
    std::variant<std::monostate, bool, int64_t, double, std::string, Array, Dictionary> v;

    const Dictionary* dictionary() const { return std::get_if<Dictionary>(&v); }
    const Array* array() const { return std::get_if<Array>(&v); }
    const std::string* string() const { return std::get_if<std::string>(&v); }
    std::optional<int64_t> integer() const {
        if (const auto* i = std::get_if<int64_t>(&v)) return *i;
        return std::nullopt;
    }
    std::optional<double> number() const {
        if (const auto* d = std::get_if<double>(&v)) return *d;
        if (const auto* i = std::get_if<int64_t>(&v)) return double(*i);
        return std::nullopt;
    }
    std::optional<bool> boolean() const {
        if (const auto* b = std::get_if<bool>(&v)) return *b;
        return std::nullopt;
    }
};

class PlistParser {
public:
    explicit PlistParser(std::string_view bytes) : xml_(QByteArray(bytes.data(), qsizetype(bytes.size()))) {}

    Value parse() {
        while (!xml_.atEnd()) {
            xml_.readNext();
            if (xml_.isStartElement()) {
                if (xml_.name() != u"plist") malformed("the document is no property list");
                Value root;
                bool have = false;
                while (next()) {
                    if (have) malformed("the property list holds more than one value");
                    root = value(1);
                    have = true;
                }
                if (!have) malformed("the property list is empty");
                return root;
            }
        }
        check();
        malformed("the document is empty");
    }

private:
    // Moves to the next child element of the current one; false at its end.
    bool next() {
        while (!xml_.atEnd()) {
            xml_.readNext();
            if (xml_.isStartElement()) return true;
            if (xml_.isEndElement()) return false;
            if (xml_.isCharacters() && !xml_.isWhitespace()) malformed("stray text");
        }
        check();
        malformed("the document ends early");
    }

    void check() {
        if (xml_.hasError()) malformed(xml_.errorString().toStdString());
    }

    std::string text() {
        const QString t = xml_.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
        check();
        return t.toStdString();
    }

    Value value(int depth) {
        if (depth > kMaximumDepth) malformed("nested too deeply");
        const auto name = xml_.name();
        Value result;
        if (name == u"dict") {
            Dictionary dictionary;
            while (next()) {
                if (xml_.name() != u"key") malformed("a dictionary entry has no key");
                std::string key = text();
                if (!next()) malformed("the key \"" + key + "\" has no value");
                dictionary[std::move(key)] = value(depth + 1);
            }
            result.v = std::move(dictionary);
        } else if (name == u"array") {
            Array array;
            while (next()) array.push_back(value(depth + 1));
            result.v = std::move(array);
        } else if (name == u"string") {
            result.v = text();
        } else if (name == u"integer") {
            const std::string t = text();
            try {
                size_t used = 0;
                const long long n = std::stoll(t, &used, 10);
                if (used != t.size()) malformed("\"" + t + "\" is no integer");
                result.v = int64_t(n);
            } catch (const std::logic_error&) {
                malformed("\"" + t + "\" is no integer");
            }
        } else if (name == u"real") {
            const std::string t = text();
            std::istringstream in(t);
            in.imbue(std::locale::classic());
            double d = 0;
            if (!(in >> d) || !(in >> std::ws).eof() || !std::isfinite(d)) malformed("\"" + t + "\" is no number");
            result.v = d;
        } else if (name == u"true" || name == u"false") {
            result.v = name == u"true";
            if (next()) malformed("a boolean holds an element");
        } else if (name == u"data" || name == u"date") {
            text();
        } else {
            malformed("unknown element <" + xml_.name().toString().toStdString() + ">");
        }
        return result;
    }

    QXmlStreamReader xml_;
};

const Value* find(const Dictionary& dictionary, const char* key) {
    const auto it = dictionary.find(key);
    return it == dictionary.end() ? nullptr : &it->second;
}

std::optional<int> key(const Dictionary& zone, const char* name) {
    const Value* value = find(zone, name);
    if (!value) return std::nullopt;
    const auto n = value->integer();
    if (!n || *n < 0 || *n > 127) malformed(std::string("\"") + name + "\" is no key number");
    return int(*n);
}

double stageTime(const Dictionary& layer, int stage) {
    const Value* envelopes = find(layer, "Envelopes");
    if (!envelopes || !envelopes->array() || envelopes->array()->empty()) return 0;
    const auto* envelope = envelopes->array()->front().dictionary();
    const Value* stages = envelope ? find(*envelope, "Stages") : nullptr;
    if (!stages || !stages->array()) return 0;
    for (const Value& s : *stages->array()) {
        const auto* d = s.dictionary();
        if (!d) continue;
        const Value* number = find(*d, "stage");
        const Value* time = find(*d, "time");
        if (number && number->integer() == stage && time && time->number()) return std::max(0.0, *time->number());
    }
    return 0;
}

}  // namespace

SamplerPreset parseAUPreset(std::string_view bytes, const std::filesystem::path& folder) {
    if (bytes.size() > kMaximumBytes) malformed("the file is too large");
    const Value root = PlistParser(bytes).parse();
    const Dictionary* top = root.dictionary();
    if (!top) malformed("the top value is no dictionary");

    std::map<int64_t, std::string> files;
    if (const Value* references = find(*top, "file-references"); references && references->dictionary()) {
        for (const auto& [name, path] : *references->dictionary()) {
            if (name.rfind("Sample:", 0) != 0 || !path.string()) continue;
            try {
                size_t used = 0;
                const long long id = std::stoll(name.substr(7), &used, 10);
                if (used == name.size() - 7) files[id] = *path.string();
            } catch (const std::logic_error&) {
            }
        }
    }

    SamplerPreset preset;
    const Value* instrument = find(*top, "Instrument");
    if (!instrument || !instrument->dictionary()) malformed("there is no \"Instrument\"");
    const Value* layers = find(*instrument->dictionary(), "Layers");
    if (!layers || !layers->array()) malformed("the instrument has no \"Layers\"");
    for (const Value& l : *layers->array()) {
        const Dictionary* layer = l.dictionary();
        if (!layer) malformed("a layer is no dictionary");
        SamplerLayer out;
        out.attack = stageTime(*layer, 1);
        out.release = stageTime(*layer, 5);
        if (const Value* mode = find(*layer, "trigger mode"))
            out.ignoreNoteOff = mode->integer() == kTriggerModeIgnoresNoteOff;
        if (const Value* voices = find(*layer, "voice count"); voices && voices->integer())
            out.voiceCount = int(std::clamp<int64_t>(*voices->integer(), 1, 256));
        if (const Value* zones = find(*layer, "Zones"); zones && zones->array()) {
            for (const Value& z : *zones->array()) {
                const Dictionary* zone = z.dictionary();
                if (!zone) malformed("a zone is no dictionary");
                const Value* waveform = find(*zone, "waveform");
                if (!waveform || !waveform->integer()) malformed("a zone has no \"waveform\"");
                const auto file = files.find(*waveform->integer());
                if (file == files.end())
                    malformed("no file reference for sample " + std::to_string(*waveform->integer()));
                SamplerZone out_zone;
                const std::filesystem::path path(file->second);
                out_zone.file = URL(path.is_absolute() ? path : folder / path);
                out_zone.rootKey = key(*zone, "root key");
                out_zone.minKey = key(*zone, "min key");
                out_zone.maxKey = key(*zone, "max key");
                if (const Value* loop = find(*zone, "loop enabled")) out_zone.loopEnabled = loop->boolean();
                out.zones.push_back(std::move(out_zone));
            }
        }
        preset.layers.push_back(std::move(out));
    }
    return preset;
}

SamplerPreset readAUPreset(const URL& url) {
    std::ifstream in(url.filePath(), std::ios::binary);
    if (!in) throw NSErrorException(makeOSStatusError(kAudioUnitErr_FileNotFound,
                                                      "The sampler preset \"" + url.path() + "\" cannot be opened."));
    std::string bytes;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        bytes.append(buffer, size_t(in.gcount()));
        if (bytes.size() > kMaximumBytes) malformed("the file is too large");
    }
    return parseAUPreset(bytes, url.filePath().parent_path());
}

}  // namespace platform::detail
