#include "sim/fault_plan.h"

#include "sim/device_model.h"
#include "sim/transcript.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace tavrion_sim {

namespace {

struct KindName {
    FaultKind kind;
    const char* name;
};
const KindName kind_names[] = {
    {FaultKind::Delay, "delay"},     {FaultKind::Silent, "silent"},
    {FaultKind::Err, "err"},         {FaultKind::Code, "code"},
    {FaultKind::Split, "split"},     {FaultKind::Double, "double"},
    {FaultKind::Trailing, "trailing"}, {FaultKind::Garbage, "garbage"},
    {FaultKind::Flood, "flood"},     {FaultKind::DropMid, "drop-mid"},
    {FaultKind::Ext, "ext"},         {FaultKind::Unsolicited, "unsolicited"},
    {FaultKind::Vanish, "vanish"},
};

std::string lower(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string upper(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool all_digits(const std::string& s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A non-negative decimal number of at most 9 digits.
bool to_count(const std::string& s, int& n)
{
    if (!all_digits(s) || s.size() > 9) return false;
    n = std::stoi(s);
    return true;
}

bool is_target(const std::string& s)
{
    if (lower(s) == "all") return true;
    return s.size() == 3 && std::all_of(s.begin(), s.end(),
                                        [](char c) { return std::isalpha(static_cast<unsigned char>(c)); });
}

// Junk that can never pass for a reply: no digits, no CR, no LF.
std::string garbage_bytes(int n)
{
    static const char pool[] = "!#$%&*+-/:;<=>?@[]^_{|}~ZQXJKW";
    std::string s;
    unsigned state = 12345u;
    for (int i = 0; i < n; ++i) {
        state = state * 1103515245u + 12345u;
        const unsigned r = (state >> 16) & 0x7fffu;
        if (r % 5 == 0)
            s += static_cast<char>(0x80 + r % 0x80);
        else
            s += pool[r % (sizeof pool - 1)];
    }
    return s;
}

std::string flood_bytes(int n)
{
    static const char pattern[] = "FLOOD-";
    std::string s;
    s.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) s += pattern[i % (sizeof pattern - 1)];
    return s;
}

}  // namespace

const char* fault_name(FaultKind kind)
{
    for (const auto& k : kind_names)
        if (k.kind == kind) return k.name;
    return "?";
}

std::string Fault::describe() const
{
    std::ostringstream o;
    o << fault_name(kind);
    switch (kind) {
    case FaultKind::Delay: o << ' ' << number; break;
    case FaultKind::Err:
    case FaultKind::Ext: o << ' ' << DeviceModel::pad3(number); break;
    case FaultKind::Code: o << ' ' << text; break;
    case FaultKind::Split:
        o << ' ';
        for (size_t i = 0; i < sizes.size(); ++i) o << (i ? "," : "") << sizes[i];
        o << " gap " << gap_ms;
        break;
    case FaultKind::Trailing: o << ' ' << escape_bytes(text); break;
    case FaultKind::Garbage:
    case FaultKind::Flood: o << ' ' << number; break;
    case FaultKind::Unsolicited: o << ' ' << escape_bytes(text) << " after " << after_ms; break;
    default: break;
    }
    o << ' ' << (target.empty() ? "ALL" : target);
    if (remaining >= 0) o << " times " << remaining;
    return o.str();
}

bool parse_control(const std::string& line, ControlRequest& out, std::string& error)
{
    out = ControlRequest{};
    std::istringstream in(line);
    std::vector<std::string> t;
    for (std::string w; in >> w;) t.push_back(w);
    if (t.empty()) {
        error = "empty line";
        return false;
    }
    const std::string kw = lower(t[0]);
    auto only = [&](ControlRequest::Type type) {
        if (t.size() != 1) {
            error = "'" + kw + "' takes no arguments";
            return false;
        }
        out.type = type;
        return true;
    };
    if (kw == "reset") return only(ControlRequest::Reset);
    if (kw == "faults") return only(ControlRequest::List);
    if (kw == "status") return only(ControlRequest::Status);
    if (kw == "help") return only(ControlRequest::Help);
    if (kw == "drop") return only(ControlRequest::DropNow);
    if (kw == "restart") return only(ControlRequest::RestartNow);
    if (kw == "send") {
        const size_t at = line.find(t[0]) + t[0].size();
        std::string text = line.substr(at);
        const size_t first = text.find_first_not_of(" \t");
        text = first == std::string::npos ? "" : text.substr(first);
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
        if (text.empty() || !unescape_bytes(text, out.bytes)) {
            error = "send needs bytes, with \\r \\n \\xHH escapes";
            return false;
        }
        out.type = ControlRequest::Send;
        return true;
    }
    if (kw == "set") {
        if (t.size() != 3) {
            error = "usage: set KEY VALUE";
            return false;
        }
        out.type = ControlRequest::Set;
        out.key = lower(t[1]);
        out.value = t[2];
        return true;
    }

    Fault f;
    bool found = false;
    for (const auto& k : kind_names)
        if (kw == k.name) {
            f.kind = k.kind;
            found = true;
        }
    if (!found) {
        error = "unknown control word '" + t[0] + "' (try: help)";
        return false;
    }

    size_t i = 1;
    auto next = [&]() -> const std::string* { return i < t.size() ? &t[i] : nullptr; };
    switch (f.kind) {
    case FaultKind::Delay:
        if (!next() || !to_count(*next(), f.number)) {
            error = "usage: delay MS [CODE]";
            return false;
        }
        ++i;
        break;
    case FaultKind::Err:
    case FaultKind::Ext:
        f.number = f.kind == FaultKind::Err ? err_malformed : 0;
        if (next() && all_digits(*next()) && next()->size() <= 3) f.number = std::stoi(t[i++]);
        break;
    case FaultKind::Code:
        if (!next() || next()->size() != 3) {
            error = "usage: code XYZ [CODE] (answer CODE with the code XYZ)";
            return false;
        }
        f.text = t[i++];
        break;
    case FaultKind::Split: {
        if (!next()) {
            error = "usage: split N[,N...] [gap MS] [CODE]";
            return false;
        }
        std::istringstream sizes(t[i++]);
        for (std::string part; std::getline(sizes, part, ',');) {
            int n = 0;
            if (!to_count(part, n) || n == 0) {
                error = "split sizes are numbers above 0, separated by commas";
                return false;
            }
            f.sizes.push_back(n);
        }
        if (next() && lower(*next()) == "gap") {
            ++i;
            if (!next() || !to_count(*next(), f.gap_ms)) {
                error = "usage: split N[,N...] gap MS";
                return false;
            }
            ++i;
        }
        break;
    }
    case FaultKind::Trailing:
        if (!next() || !unescape_bytes(*next(), f.text) || f.text.empty()) {
            error = "usage: trailing BYTES [CODE] (escapes \\n \\r \\xHH)";
            return false;
        }
        ++i;
        break;
    case FaultKind::Garbage:
        f.number = 7;
        if (next() && all_digits(*next())) {
            if (!to_count(t[i++], f.number)) {
                error = "garbage count too large";
                return false;
            }
        }
        break;
    case FaultKind::Flood:
        if (!next() || !to_count(*next(), f.number) || f.number == 0) {
            error = "usage: flood N [CODE]";
            return false;
        }
        ++i;
        break;
    case FaultKind::Unsolicited:
        if (!next() || !unescape_bytes(*next(), f.text) || f.text.empty()) {
            error = "usage: unsolicited LINE [after MS] [CODE]";
            return false;
        }
        ++i;
        if (next() && lower(*next()) == "after") {
            ++i;
            if (!next() || !to_count(*next(), f.after_ms)) {
                error = "usage: unsolicited LINE after MS";
                return false;
            }
            ++i;
        }
        break;
    default: break;
    }

    bool targeted = false;
    if (next() && is_target(*next())) {
        f.target = upper(t[i++]);
        if (f.target == "ALL") f.target.clear();
        targeted = true;
    }
    if (next() && lower(*next()) == "once") {
        f.remaining = 1;
        targeted = true;
        ++i;
    } else if (next() && lower(*next()) == "times") {
        ++i;
        if (!next() || !to_count(*next(), f.remaining) || f.remaining == 0) {
            error = "usage: ... times N";
            return false;
        }
        targeted = true;
        ++i;
    }
    if (i != t.size()) {
        error = "unexpected '" + t[i] + "'";
        return false;
    }

    // Without a target these three act at once rather than waiting for a command.
    if (!targeted && f.kind == FaultKind::Ext) {
        out.type = ControlRequest::ExtNow;
        out.number = f.number;
        return true;
    }
    if (!targeted && f.kind == FaultKind::Vanish) {
        out.type = ControlRequest::VanishNow;
        return true;
    }
    if (!targeted && f.kind == FaultKind::Unsolicited) {
        if (f.after_ms != 0) {
            error = "'after' needs a target code";
            return false;
        }
        out.type = ControlRequest::Send;
        out.bytes = f.text + "\r";
        return true;
    }
    out.type = ControlRequest::Arm;
    out.fault = f;
    return true;
}

const char* control_help()
{
    return "Control language (one command a line; CODE is a three-letter command code or ALL,\n"
           "default ALL; 'once' or 'times N' at the end limits a fault to that many replies):\n"
           "  delay MS [CODE]             hold the reply back MS milliseconds\n"
           "  silent [CODE]               do not answer\n"
           "  err [NNN] [CODE]            answer ERR + NNN (default 001) instead\n"
           "  code XYZ [CODE]             answer with the code XYZ instead of the command's own\n"
           "  split N[,N..] [gap MS] [CODE]  send the reply in batches of N bytes, MS apart\n"
           "                              (default gap 20); what is left goes last\n"
           "  double [CODE]               send the reply twice in one piece\n"
           "  trailing BYTES [CODE]       append BYTES after the reply, e.g. trailing \\n\n"
           "  garbage [N] [CODE]          send N bytes of junk (default 7) instead of the reply\n"
           "  flood N [CODE]              send N bytes (\"FLOOD-FLOOD-...\") instead of the reply\n"
           "  drop-mid [CODE]             send half the reply, then close the TCP connection\n"
           "                              (serial: the rest is lost)\n"
           "  ext [NNN] CODE              answer EXT + NNN (default 000), then close (TCP)\n"
           "  unsolicited LINE [after MS] CODE  after the reply also send LINE + CR\n"
           "  vanish CODE                 on that command, close the serial link (device gone)\n"
           "At once:\n"
           "  ext [NNN]                   send EXT + NNN + CR and close the TCP connection\n"
           "  unsolicited LINE            send LINE + CR on every open link\n"
           "  send BYTES                  send raw bytes (escapes \\r \\n \\t \\\\ \\xHH)\n"
           "  vanish                      close the serial link (the device disappears)\n"
           "  drop                        drop the TCP connection\n"
           "  restart                     restart as after PWR001 over TCP\n"
           "  set KEY VALUE               power 0|1, lock 0|1, mode 1..3, version N,\n"
           "                              ip|mask|gateway A.B.C.D, bezel-h-max N, bezel-v-max N,\n"
           "                              restart-ms MS\n"
           "  reset                       remove every fault: normal behaviour\n"
           "  faults | status | help      list faults, show the device state, this text\n"
           "Escapes in BYTES and LINE: \\r \\n \\t \\0 \\e \\\\ \\\" \\xHH.\n";
}

void FaultPlan::arm(const Fault& fault)
{
    faults_.erase(std::remove_if(faults_.begin(), faults_.end(),
                                 [&](const Fault& f) {
                                     return f.kind == fault.kind && f.target == fault.target;
                                 }),
                  faults_.end());
    faults_.push_back(fault);
}

std::vector<Chunk> FaultPlan::plan(const std::string& code, const std::string& reply)
{
    // Per kind, a fault for this very code wins over one for every code.
    std::vector<size_t> acting;
    for (const auto& k : kind_names) {
        int pick = -1;
        for (size_t i = 0; i < faults_.size(); ++i) {
            const Fault& f = faults_[i];
            if (f.kind != k.kind) continue;
            if (f.target == code)
                pick = static_cast<int>(i);
            else if (f.target.empty() && pick < 0)
                pick = static_cast<int>(i);
        }
        if (pick >= 0) acting.push_back(static_cast<size_t>(pick));
    }
    const Fault* active[16] = {};
    for (size_t i : acting) active[static_cast<int>(faults_[i].kind)] = &faults_[i];
    auto get = [&](FaultKind k) { return active[static_cast<int>(k)]; };

    // Only the faults that shape what is sent are used up; a "once" fault waits for a reply
    // it can act on.
    std::vector<FaultKind> used;
    auto take = [&](FaultKind k) -> const Fault* {
        const Fault* f = get(k);
        if (f) used.push_back(k);
        return f;
    };

    std::vector<Chunk> chunks;
    if (get(FaultKind::Vanish)) {
        take(FaultKind::Vanish);
        const Fault* d = take(FaultKind::Delay);
        chunks.push_back({d ? d->number : 0, "", LinkAction::Vanish});
    } else {
        std::string bytes = reply;
        LinkAction after = LinkAction::None;
        if (take(FaultKind::Silent)) bytes.clear();
        if (!bytes.empty()) {
            if (const Fault* f = take(FaultKind::Err)) bytes = DeviceModel::error(f->number);
            if (const Fault* f = take(FaultKind::Code))
                bytes = f->text + (bytes.size() > 3 ? bytes.substr(3) : std::string("\r"));
            if (const Fault* f = take(FaultKind::Garbage)) bytes = garbage_bytes(f->number);
            if (const Fault* f = take(FaultKind::Flood)) bytes = flood_bytes(f->number);
            if (const Fault* f = take(FaultKind::Ext)) {
                bytes = DeviceModel::reply("EXT", f->number);
                after = LinkAction::Close;
            }
            if (take(FaultKind::Double)) bytes += bytes;
            if (const Fault* f = take(FaultKind::Trailing)) bytes += f->text;
            if (take(FaultKind::DropMid)) {
                bytes = bytes.substr(0, std::max<size_t>(1, bytes.size() / 2));
                after = LinkAction::Close;
            }
            const Fault* d = take(FaultKind::Delay);
            const int delay = d ? d->number : 0;
            if (const Fault* f = take(FaultKind::Split)) {
                size_t at = 0;
                for (size_t n = 0; n < f->sizes.size() && at < bytes.size(); ++n) {
                    const size_t len = std::min(bytes.size() - at, static_cast<size_t>(f->sizes[n]));
                    chunks.push_back({at == 0 ? delay : f->gap_ms, bytes.substr(at, len), LinkAction::None});
                    at += len;
                }
                if (at < bytes.size()) chunks.push_back({f->gap_ms, bytes.substr(at), LinkAction::None});
                chunks.back().after = after;
            } else {
                chunks.push_back({delay, bytes, after});
            }
        }
        // The device's own extra line follows the reply (or stands alone when it is silent),
        // unless the connection has just been closed.
        if (after == LinkAction::None)
            if (const Fault* f = take(FaultKind::Unsolicited))
                chunks.push_back({f->after_ms, f->text + "\r", LinkAction::None});
    }

    // Use up one application of each fault that acted, highest index first.
    std::vector<size_t> spent;
    for (FaultKind k : used)
        for (size_t i : acting)
            if (faults_[i].kind == k) spent.push_back(i);
    std::sort(spent.begin(), spent.end(), std::greater<size_t>());
    for (size_t i : spent) {
        if (faults_[i].remaining > 0 && --faults_[i].remaining == 0)
            faults_.erase(faults_.begin() + static_cast<std::ptrdiff_t>(i));
    }
    return chunks;
}

}  // namespace tavrion_sim
