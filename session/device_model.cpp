// Decodes the device's replies once, for every view of the device.
#include "session/device_model.h"

#include "protocol/picture_codec.h"
#include "protocol/protocol.h"

namespace tavrion {

DeviceModel::DeviceModel(QObject* parent) : QObject(parent) {}

// Each code the model decodes, with the member that reads it: the one table of what the model
// takes, from which reply_codes() is derived.
struct DeviceModel::Decoder {
    const char* code;
    void (DeviceModel::*read)(const std::string& code, const std::string& reply);
};

const std::vector<DeviceModel::Decoder>& DeviceModel::decoders()
{
    static const std::vector<Decoder> table{
        {"AUA", &DeviceModel::read_dual_audio}, {"AUB", &DeviceModel::read_dual_audio},
        {"AUD", &DeviceModel::read_audio},      {"AUE", &DeviceModel::read_edid},
        {"BEH", &DeviceModel::read_bezel},      {"BEV", &DeviceModel::read_bezel},
        {"BEZ", &DeviceModel::read_bezel_switch}, {"BRI", &DeviceModel::read_picture},
        {"CAL", &DeviceModel::read_event},      {"CON", &DeviceModel::read_picture},
        {"HUE", &DeviceModel::read_picture},    {"INP", &DeviceModel::read_input},
        {"LCK", &DeviceModel::read_switch},     {"MOD", &DeviceModel::read_mode},
        {"OUT", &DeviceModel::read_output},     {"PWR", &DeviceModel::read_switch},
        {"RES", &DeviceModel::read_resolution}, {"RST", &DeviceModel::read_event},
        {"SAT", &DeviceModel::read_picture},    {"SAV", &DeviceModel::read_event},
        {"VER", &DeviceModel::read_firmware},
    };
    return table;
}

const std::vector<std::string>& DeviceModel::reply_codes()
{
    static const std::vector<std::string> codes = [] {
        std::vector<std::string> c;
        for (const Decoder& d : decoders()) c.push_back(d.code);
        return c;
    }();
    return codes;
}

void DeviceModel::reset()
{
    state_ = ReportedDevice{};
    display_mode_ = 1;
    current_output_ = 1;
    bezel_max_pending_ = false;
}

namespace {
bool is_maximum_query(const std::string& command) { return command == "BEH998" || command == "BEV998"; }
} // namespace

void DeviceModel::expect_answer_to(const std::string& command)
{
    if (is_maximum_query(command)) bezel_max_pending_ = true;
}

void DeviceModel::exchange_ended(const std::string& command, const Exchange& exchange)
{
    if (!is_maximum_query(command)) return;
    const bool replied = !exchange.reply.empty() && exchange.kind != Exchange::Kind::Unreadable;
    if (replied) bezel_max_pending_ = false;
}

bool DeviceModel::confirms(const std::string& command, const std::string& reply)
{
    const std::string code = command.substr(0, 3);
    if (code.rfind("MN", 0) == 0) return true;
    const int asked = std::stoi(command.substr(3));
    if (code == "LCK" || code == "PWR" || code == "AUD") return (reply_last_digit(reply) > 0) == (asked != 0);
    if (code == "RES") return reply_last_two(reply) == asked;
    if (code == "BEH" || code == "BEV" || picture_property(code)) return reply_last_three(reply) == asked;
    return reply_last_digit(reply) == asked % 10;
}

std::optional<int> picture_property(const std::string& code)
{
    for (int p = 0; p < 4; ++p)
        if (code == kPictureCodes[p]) return p;
    return std::nullopt;
}

void DeviceModel::take(const std::string& reply)
{
    emit accepted(reply);
    const std::string code = reply_code(reply);
    for (const Decoder& d : decoders())
        if (code == d.code) return (this->*d.read)(code, reply);
}

void DeviceModel::read_firmware(const std::string&, const std::string& reply)
{
    const int v = reply_last_three(reply);
    if (v < 0) return;
    state_.firmware = v;
    emit firmware_reported(v);
}

// PWR and LCK: 0 standby or unlocked, any other digit on or locked.
void DeviceModel::read_switch(const std::string& code, const std::string& reply)
{
    const int d = reply_last_digit(reply);
    if (d < 0) return;
    (code == "PWR" ? state_.power_on : state_.locked) = d != 0;
    if (code == "PWR") emit power_reported(d != 0);
    else emit lock_reported(d != 0);
}

void DeviceModel::read_mode(const std::string&, const std::string& reply)
{
    const int d = reply_last_digit(reply);
    if (d < 1 || d > 3) return; // a mode without a layout (MOD009) is ignored entirely
    // Picture values read in another layout name other rows: they are not this layout's.
    if (d != display_mode_) state_.picture = {};
    display_mode_ = d;
    state_.mode = d;
    emit mode_reported(d);
}

void DeviceModel::read_output(const std::string&, const std::string& reply)
{
    const int d = reply_last_digit(reply);
    if (d < 1 || d > 4) return; // so that current_output always names an output
    current_output_ = d;
    emit output_reported(d);
}

void DeviceModel::read_input(const std::string&, const std::string& reply)
{
    const int d = reply_last_digit(reply);
    if (d < 1 || d > 4) return;
    state_.routes[std::size_t(current_output_ - 1)] = d;
    emit input_reported(current_output_, d);
}

void DeviceModel::read_bezel(const std::string& code, const std::string& reply)
{
    const int p = reply_last_three(reply);
    // Above the largest amount: nothing changes, not even a pending maximum.
    if (p < 0 || p > kLargestBezel) return;
    const bool h = code == "BEH";
    if (bezel_max_pending_) {
        (h ? state_.bezel_h_max : state_.bezel_v_max) = p;
        bezel_max_pending_ = false;
        emit bezel_maximum_reported(h ? kBezelH : kBezelV, p);
    } else {
        (h ? state_.bezel_h : state_.bezel_v) = p;
        emit bezel_reported(h ? kBezelH : kBezelV, p);
    }
}

void DeviceModel::read_bezel_switch(const std::string&, const std::string& reply)
{
    const int d = reply_last_digit(reply);
    if (d != 0 && d != 1) return;
    state_.bezel_on = d == 1;
    emit bezel_switch_reported(d == 1);
}

void DeviceModel::read_edid(const std::string&, const std::string& reply)
{
    const int d = reply_last_digit(reply);
    if (d < 0 || d > 4) return;
    state_.edid = d;
    emit edid_reported(d);
}

void DeviceModel::read_dual_audio(const std::string& code, const std::string& reply)
{
    const int d = reply_last_digit(reply);
    if (d != 1 && d != 2) return;
    (code == "AUA" ? state_.dual_a : state_.dual_b) = d;
    emit dual_audio_reported(code == "AUA" ? 1 : 2, d);
}

void DeviceModel::read_audio(const std::string&, const std::string& reply)
{
    const int d = reply_last_digit(reply);
    if (d < 0) return;
    state_.audio_on = d != 0;
    emit audio_reported(d);
}

void DeviceModel::read_resolution(const std::string&, const std::string& reply)
{
    // Only the last two digits count: RES112 is the twelfth entry, RES000 none. The model keeps
    // what the device said even beyond a resolution list; the list's view decides.
    const int n = reply_last_two(reply);
    if (n < 0) return;
    state_.resolution = n;
    emit resolution_reported(n);
}

// CAL, SAV and RST report an event, not a setting: the digit as reported.
void DeviceModel::read_event(const std::string& code, const std::string& reply)
{
    const int d = reply_last_digit(reply);
    if (code == "CAL") emit preset_recalled(d);
    else if (code == "SAV") emit preset_saved(d);
    else emit reset_reported(d);
}

void DeviceModel::read_picture(const std::string& code, const std::string& reply)
{
    const int p = *picture_property(code);
    const auto target = decode_picture_parameter(display_mode_, reply_last_three(reply));
    if (!target) return; // names no row or slider position of this layout
    state_.picture[std::size_t(p)][std::size_t(target->row - 1)] = target->value;
    emit picture_reported(p, target->row, target->value);
}

void DeviceModel::take_network(const std::string& command, const std::string& answer)
{
    const std::string code = reply_code(command);
    const int setting = code == "EIP" ? kAddress : code == "EMK" ? kMask : kGateway;
    (setting == kAddress ? state_.ip : setting == kMask ? state_.mask : state_.gateway) = answer;
    emit network_reported(setting, answer);
}

} // namespace tavrion
