// Decodes the device's replies once, for every view of the device.
#include "session/device_model.h"

#include "protocol/command_catalogue.h"
#include "protocol/picture_codec.h"
#include "protocol/protocol.h"

namespace tavrion {

DeviceModel::DeviceModel(QObject* parent) : QObject(parent) {}

// Each code the model decodes, with the member that reads it: the one table of what the model
// takes, from which reply_codes() is derived.
struct DeviceModel::Decoder {
    Code code;
    void (DeviceModel::*read)(const std::string& code, const std::string& reply);
};

const std::vector<DeviceModel::Decoder>& DeviceModel::decoders()
{
    static const std::vector<Decoder> table{
        {Code::AUA, &DeviceModel::read_dual_audio}, {Code::AUB, &DeviceModel::read_dual_audio},
        {Code::AUD, &DeviceModel::read_audio},      {Code::AUE, &DeviceModel::read_edid},
        {Code::BEH, &DeviceModel::read_bezel},      {Code::BEV, &DeviceModel::read_bezel},
        {Code::BEZ, &DeviceModel::read_bezel_switch}, {Code::BRI, &DeviceModel::read_picture},
        {Code::CAL, &DeviceModel::read_event},      {Code::CON, &DeviceModel::read_picture},
        {Code::HUE, &DeviceModel::read_picture},    {Code::INP, &DeviceModel::read_input},
        {Code::LCK, &DeviceModel::read_switch},     {Code::MOD, &DeviceModel::read_mode},
        {Code::OUT, &DeviceModel::read_output},     {Code::PWR, &DeviceModel::read_switch},
        {Code::RES, &DeviceModel::read_resolution}, {Code::RST, &DeviceModel::read_event},
        {Code::SAT, &DeviceModel::read_picture},    {Code::SAV, &DeviceModel::read_event},
        {Code::VER, &DeviceModel::read_firmware},
    };
    return table;
}

const std::vector<std::string>& DeviceModel::reply_codes()
{
    static const std::vector<std::string> codes = [] {
        std::vector<std::string> c;
        for (const Decoder& d : decoders()) c.push_back(code_text(d.code));
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

void DeviceModel::expect_answer_to(const std::string& command)
{
    if (maximum_query(command)) bezel_max_pending_ = true;
}

void DeviceModel::exchange_ended(const std::string& command, const Exchange& exchange)
{
    if (!maximum_query(command)) return;
    const bool replied = !exchange.reply.empty() && exchange.kind != Exchange::Kind::Unreadable;
    if (replied) bezel_max_pending_ = false;
}

void DeviceModel::take(const std::string& reply)
{
    emit accepted(reply);
    const std::string code = reply_code(reply);
    for (const Decoder& d : decoders())
        if (has_code(code, d.code)) return (this->*d.read)(code, reply);
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
    (has_code(code, Code::PWR) ? state_.power_on : state_.locked) = d != 0;
    if (has_code(code, Code::PWR)) emit power_reported(d != 0);
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
    const bool h = has_code(code, Code::BEH);
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
    (has_code(code, Code::AUA) ? state_.dual_a : state_.dual_b) = d;
    emit dual_audio_reported(has_code(code, Code::AUA) ? 1 : 2, d);
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
    if (has_code(code, Code::CAL)) emit preset_recalled(d);
    else if (has_code(code, Code::SAV)) emit preset_saved(d);
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
    const int setting = has_code(code, Code::EIP) ? kAddress : has_code(code, Code::EMK) ? kMask : kGateway;
    (setting == kAddress ? state_.ip : setting == kMask ? state_.mask : state_.gateway) = answer;
    emit network_reported(setting, answer);
}

} // namespace tavrion
