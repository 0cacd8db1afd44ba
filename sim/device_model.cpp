#include "sim/device_model.h"

#include <cstdio>

namespace tavrion_sim {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Codes the device still serves in standby: waking it, the lock, and what identifies it.
bool served_in_standby(const std::string& code)
{
    return code == "PWR" || code == "LCK" || code == "VER" || code == "RST" || code == "EIP" ||
           code == "EMK" || code == "EGW";
}

bool is_menu_key(const std::string& code)
{
    return code == "MNU" || code == "MND" || code == "MNL" || code == "MNR" || code == "MNO" ||
           code == "MNE" || code == "MNX";
}

// Answer for an on/off setting: 0, 1 set it, 999 reports it.
std::string toggle(const std::string& code, int p, bool& value)
{
    if (p == 0 || p == 1)
        value = (p == 1);
    else if (p != 999)
        return DeviceModel::error(err_parameter);
    return DeviceModel::reply(code, value ? 1 : 0);
}

// Answer for a numbered choice lo..hi; 999 reports it.
std::string choice(const std::string& code, int p, int lo, int hi, int& value)
{
    if (p >= lo && p <= hi)
        value = p;
    else if (p != 999)
        return DeviceModel::error(err_parameter);
    return DeviceModel::reply(code, value);
}

}  // namespace

bool PresetContent::operator==(const PresetContent& o) const
{
    return mode == o.mode && routes == o.routes && brightness == o.brightness &&
           contrast == o.contrast && hue == o.hue && saturation == o.saturation &&
           bezel_on == o.bezel_on && bezel_h == o.bezel_h && bezel_v == o.bezel_v &&
           dual_a_audio == o.dual_a_audio && dual_b_audio == o.dual_b_audio &&
           resolution == o.resolution;
}

std::array<int, 4>* DeviceState::picture(const std::string& code)
{
    if (code == "BRI") return &brightness;
    if (code == "CON") return &contrast;
    if (code == "HUE") return &hue;
    if (code == "SAT") return &saturation;
    return nullptr;
}

DeviceModel::DeviceModel(const DeviceState& factory) : factory_(factory), state_(factory) {}

std::string DeviceModel::pad3(int n)
{
    if (n < 0) n = 0;
    if (n > 999) n = 999;
    char buf[4];
    std::snprintf(buf, sizeof buf, "%03d", n);
    return buf;
}

std::string DeviceModel::reply(const std::string& code, int n) { return code + pad3(n) + "\r"; }

std::string DeviceModel::address_line(const std::array<int, 4>& a)
{
    std::string s;
    for (int i = 0; i < 4; ++i) {
        if (i) s += '.';
        s += pad3(a[static_cast<size_t>(i)]);
    }
    return s + "\r";  // 15 characters and CR: the 16-character network answer
}

void DeviceModel::factory_reset()
{
    DeviceState next = factory_;
    // Hardware and identity survive a factory reset: the unit keeps its firmware, its limits
    // and its network identity, so that it stays reachable where it was.
    next.resolution_count = state_.resolution_count;
    next.bezel_h_max = state_.bezel_h_max;
    next.bezel_v_max = state_.bezel_v_max;
    next.version = state_.version;
    next.ip = state_.ip;
    next.mask = state_.mask;
    next.gateway = state_.gateway;
    next.menu_keys = state_.menu_keys;
    next.last_menu_key = state_.last_menu_key;
    state_ = next;
}

void DeviceModel::picture_reset()
{
    for (auto* a : {&state_.brightness, &state_.contrast, &state_.hue, &state_.saturation})
        a->fill(50);
}

std::string DeviceModel::handle(const std::string& command)
{
    if (command.size() != 6) return error(err_malformed);
    const std::string code = command.substr(0, 3);
    if (!is_digit(command[3]) || !is_digit(command[4]) || !is_digit(command[5]))
        return error(err_malformed);
    const int p = std::stoi(command.substr(3));

    auto known = [](const std::string& c) {
        static const char* const codes[] = {"AUA", "AUB", "AUD", "AUE", "BEH", "BEV", "BEZ",
                                            "BRI", "CAL", "CON", "EGW", "EIP", "EMK", "HUE",
                                            "INP", "LCK", "MOD", "OUT", "PWR", "RES", "RST",
                                            "SAT", "SAV", "VER"};
        for (const char* k : codes)
            if (c == k) return true;
        return is_menu_key(c);
    };
    if (!known(code)) return error(err_malformed);
    if (!state_.power_on && !served_in_standby(code)) return error(err_standby);

    DeviceState& s = state_;
    if (code == "EIP" || code == "EMK" || code == "EGW") {
        if (p != 999) return error(err_parameter);
        return address_line(code == "EIP" ? s.ip : code == "EMK" ? s.mask : s.gateway);
    }
    if (code == "PWR") return toggle(code, p, s.power_on);
    if (code == "LCK") return toggle(code, p, s.locked);
    if (code == "AUD") return toggle(code, p, s.audio_on);
    if (code == "BEZ") return toggle(code, p, s.bezel_on);
    if (code == "AUE") return choice(code, p, 0, 4, s.audio_edid);
    if (code == "AUA") return choice(code, p, 1, 2, s.dual_a_audio);
    if (code == "AUB") return choice(code, p, 1, 2, s.dual_b_audio);
    if (code == "MOD") return choice(code, p, 1, 3, s.mode);
    if (code == "OUT") return choice(code, p, 1, 4, s.current_output);
    if (code == "INP") {
        int& route = s.routes[static_cast<size_t>(s.current_output - 1)];
        return choice(code, p, 1, 4, route);
    }
    if (code == "RES") {
        // The fifth and sixth resolutions are too large for a split output.
        if (s.mode != 1 && (p == 5 || p == 6)) return error(err_parameter);
        return choice(code, p, 1, s.resolution_count, s.resolution);
    }
    if (code == "VER") {
        if (p != 999) return error(err_parameter);
        return reply(code, s.version);
    }
    if (code == "RST") {
        if (p == 1)
            factory_reset();
        else if (p == 2)
            picture_reset();
        else
            return error(err_parameter);
        return reply(code, p);
    }
    if (code == "CAL" || code == "SAV") {
        if (p < 1 || p > 4) return error(err_parameter);
        PresetContent& slot = s.presets[static_cast<size_t>(p - 1)];
        if (code == "SAV")
            slot = s;
        else
            static_cast<PresetContent&>(s) = slot;
        return reply(code, p);
    }
    if (is_menu_key(code)) {
        if (p != 1) return error(err_parameter);
        ++s.menu_keys;
        s.last_menu_key = code;
        return reply(code, p);
    }
    if (code == "BEH" || code == "BEV") return handle_bezel(code, p);
    return handle_picture(code, p);  // BRI, CON, HUE, SAT
}

std::string DeviceModel::handle_bezel(const std::string& code, int p)
{
    const bool horizontal = code == "BEH";
    int& value = horizontal ? state_.bezel_h : state_.bezel_v;
    const int max = horizontal ? state_.bezel_h_max : state_.bezel_v_max;
    if (p == 998) return reply(code, max);
    if (p == 999) return reply(code, value);
    if (p > max) return error(err_parameter);
    value = p;
    return reply(code, value);
}

std::string DeviceModel::handle_picture(const std::string& code, int p)
{
    std::array<int, 4>& values = *state_.picture(code);
    if (p == 999) return reply(code, values[0]);  // the Matrix value = output A / row 1
    if (p >= 991 && p <= 994) {
        const int row = p - 990;
        return reply(code, values[static_cast<size_t>(row - 1)] + 200 * (row - 1));
    }
    if (state_.mode == 1) {
        // One value serves every output in Matrix mode.
        if (p > 100) return error(err_parameter);
        values.fill(p);
        return reply(code, p);
    }
    const int row = p / 200 + 1;
    const int v = p % 200;
    if (row > 4 || v > 100) return error(err_parameter);
    values[static_cast<size_t>(row - 1)] = v;
    return reply(code, p);
}

}  // namespace tavrion_sim
