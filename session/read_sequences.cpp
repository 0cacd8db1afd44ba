// The read sequences of the window and tavrion-ctl, written once.
#include "session/read_sequences.h"

#include "protocol/picture_codec.h"
#include "session/device_model.h"
#include "session/device_session.h"
#include "protocol/protocol.h"

namespace tavrion {

Ask ask_session(DeviceSession& session)
{
    return [&session](const std::string& command) {
        return session.send_command(command).ok();
    };
}

bool read_routing_map(const Ask& ask)
{
    for (int n = 1; n <= 4; ++n) {
        if (!ask("OUT" + pad3(n))) return false;
        if (!ask("INP999")) return false;
    }
    return true;
}

void read_picture(const DeviceModel& model, const Ask& ask)
{
    const auto& codes = kPictureCodes;
    const int mode = model.display_mode();
    if (mode == 1) {
        for (const char* code : codes)
            if (!ask(std::string(code) + "999")) return;
        return;
    }
    if (mode != 2 && mode != 3) return;
    for (int row = 1; row <= kPictureRows; ++row) {
        const std::string q = pad3(picture_query_parameter(mode, row));
        for (const char* code : codes) {
            // A missing saturation answer does not stop the next row; the others end the refresh.
            if (!ask(code + q) && std::string(code) != "SAT") return;
        }
    }
}

void reread_after_mode(int mode, const DeviceModel& model, const Ask& ask)
{
    if (mode != 3) {
        if (read_routing_map(ask)) read_picture(model, ask);
    } else if (ask("OUT001") && ask("INP999")) {
        // No map in a video wall: only output 1 and its input are read.
        read_picture(model, ask);
    }
}

bool refresh_device(const DeviceModel& model, const Ask& ask)
{
    if (!ask("VER999")) return false;
    for (const char* q : {"AUA999", "AUB999", "AUD999", "AUE999", "BEH999", "BEV999", "BEZ999"})
        if (!ask(q)) return false;
    // The answers to these are the sliders' maximums; the model knows them by their command.
    for (const char* q : {"BEH998", "BEV998"})
        if (!ask(q)) return false;
    for (const char* q : {"LCK999", "PWR999", "RES999", "MOD999"})
        if (!ask(q)) return false;
    // A video wall has no current output of its own to ask for; the mode is the one MOD999 just
    // reported.
    if (model.display_mode() != 3 && !ask("OUT999")) return false;
    ask("INP999"); // the map is read whatever this answer was
    read_routing_map(ask);
    return true;
}

std::optional<std::string> read_network(const NetworkQueryFn& query)
{
    for (const char* q : {"EIP999", "EMK999", "EGW999"})
        if (!query(q)) return std::string(q); // the first unanswered query ends the sequence
    return std::nullopt;
}

} // namespace tavrion
