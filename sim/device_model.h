// The KV-7720 as seen from its own side of the wire: state and the answer to each command line.
// Qt-free on purpose, and sharing nothing with the panel, so that a protocol mistake cannot be
// made once and hidden on both ends.
#pragma once

#include <array>
#include <string>

namespace tavrion_sim {

// Error numbers the device puts after "ERR".
enum ErrorNumber : int {
    err_malformed = 1,  // unknown code, not six characters, parameter not three digits
    err_parameter = 2,  // known code, parameter outside what the code accepts now
    err_standby = 3,    // the device is in standby and the code needs it on
};

// What a preset holds; also the part of the live state that a preset recall replaces.
struct PresetContent {
    int mode = 1;                                // 1 Matrix, 2 Dual, 3 TV Wall
    std::array<int, 4> routes{{1, 2, 3, 4}};     // input (1..4) shown on output A..D
    // Picture values 0..100, index 0..3 = output A..D (= picture row 1..4 in Dual and TV Wall).
    std::array<int, 4> brightness{{50, 50, 50, 50}};
    std::array<int, 4> contrast{{50, 50, 50, 50}};
    std::array<int, 4> hue{{50, 50, 50, 50}};
    std::array<int, 4> saturation{{50, 50, 50, 50}};
    bool bezel_on = false;
    int bezel_h = 0;                             // 0..bezel_h_max
    int bezel_v = 0;                             // 0..bezel_v_max
    int dual_a_audio = 1;                        // 1 left, 2 right
    int dual_b_audio = 1;
    int resolution = 14;                         // 1..resolution_count

    bool operator==(const PresetContent& o) const;
    bool operator!=(const PresetContent& o) const { return !(*this == o); }
};

// The whole device. Tests read and preset it through DeviceModel::state().
struct DeviceState : PresetContent {
    bool power_on = true;     // false = standby
    bool locked = false;      // front-panel keys
    bool audio_on = true;
    int audio_edid = 0;       // 0 2CH, 1 6CH, 2 8CH, 3 Bitstream, 4 HD
    int current_output = 1;   // 1..4: the output that OUT selected last; INP acts on it

    // Hardware properties: kept by a factory reset.
    int resolution_count = 14;  // RES accepts 1..resolution_count
    int bezel_h_max = 120;      // answer to BEH998
    int bezel_v_max = 90;       // answer to BEV998
    int version = 106;          // VER106 = firmware 1.06
    std::array<int, 4> ip{{192, 168, 1, 100}};
    std::array<int, 4> mask{{255, 255, 255, 0}};
    std::array<int, 4> gateway{{192, 168, 1, 1}};

    // Four presets; each holds the factory settings until something is saved into it.
    std::array<PresetContent, 4> presets{};

    // On-screen menu keys received (MNU, MND, MNL, MNR, MNO, MNE, MNX), for tests and demos.
    int menu_keys = 0;
    std::string last_menu_key;

    // Convenience: the value array of a picture code "BRI", "CON", "HUE" or "SAT"; nullptr else.
    std::array<int, 4>* picture(const std::string& code);
};

class DeviceModel {
public:
    // `factory` is what a factory reset returns to (except the hardware properties above).
    explicit DeviceModel(const DeviceState& factory = DeviceState{});

    // Takes one command line without its CR (normally six characters) and returns the complete
    // reply bytes including the CR; "" when the device says nothing.
    std::string handle(const std::string& command);

    DeviceState& state() { return state_; }
    const DeviceState& state() const { return state_; }

    DeviceState& factory() { return factory_; }

    // RST001: every setting back to its factory value; hardware properties stay.
    void factory_reset();
    // RST002: every picture value to 50.
    void picture_reset();

    // Formatting helpers shared by the transports and the tests.
    static std::string pad3(int n);
    static std::string reply(const std::string& code, int n);    // code + pad3(n) + CR
    static std::string error(int number) { return reply("ERR", number); }
    static std::string address_line(const std::array<int, 4>& a);  // "192.168.001.100\r"

private:
    std::string handle_picture(const std::string& code, int p);
    std::string handle_bezel(const std::string& code, int p);

    DeviceState factory_;
    DeviceState state_;
};

}  // namespace tavrion_sim
