// The rows of the command catalogue and the questions answered from them.
#include "protocol/command_catalogue.h"

#include "protocol/picture_codec.h"
#include "protocol/protocol.h"

#include <array>

namespace tavrion {

namespace {
constexpr int kNone = -1;
constexpr int kQuery = 999;
// The largest picture parameter: the last row of Dual or TV Wall at the slider's top.
constexpr int kPictureTop = kPictureRowStride * (kPictureRows - 1) + kPictureMax;
using C = Confirmation;

// code, text, sent, low, high, query, maximum query, late reply, restarts, factory reset,
// network answer, confirmation, picture, audio switch. The rows are in the order of Code.
constexpr std::array<CommandRow, 33> kRows{{
    {Code::AUA, "AUA", true, 1, 2, true, false, false, kNone, kNone, false, C::LastDigit, -1, false},
    {Code::AUB, "AUB", true, 1, 2, true, false, false, kNone, kNone, false, C::LastDigit, -1, false},
    {Code::AUD, "AUD", true, 0, 1, true, false, false, kNone, kNone, false, C::Switch, -1, true},
    {Code::AUE, "AUE", true, 0, 4, true, false, false, kNone, kNone, false, C::LastDigit, -1, false},
    {Code::BEH, "BEH", true, 0, kLargestBezel, true, true, false, kNone, kNone, false, C::AllThree, -1, false},
    {Code::BEV, "BEV", true, 0, kLargestBezel, true, true, false, kNone, kNone, false, C::AllThree, -1, false},
    {Code::BEZ, "BEZ", true, 0, 1, true, false, false, kNone, kNone, false, C::LastDigit, -1, false},
    {Code::BRI, "BRI", true, 0, kPictureTop, true, false, false, kNone, kNone, false, C::AllThree, 0, false},
    {Code::CAL, "CAL", true, 1, 4, false, false, true, kNone, kNone, false, C::LastDigit, -1, false},
    {Code::CON, "CON", true, 0, kPictureTop, true, false, false, kNone, kNone, false, C::AllThree, 1, false},
    {Code::EGW, "EGW", true, 1, 0, true, false, false, kNone, kNone, true, C::Any, -1, false},
    {Code::EIP, "EIP", true, 1, 0, true, false, false, kNone, kNone, true, C::Any, -1, false},
    {Code::EMK, "EMK", true, 1, 0, true, false, false, kNone, kNone, true, C::Any, -1, false},
    {Code::ERR, "ERR", false, 1, 0, false, false, false, kNone, kNone, false, C::Any, -1, false},
    {Code::EXT, "EXT", false, 1, 0, false, false, false, kNone, kNone, false, C::Any, -1, false},
    {Code::HUE, "HUE", true, 0, kPictureTop, true, false, false, kNone, kNone, false, C::AllThree, 2, false},
    {Code::INP, "INP", true, 1, 4, true, false, false, kNone, kNone, false, C::LastDigit, -1, false},
    {Code::LCK, "LCK", true, 0, 1, true, false, false, kNone, kNone, false, C::Switch, -1, false},
    {Code::MND, "MND", true, 1, 1, false, false, false, kNone, kNone, false, C::Any, -1, false},
    {Code::MNE, "MNE", true, 1, 1, false, false, false, kNone, kNone, false, C::Any, -1, false},
    {Code::MNL, "MNL", true, 1, 1, false, false, false, kNone, kNone, false, C::Any, -1, false},
    {Code::MNO, "MNO", true, 1, 1, false, false, false, kNone, kNone, false, C::Any, -1, false},
    {Code::MNR, "MNR", true, 1, 1, false, false, false, kNone, kNone, false, C::Any, -1, false},
    {Code::MNU, "MNU", true, 1, 1, false, false, false, kNone, kNone, false, C::Any, -1, false},
    {Code::MNX, "MNX", true, 1, 1, false, false, false, kNone, kNone, false, C::Any, -1, false},
    {Code::MOD, "MOD", true, 1, 3, true, false, true, kNone, kNone, false, C::LastDigit, -1, false},
    {Code::OUT, "OUT", true, 1, 4, true, false, false, kNone, kNone, false, C::LastDigit, -1, false},
    {Code::PWR, "PWR", true, 0, 1, true, false, false, 1, kNone, false, C::Switch, -1, false},
    {Code::RES, "RES", true, 0, 99, true, false, false, kNone, kNone, false, C::LastTwo, -1, false},
    {Code::RST, "RST", true, 1, 2, false, false, false, 1, 1, false, C::LastDigit, -1, false},
    {Code::SAT, "SAT", true, 0, kPictureTop, true, false, false, kNone, kNone, false, C::AllThree, 3, false},
    {Code::SAV, "SAV", true, 1, 4, false, false, true, kNone, kNone, false, C::LastDigit, -1, false},
    {Code::VER, "VER", true, 1, 0, true, false, false, kNone, kNone, false, C::LastDigit, -1, false},
}};

// The parameter of a six-character command, or -1 when it is not three digits.
int parameter_of(std::string_view command)
{
    if (command.size() != 6) return -1;
    int n = 0;
    for (char c : command.substr(3)) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

// The numeric value of the last `count` characters, or -1 when they are not all digits.
int last_digits(std::string_view reply, std::size_t count)
{
    if (reply.size() < count) return -1;
    int n = 0;
    for (char c : reply.substr(reply.size() - count)) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}
} // namespace

const CommandRow& catalogue_row(Code code) { return kRows[std::size_t(code)]; }

const CommandRow* find_row(std::string_view code_or_line)
{
    const std::string_view code = code_or_line.substr(0, 3);
    for (const CommandRow& r : kRows)
        if (code == r.text) return &r;
    return nullptr;
}

const char* code_text(Code code) { return catalogue_row(code).text; }

std::string command_of(Code code, int parameter) { return code_text(code) + pad3(parameter); }

std::string query_of(Code code) { return command_of(code, kQuery); }

bool has_code(std::string_view code_or_line, Code code) { return code_or_line.substr(0, 3) == code_text(code); }

bool restarts_device(std::string_view command)
{
    const CommandRow* r = find_row(command);
    return r && r->restarts >= 0 && parameter_of(command) == r->restarts;
}

bool late_reply(std::string_view command)
{
    const CommandRow* r = find_row(command);
    return r && r->late_reply;
}

bool network_query(std::string_view command)
{
    const CommandRow* r = find_row(command);
    return r && r->network_answer;
}

bool maximum_query(std::string_view command)
{
    const CommandRow* r = find_row(command);
    return r && r->maximum_query && parameter_of(command) == kLargestQuery;
}

bool factory_reset(std::string_view command)
{
    const CommandRow* r = find_row(command);
    return r && r->factory_reset >= 0 && parameter_of(command) == r->factory_reset;
}

bool standby_refusal(std::string_view reply) { return reply == "ERR003"; }

bool confirms(std::string_view command, std::string_view reply)
{
    const CommandRow* r = find_row(command);
    const int asked = parameter_of(command);
    if (r && r->confirmation == Confirmation::Any) return true;
    if (asked < 0) return false;
    switch (r ? r->confirmation : Confirmation::LastDigit) {
    case Confirmation::Any: return true;
    case Confirmation::Switch: return (last_digits(reply, 1) > 0) == (asked != 0);
    case Confirmation::LastTwo: return last_digits(reply, 2) == asked;
    case Confirmation::AllThree: return last_digits(reply, 3) == asked;
    case Confirmation::LastDigit: break;
    }
    return last_digits(reply, 1) == asked % 10;
}

std::optional<int> picture_property(std::string_view code)
{
    const CommandRow* r = find_row(code);
    if (!r || code.size() != 3 || r->picture < 0) return std::nullopt;
    return r->picture;
}

std::string mute_command(bool muted_now) { return command_of(Code::AUD, muted_now ? 0 : 1); }

} // namespace tavrion
