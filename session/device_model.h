// The device as it reported itself: every accepted reply decoded once into typed state, and one
// signal per kind of reply, emitted synchronously in arrival order inside the transaction that
// took the reply. The window's features, tavrion-ctl and the web remote listen to it; nobody else
// reads a raw reply. No widgets.
#pragma once

#include "protocol/command_catalogue.h"
#include "protocol/picture_codec.h"
#include "session/exchange.h"

#include <QObject>

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace tavrion {

// The picture properties in the order of kPictureCodes (protocol/command_catalogue.h).
enum PictureProperty : int { kBrightness = 0, kContrast = 1, kHue = 2, kSaturation = 3 };
// The two bezel axes: BEH and BEV.
enum BezelAxis : int { kBezelH = 0, kBezelV = 1 };
// The three answers of "Get IP": EIP, EMK, EGW.
enum NetworkSetting : int { kAddress = 0, kMask = 1, kGateway = 2 };


// What the device last reported; every value is empty until a reply reported it.
struct ReportedDevice {
    std::optional<int> firmware; // VER106 is 106, shown as 1.06
    std::optional<bool> power_on;
    std::optional<bool> locked;
    std::optional<int> mode; // 1 Matrix, 2 Dual, 3 TV Wall
    std::array<std::optional<int>, 4> routes{}; // input of output A..D
    // picture[property][row - 1]; in Matrix only row 1 is used ("all").
    std::array<std::array<std::optional<int>, 4>, 4> picture{};
    std::optional<bool> bezel_on;
    std::optional<int> bezel_h, bezel_v, bezel_h_max, bezel_v_max;
    std::optional<int> edid;           // 0..4
    std::optional<bool> audio_on;      // AUD: mute is its opposite
    std::optional<int> dual_a, dual_b; // 1 left, 2 right
    std::optional<int> resolution;     // 1-based entry of the resolution list; 0 none
    std::optional<std::string> ip, mask, gateway; // the 16-character answers as received (RS-232 only)
};

class DeviceModel : public QObject {
    Q_OBJECT
public:
    // The session owns the model of its link and hands it every reply with one of reply_codes();
    // a scripted device feeds one by hand with take().
    explicit DeviceModel(QObject* parent = nullptr);

    // The codes the model decodes.
    static const std::vector<std::string>& reply_codes();

    // Decodes one accepted six-character reply. What names nothing (AUA003, MOD007, BEH255,
    // OUT000, a picture parameter outside the current layout) changes nothing and emits nothing
    // but `accepted`.
    void take(const std::string& reply);
    // The 16-character answer to EIP999, EMK999 or EGW999.
    void take_network(const std::string& command, const std::string& answer);
    // The answers to BEH998 and BEV998 are the sliders' maximums: called before a command goes
    // out and when its exchange is over. Any reply puts the mark down (a refusal names no
    // maximum); silence keeps it for the late answer.
    void expect_answer_to(const std::string& command);
    void exchange_ended(const std::string& command, const Exchange& exchange);
    // Back to the start: nothing reported, Matrix, output A, no maximum pending.
    void reset();

    const ReportedDevice& state() const { return state_; }
    // The layout the picture replies are decoded in: the last mode reported, Matrix until then.
    int display_mode() const { return display_mode_; }
    // The output the INP replies belong to: the last output reported, output A until then.
    int current_output() const { return current_output_; }
    // The next BEH or BEV reply is a slider maximum (the Refresh sequence sets this).
    bool bezel_max_pending() const { return bezel_max_pending_; }

signals:
    // Every reply handed to the model, before it is decoded (tavrion-ctl reports the answer itself).
    void accepted(const std::string& reply);
    void firmware_reported(int version);
    void power_reported(bool on);
    void lock_reported(bool locked);
    void mode_reported(int mode);
    void output_reported(int output);
    void input_reported(int output, int input);
    void picture_reported(int property, int row, int value);
    void bezel_reported(int axis, int amount);
    void bezel_maximum_reported(int axis, int maximum);
    void bezel_switch_reported(bool on);
    void edid_reported(int edid);
    void dual_audio_reported(int pair, int side); // pair 1 A (AUA), 2 B (AUB); side 1 left, 2 right
    void audio_reported(int digit);               // 0 off, any other digit on (as reported)
    void resolution_reported(int number);         // the last two digits: RES112 is 12
    // The last digit as reported, which may name no preset or reset (the rows ignore those).
    void preset_recalled(int digit);
    void preset_saved(int digit);
    void reset_reported(int digit); // 1 factory reset, 2 picture reset
    void network_reported(int setting, const std::string& answer);

private:
    struct Decoder;
    static const std::vector<Decoder>& decoders();
    void read_firmware(const std::string& code, const std::string& reply);
    void read_switch(const std::string& code, const std::string& reply);
    void read_mode(const std::string& code, const std::string& reply);
    void read_output(const std::string& code, const std::string& reply);
    void read_input(const std::string& code, const std::string& reply);
    void read_bezel(const std::string& code, const std::string& reply);
    void read_bezel_switch(const std::string& code, const std::string& reply);
    void read_edid(const std::string& code, const std::string& reply);
    void read_dual_audio(const std::string& code, const std::string& reply);
    void read_audio(const std::string& code, const std::string& reply);
    void read_resolution(const std::string& code, const std::string& reply);
    void read_event(const std::string& code, const std::string& reply);
    void read_picture(const std::string& code, const std::string& reply);

    ReportedDevice state_;
    int display_mode_ = 1;
    int current_output_ = 1;
    bool bezel_max_pending_ = false;
};

} // namespace tavrion
