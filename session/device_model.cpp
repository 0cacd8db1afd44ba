// Decodes the device's replies once, for every view of the device.
#include "session/device_model.h"

#include "protocol/picture_codec.h"
#include "session/device_session.h"
#include "protocol/protocol.h"

namespace tavrion {

namespace {
constexpr const char* kPictureCodes[] = {"BRI", "CON", "HUE", "SAT"};
}

DeviceModel::DeviceModel(QObject* parent) : QObject(parent) {}

DeviceModel::DeviceModel(DeviceSession& session, QObject* parent) : QObject(parent)
{
    DeviceSession* s = &session;
    for (const std::string& code : reply_codes())
        session.router().add(code, [this, s] { take(s->reply_text()); });
}

const std::vector<std::string>& DeviceModel::reply_codes()
{
    static const std::vector<std::string> codes{"AUA", "AUB", "AUD", "AUE", "BEH", "BEV", "BEZ",
                                                "BRI", "CAL", "CON", "HUE", "INP", "LCK", "MOD",
                                                "OUT", "PWR", "RES", "RST", "SAT", "SAV", "VER"};
    return codes;
}

void DeviceModel::reset()
{
    state_ = ReportedDevice{};
    display_mode_ = 1;
    current_output_ = 1;
    bezel_max_pending_ = false;
}

void DeviceModel::take(const std::string& reply)
{
    emit accepted(reply);
    const std::string code = reply_code(reply);
    const int d = reply_last_digit(reply);
    ReportedDevice& s = state_;
    if (code == "VER") {
        const int v = reply_last_three(reply);
        if (v < 0) return;
        s.firmware = v;
        emit firmware_reported(v);
    } else if (code == "PWR" || code == "LCK") {
        // 0 standby or unlocked, any other digit on or locked.
        if (d < 0) return;
        (code == "PWR" ? s.power_on : s.locked) = d != 0;
        if (code == "PWR") emit power_reported(d != 0);
        else emit lock_reported(d != 0);
    } else if (code == "MOD") {
        if (d < 1 || d > 3) return; // a mode without a layout (MOD009) is ignored entirely
        // Picture values read in another layout name other rows: they are not this layout's.
        if (d != display_mode_) s.picture = {};
        display_mode_ = d;
        s.mode = d;
        emit mode_reported(d);
    } else if (code == "OUT") {
        if (d < 1 || d > 4) return; // so that current_output always names an output
        current_output_ = d;
        emit output_reported(d);
    } else if (code == "INP") {
        if (d < 1 || d > 4) return;
        s.routes[std::size_t(current_output_ - 1)] = d;
        emit input_reported(current_output_, d);
    } else if (code == "BEH" || code == "BEV") {
        const int p = reply_last_three(reply);
        // Above the largest amount: nothing changes, not even a pending maximum.
        if (p < 0 || p > kLargestBezel) return;
        const bool h = code == "BEH";
        if (bezel_max_pending_) {
            (h ? s.bezel_h_max : s.bezel_v_max) = p;
            bezel_max_pending_ = false;
            emit bezel_maximum_reported(h ? kBezelH : kBezelV, p);
        } else {
            (h ? s.bezel_h : s.bezel_v) = p;
            emit bezel_reported(h ? kBezelH : kBezelV, p);
        }
    } else if (code == "BEZ") {
        if (d != 0 && d != 1) return;
        s.bezel_on = d == 1;
        emit bezel_switch_reported(d == 1);
    } else if (code == "AUE") {
        if (d < 0 || d > 4) return;
        s.edid = d;
        emit edid_reported(d);
    } else if (code == "AUA" || code == "AUB") {
        if (d != 1 && d != 2) return;
        (code == "AUA" ? s.dual_a : s.dual_b) = d;
        emit dual_audio_reported(code == "AUA" ? 1 : 2, d);
    } else if (code == "AUD") {
        if (d < 0) return;
        s.audio_on = d != 0;
        emit audio_reported(d);
    } else if (code == "RES") {
        // Only the last two digits count: RES112 is the twelfth entry, RES000 none. The model
        // keeps what the device said even beyond a resolution list; the list's view decides.
        const int n = reply_last_two(reply);
        if (n < 0) return;
        s.resolution = n;
        emit resolution_reported(n);
    } else if (code == "CAL") {
        emit preset_recalled(d);
    } else if (code == "SAV") {
        emit preset_saved(d);
    } else if (code == "RST") {
        emit reset_reported(d);
    } else {
        for (int p = 0; p < 4; ++p) {
            if (code != kPictureCodes[p]) continue;
            const auto target = decode_picture_parameter(display_mode_, reply_last_three(reply));
            if (!target) return; // names no row or slider position of this layout
            s.picture[std::size_t(p)][std::size_t(target->row - 1)] = target->value;
            emit picture_reported(p, target->row, target->value);
        }
    }
}

void DeviceModel::take_network(const std::string& command, const std::string& answer)
{
    const std::string code = reply_code(command);
    const int setting = code == "EIP" ? kAddress : code == "EMK" ? kMask : kGateway;
    (setting == kAddress ? state_.ip : setting == kMask ? state_.mask : state_.gateway) = answer;
    emit network_reported(setting, answer);
}

} // namespace tavrion
