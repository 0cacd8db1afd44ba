#include "verbs/device_status.h"

#include "protocol/command_catalogue.h"
#include "protocol/picture_codec.h"
#include "protocol/protocol.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cstdio>

namespace tavrion::verbs {

namespace {

constexpr const char* kDeviceName = "KV-7720";
constexpr int kFormat = 1;
const char* const kPositions[] = {"A", "B", "C", "D"};
const char* const kDualNames[] = {"AL", "AR", "BL", "BR"};

std::string on_off(bool on) { return on ? "on" : "off"; }
std::string side_text(int side) { return side == 1 ? "left" : "right"; }

// "192.168.001.100" (the device pads each part) reads as 192.168.1.100; anything else as given.
std::string address_text(const std::string& answer)
{
    std::string t = answer;
    while (!t.empty() && (t.back() == '\r' || t.back() == '\n')) t.pop_back();
    int parts[4];
    char tail = 0;
    if (std::sscanf(t.c_str(), "%3d.%3d.%3d.%3d%c", &parts[0], &parts[1], &parts[2], &parts[3], &tail) != 4)
        return t;
    std::string out;
    for (int i = 0; i < 4; ++i) {
        if (parts[i] < 0 || parts[i] > 255) return t;
        out += (i ? "." : "") + std::to_string(parts[i]);
    }
    return out;
}

std::string resolution_name(int number, const std::vector<std::string>* resolutions)
{
    if (!resolutions || number < 1 || number > int(resolutions->size())) return {};
    return (*resolutions)[std::size_t(number - 1)];
}

template <typename T, typename F>
std::string or_dash(const std::optional<T>& v, F text)
{
    return v ? text(*v) : std::string("-");
}

std::string number_text(int n) { return std::to_string(n); }

// Outputs and picture rows as the window names them in `mode`: AL..BR in Dual, A..D otherwise;
// the one picture row of Matrix is "all". JSON keys stay A..D in every mode.
std::string position_name(int mode, int n) { return mode == 2 ? kDualNames[n - 1] : kPositions[n - 1]; }
std::string row_name(int mode, int row) { return mode == 1 ? "all" : position_name(mode, row); }

// One cell of a table line: the name padded to the widest name of the mode, the value right-aligned,
// so that the routes and the picture rows line up in columns.
std::string cell(int mode, const std::string& name, const std::string& value)
{
    const std::size_t width = mode == 1 ? 3 : mode == 2 ? 2 : 1;
    std::string c = name + std::string(name.size() < width ? width - name.size() : 0, ' ') + " ";
    return c + std::string(value.size() < 3 ? 3 - value.size() : 0, ' ') + value;
}

// ---- JSON --------------------------------------------------------------------------------------

QString q(const std::string& s) { return QString::fromStdString(s); }

template <typename T, typename F>
QJsonValue json_or_null(const std::optional<T>& v, F make)
{
    return v ? QJsonValue(make(*v)) : QJsonValue(QJsonValue::Null);
}

QJsonValue word(const std::string& w) { return QJsonValue(q(w)); }

// Reading a backup: each accessor notes the first thing wrong and returns a harmless value.
class BackupReader {
public:
    std::string error;

    QJsonObject object(const QJsonObject& parent, const char* key)
    {
        const QJsonValue v = parent.value(QLatin1String(key));
        if (!v.isObject()) fail(std::string("\"") + key + "\" is missing or not an object");
        return v.toObject();
    }
    int integer(const QJsonObject& parent, const char* key, int lo, int hi, const std::string& where)
    {
        const QJsonValue v = parent.value(QLatin1String(key));
        const double d = v.toDouble(-1.0);
        if (!v.isDouble() || d != double(int(d)) || int(d) < lo || int(d) > hi) {
            fail(where + " must be a whole number from " + std::to_string(lo) + " to " + std::to_string(hi));
            return lo;
        }
        return int(d);
    }
    // Index of the word among `words` (first word 0).
    template <std::size_t N>
    int choice(const QJsonObject& parent, const char* key, const std::array<const char*, N>& words,
               const std::string& where)
    {
        const QString w = parent.value(QLatin1String(key)).toString();
        for (std::size_t i = 0; i < N; ++i)
            if (w == QLatin1String(words[i])) return int(i);
        std::string list;
        for (std::size_t i = 0; i < N; ++i) list += std::string(i ? ", " : "") + words[i];
        fail(where + " must be one of " + list);
        return 0;
    }
    bool ok() const { return error.empty(); }

private:
    void fail(const std::string& why)
    {
        if (error.empty()) error = why;
    }
};

const std::array<const char*, 2> kOffOn{{"off", "on"}};
const std::array<const char*, 2> kSides{{"left", "right"}};
const std::array<const char*, 2> kStandbyOn{{"standby", "on"}};

} // namespace

int DeviceStatus::picture_rows() const
{
    if (!mode) return 0;
    if (*mode == 1) return 1;
    return (*mode == 2 || *mode == 3) ? kPictureRows : 0;
}

std::vector<std::string> DeviceStatus::unread_settings() const
{
    std::vector<std::string> missing;
    auto need = [&missing](bool have, const std::string& name) {
        if (!have) missing.push_back(name);
    };
    need(bool(locked), "lock");
    need(bool(mode), "mode");
    for (int n = 0; n < 4; ++n) need(bool(routes[std::size_t(n)]), std::string("route ") + kPositions[n]);
    for (std::size_t p = 0; p < 4; ++p)
        for (int r = 1; r <= picture_rows(); ++r)
            need(bool(picture[p][std::size_t(r - 1)]), std::string(kPictureNames[p]) + " " + row_key(*mode, r));
    need(bool(bezel_on), "bezel");
    need(bool(bezel_h), "bezel h");
    need(bool(bezel_v), "bezel v");
    need(bool(edid), "audio EDID");
    need(bool(audio_on), "mute");
    need(bool(dual_a), "dual audio A");
    need(bool(dual_b), "dual audio B");
    need(resolution && *resolution > 0, "resolution");
    return missing;
}

DeviceStatus status_of(const DeviceModel& model)
{
    DeviceStatus s;
    static_cast<ReportedDevice&>(s) = model.state();
    for (std::optional<std::string>* field : {&s.ip, &s.mask, &s.gateway})
        if (*field) *field = address_text(**field);
    return s;
}

std::string firmware_text(int version)
{
    const std::string digits = pad3(version);
    return digits.substr(0, 1) + "." + digits.substr(1);
}

std::string mode_text(int mode) { return mode >= 1 && mode <= 3 ? kModeNames[std::size_t(mode - 1)] : "?"; }

std::string output_name(int mode, int output)
{
    if (output < 1 || output > 4) return "?";
    if (mode == 3) return "wall";
    return mode == 2 ? kDualNames[output - 1] : kPositions[output - 1];
}

std::string row_key(int mode, int row)
{
    if (mode == 1) return "all";
    return row >= 1 && row <= 4 ? kPositions[row - 1] : "?";
}

std::string row_label(int mode, int row) { return row >= 1 && row <= 4 ? row_name(mode, row) : "?"; }

std::string printable(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\\') out += "\\\\";
        else if (c >= 0x20 && c < 0x7f) out += char(c);
        else {
            char buf[5];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

std::string status_table(const DeviceStatus& s, const std::vector<std::string>* resolutions)
{
    std::string out;
    auto line = [&out](const char* label, const std::string& value) {
        char head[16];
        std::snprintf(head, sizeof head, "%-13s", label);
        out += head + value + "\n";
    };
    const int mode = s.mode.value_or(0);
    line("Firmware", or_dash(s.firmware, firmware_text));
    line("Power", or_dash(s.power_on, [](bool on) { return std::string(on ? "on" : "standby"); }));
    line("Lock", or_dash(s.locked, on_off));
    line("Mode", or_dash(s.mode, mode_text));
    std::string routes;
    for (int n = 1; n <= 4; ++n)
        routes += (n > 1 ? "   " : "") + cell(mode, position_name(mode, n), or_dash(s.routes[std::size_t(n - 1)], number_text));
    line("Routes", routes);
    static const char* const labels[] = {"Brightness", "Contrast", "Hue", "Saturation"};
    for (std::size_t p = 0; p < 4; ++p) {
        std::string rows;
        for (int r = 1; r <= s.picture_rows(); ++r)
            rows += (r > 1 ? "   " : "") + cell(mode, row_name(mode, r), or_dash(s.picture[p][std::size_t(r - 1)], number_text));
        line(labels[p], s.picture_rows() ? rows : "-");
    }
    line("Bezel", or_dash(s.bezel_on, on_off) + "   H " + or_dash(s.bezel_h, number_text) + " of "
                      + or_dash(s.bezel_h_max, number_text) + "   V " + or_dash(s.bezel_v, number_text) + " of "
                      + or_dash(s.bezel_v_max, number_text));
    line("Audio EDID", or_dash(s.edid, [](int e) { return std::string(kEdidNames[std::size_t(e)]); }));
    line("Mute", or_dash(s.audio_on, [](bool on) { return on_off(muted_when_audio(on)); }));
    line("Dual audio", "A " + or_dash(s.dual_a, side_text) + "   B " + or_dash(s.dual_b, side_text));
    std::string reso = or_dash(s.resolution, number_text);
    if (s.resolution) {
        const std::string name = resolution_name(*s.resolution, resolutions);
        if (!name.empty()) reso += "  " + printable(name);
    }
    line("Resolution", reso);
    if (s.ip || s.mask || s.gateway) {
        auto text = [](const std::string& t) { return printable(t); };
        line("IP address", or_dash(s.ip, text));
        line("Subnet mask", or_dash(s.mask, text));
        line("Gateway", or_dash(s.gateway, text));
    }
    return out;
}

std::string status_json(const DeviceStatus& s, const std::vector<std::string>* resolutions)
{
    return QJsonDocument(status_object(s, resolutions)).toJson(QJsonDocument::Indented).toStdString();
}

StatusWords status_words(const DeviceStatus& s, const std::vector<std::string>* resolutions)
{
    auto word = [](const auto& v, auto text) { return v ? text(*v) : std::string(); };
    StatusWords w;
    w.firmware = word(s.firmware, firmware_text);
    w.power = word(s.power_on, [](bool on) { return std::string(on ? "on" : "standby"); });
    w.mode = word(s.mode, mode_text);
    w.lock = word(s.locked, on_off);
    w.mute = word(s.audio_on, [](bool on) { return on_off(muted_when_audio(on)); });
    for (std::size_t n = 0; n < 4; ++n) w.routes[n] = word(s.routes[n], number_text);
    if (s.resolution) {
        w.resolution = resolution_name(*s.resolution, resolutions);
        if (w.resolution.empty()) w.resolution = number_text(*s.resolution);
    }
    return w;
}

QJsonObject status_object(const DeviceStatus& s, const std::vector<std::string>* resolutions)
{
    QJsonObject root;
    root[QStringLiteral("format")] = kFormat;
    root[QStringLiteral("device")] = QLatin1String(kDeviceName);
    root[QStringLiteral("firmware")] = json_or_null(s.firmware, [](int v) { return q(firmware_text(v)); });
    root[QStringLiteral("power")] = json_or_null(s.power_on, [](bool on) { return q(on ? "on" : "standby"); });
    root[QStringLiteral("lock")] = json_or_null(s.locked, [](bool on) { return q(on_off(on)); });
    root[QStringLiteral("mode")] = json_or_null(s.mode, [](int m) { return q(mode_text(m)); });

    QJsonObject routes;
    for (int n = 0; n < 4; ++n) routes[QLatin1String(kPositions[n])] = json_or_null(s.routes[std::size_t(n)], [](int i) { return i; });
    root[QStringLiteral("routes")] = routes;

    if (s.picture_rows()) {
        QJsonObject picture;
        for (std::size_t p = 0; p < 4; ++p) {
            QJsonObject rows;
            for (int r = 1; r <= s.picture_rows(); ++r)
                rows[q(row_key(*s.mode, r))] = json_or_null(s.picture[p][std::size_t(r - 1)], [](int v) { return v; });
            picture[QLatin1String(kPictureNames[p])] = rows;
        }
        root[QStringLiteral("picture")] = picture;
    } else {
        root[QStringLiteral("picture")] = QJsonValue::Null; // no layout known to name the rows
    }

    auto number = [](int v) { return v; };
    QJsonObject bezel;
    bezel[QStringLiteral("state")] = json_or_null(s.bezel_on, [](bool on) { return q(on_off(on)); });
    bezel[QStringLiteral("h")] = json_or_null(s.bezel_h, number);
    bezel[QStringLiteral("v")] = json_or_null(s.bezel_v, number);
    bezel[QStringLiteral("h_max")] = json_or_null(s.bezel_h_max, number);
    bezel[QStringLiteral("v_max")] = json_or_null(s.bezel_v_max, number);
    root[QStringLiteral("bezel")] = bezel;

    QJsonObject audio;
    audio[QStringLiteral("edid")] = json_or_null(s.edid, [](int e) { return q(kEdidNames[std::size_t(e)]); });
    audio[QStringLiteral("mute")] = json_or_null(s.audio_on, [](bool on) { return q(on_off(muted_when_audio(on))); });
    audio[QStringLiteral("dual_a")] = json_or_null(s.dual_a, [](int d) { return q(side_text(d)); });
    audio[QStringLiteral("dual_b")] = json_or_null(s.dual_b, [](int d) { return q(side_text(d)); });
    root[QStringLiteral("audio")] = audio;

    QJsonObject reso;
    reso[QStringLiteral("number")] = json_or_null(s.resolution, number);
    const std::string name = s.resolution ? resolution_name(*s.resolution, resolutions) : std::string();
    reso[QStringLiteral("name")] = name.empty() ? QJsonValue(QJsonValue::Null) : QJsonValue(q(name));
    root[QStringLiteral("resolution")] = reso;

    if (s.ip || s.mask || s.gateway) {
        QJsonObject net;
        auto text = [](const std::string& t) { return q(t); };
        net[QStringLiteral("ip")] = json_or_null(s.ip, text);
        net[QStringLiteral("mask")] = json_or_null(s.mask, text);
        net[QStringLiteral("gateway")] = json_or_null(s.gateway, text);
        root[QStringLiteral("network")] = net;
    } else {
        root[QStringLiteral("network")] = QJsonValue::Null; // read over RS-232 only
    }
    return root;
}

std::optional<DeviceStatus> status_from_backup(const std::string& json, std::string& error)
{
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json), &parse);
    if (parse.error != QJsonParseError::NoError) {
        error = "not JSON (" + parse.errorString().toStdString() + " at byte " + std::to_string(parse.offset) + ")";
        return std::nullopt;
    }
    if (!doc.isObject()) {
        error = "not a JSON object";
        return std::nullopt;
    }
    const QJsonObject root = doc.object();
    if (root.value(QStringLiteral("format")).toInt(-1) != kFormat
        || root.value(QStringLiteral("device")).toString() != QLatin1String(kDeviceName)) {
        error = "no \"format\": 1 and \"device\": \"KV-7720\"";
        return std::nullopt;
    }

    BackupReader r;
    DeviceStatus s;
    s.mode = 1 + r.choice(root, "mode", kModeNames, "\"mode\"");
    s.locked = r.choice(root, "lock", kOffOn, "\"lock\"") == 1;
    const QJsonObject routes = r.object(root, "routes");
    for (int n = 0; n < 4; ++n)
        s.routes[std::size_t(n)] = r.integer(routes, kPositions[n], 1, 4, std::string("route ") + kPositions[n]);
    const QJsonObject picture = r.object(root, "picture");
    for (std::size_t p = 0; p < 4 && r.ok(); ++p) {
        const QJsonObject rows = r.object(picture, kPictureNames[p]);
        for (int row = 1; row <= s.picture_rows(); ++row) {
            const std::string key = row_key(*s.mode, row);
            s.picture[p][std::size_t(row - 1)] =
                r.integer(rows, key.c_str(), 0, kPictureMax, std::string(kPictureNames[p]) + " " + key);
        }
    }
    const QJsonObject bezel = r.object(root, "bezel");
    s.bezel_on = r.choice(bezel, "state", kOffOn, "bezel \"state\"") == 1;
    s.bezel_h = r.integer(bezel, "h", 0, kLargestBezel, "bezel \"h\"");
    s.bezel_v = r.integer(bezel, "v", 0, kLargestBezel, "bezel \"v\"");
    const QJsonObject audio = r.object(root, "audio");
    s.edid = r.choice(audio, "edid", kEdidNames, "audio \"edid\"");
    s.audio_on = audio_when_muted(r.choice(audio, "mute", kOffOn, "audio \"mute\"") != 0);
    s.dual_a = 1 + r.choice(audio, "dual_a", kSides, "audio \"dual_a\"");
    s.dual_b = 1 + r.choice(audio, "dual_b", kSides, "audio \"dual_b\"");
    s.resolution = r.integer(r.object(root, "resolution"), "number", 1, 99, "resolution \"number\"");
    // Kept for the differences; restore does not put them back.
    if (root.value(QStringLiteral("power")).isString())
        s.power_on = r.choice(root, "power", kStandbyOn, "\"power\"") == 1;
    if (!r.ok()) {
        error = r.error;
        return std::nullopt;
    }
    return s;
}

std::vector<Difference> differences(const DeviceStatus& file, const DeviceStatus& device)
{
    using Entries = std::vector<std::pair<std::string, std::string>>;
    auto entries = [](const DeviceStatus& s) {
        // Power is kept for reference only: restore does not put it back, and diff refuses a device
        // in standby, so it is not compared.
        Entries e;
        e.emplace_back("lock", or_dash(s.locked, on_off));
        e.emplace_back("mode", or_dash(s.mode, mode_text));
        for (int n = 0; n < 4; ++n)
            e.emplace_back(std::string("route ") + kPositions[n], or_dash(s.routes[std::size_t(n)], number_text));
        for (std::size_t p = 0; p < 4; ++p)
            for (int r = 1; r <= s.picture_rows(); ++r)
                e.emplace_back(std::string(kPictureNames[p]) + " " + row_key(*s.mode, r),
                               or_dash(s.picture[p][std::size_t(r - 1)], number_text));
        e.emplace_back("bezel", or_dash(s.bezel_on, on_off));
        e.emplace_back("bezel h", or_dash(s.bezel_h, number_text));
        e.emplace_back("bezel v", or_dash(s.bezel_v, number_text));
        e.emplace_back("audio EDID", or_dash(s.edid, [](int v) { return std::string(kEdidNames[std::size_t(v)]); }));
        e.emplace_back("mute", or_dash(s.audio_on, [](bool on) { return on_off(muted_when_audio(on)); }));
        e.emplace_back("dual audio A", or_dash(s.dual_a, side_text));
        e.emplace_back("dual audio B", or_dash(s.dual_b, side_text));
        e.emplace_back("resolution", or_dash(s.resolution, number_text));
        return e;
    };
    const Entries a = entries(file), b = entries(device);
    auto find = [](const Entries& e, const std::string& key) -> std::optional<std::string> {
        for (const auto& kv : e)
            if (kv.first == key) return kv.second;
        return std::nullopt;
    };
    // Keys are compared as A..D; shown with the names of the mode they come from (the file's, or
    // the device's for rows only its layout has), as the table shows them.
    auto shown = [](const std::string& key, const DeviceStatus& s) {
        const int mode = s.mode.value_or(0);
        const auto space = key.rfind(' ');
        if (mode != 2 || space == std::string::npos || key.size() != space + 2 || key.rfind("bezel", 0) == 0
            || key.rfind("dual audio", 0) == 0)
            return key;
        const char last = key.back();
        return last >= 'A' && last <= 'D' ? key.substr(0, space + 1) + position_name(2, last - 'A' + 1) : key;
    };
    std::vector<Difference> out;
    for (const auto& kv : a) {
        const std::string other = find(b, kv.first).value_or("-");
        if (other != kv.second) out.push_back({shown(kv.first, file), kv.second, other});
    }
    // Rows that only the device's layout has (the file was taken in another mode).
    for (const auto& kv : b)
        if (!find(a, kv.first) && kv.second != "-") out.push_back({shown(kv.first, device), "-", kv.second});
    return out;
}

std::string Difference::text() const { return setting + ": file " + file + ", device " + device; }

} // namespace tavrion::verbs
