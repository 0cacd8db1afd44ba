// The read sequences of the window and tavrion-ctl, written once.
#include "session/read_sequences.h"

#include "protocol/command_catalogue.h"
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

Exchange send_awaiting_late_reply(DeviceSession& session, const std::string& command)
{
    const Exchange first = session.send_command(command);
    return late_reply(command) ? session.await_late_reply(command, first) : first;
}

bool read_routing_map(const Ask& ask)
{
    for (int n = 1; n <= 4; ++n) {
        if (!ask(command_of(Code::OUT, n))) return false;
        if (!ask(query_of(Code::INP))) return false;
    }
    return true;
}

void read_picture(const DeviceModel& model, const Ask& ask)
{
    const int mode = model.display_mode();
    if (mode == 1) {
        for (Code code : kPictureCodes)
            if (!ask(query_of(code))) return;
        return;
    }
    if (mode != 2 && mode != 3) return;
    for (int row = 1; row <= kPictureRows; ++row) {
        const int q = picture_query_parameter(mode, row);
        for (Code code : kPictureCodes) {
            // A missing saturation answer does not stop the next row; the others end the refresh.
            if (!ask(command_of(code, q)) && code != Code::SAT) return;
        }
    }
}

void reread_after_mode(int mode, const DeviceModel& model, const Ask& ask)
{
    if (mode != 3) {
        if (read_routing_map(ask)) read_picture(model, ask);
    } else if (ask(command_of(Code::OUT, 1)) && ask(query_of(Code::INP))) {
        // No map in a video wall: only output 1 and its input are read.
        read_picture(model, ask);
    }
}

bool refresh_device(const DeviceModel& model, const Ask& ask)
{
    if (!ask(query_of(Code::VER))) return false;
    for (Code c : {Code::AUA, Code::AUB, Code::AUD, Code::AUE, Code::BEH, Code::BEV, Code::BEZ})
        if (!ask(query_of(c))) return false;
    // The answers to these are the sliders' maximums; the model knows them by their command.
    for (Code c : {Code::BEH, Code::BEV})
        if (!ask(command_of(c, kLargestQuery))) return false;
    for (Code c : {Code::LCK, Code::PWR, Code::RES, Code::MOD})
        if (!ask(query_of(c))) return false;
    // A video wall has no current output of its own to ask for; the mode is the one MOD999 just
    // reported.
    if (model.display_mode() != 3 && !ask(query_of(Code::OUT))) return false;
    ask(query_of(Code::INP)); // the map is read whatever this answer was
    read_routing_map(ask);
    return true;
}

std::optional<std::string> read_network(const NetworkQueryFn& query)
{
    for (Code c : {Code::EIP, Code::EMK, Code::EGW})
        if (!query(query_of(c))) return query_of(c); // the first unanswered query ends the sequence
    return std::nullopt;
}

} // namespace tavrion
