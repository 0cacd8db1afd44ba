// Writes the seed corpus of the fuzz targets from the simulator's device model: the replies it
// gives to a refresh-all in each display mode, the command lines the panel sends, and the two
// files as the program writes and ships them. Usage: make_seeds <folder> (normally fuzz/corpus).
#include "protocol/command_catalogue.h"
#include "protocol/picture_codec.h"
#include "sim/device_model.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using tavrion_sim::DeviceModel;
using tavrion_sim::DeviceState;

namespace {

fs::path root;

void write(const std::string& target, const std::string& name, const std::string& bytes)
{
    fs::create_directories(root / target);
    std::ofstream(root / target / name, std::ios::binary) << bytes;
}

std::string q(const char* code, int n) { return code + DeviceModel::pad3(n); }

// The queries of refresh-all (version, audio, bezel, lock, power, resolution, mode, routing,
// routing map, picture values) as the panel sends them in `mode`.
std::vector<std::string> refresh_commands(int mode)
{
    std::vector<std::string> c = {"VER999", "AUA999", "AUB999", "AUD999", "AUE999", "BEH999", "BEV999",
                                  "BEZ999", "BEH998", "BEV998", "LCK999", "PWR999", "RES999", "MOD999"};
    if (mode != 3) c.push_back("OUT999");
    c.push_back("INP999");
    for (int o = 1; o <= 4; ++o) {
        c.push_back(q("OUT", o));
        c.push_back("INP999");
    }
    if (mode == 1) {
        for (tavrion::Code p : tavrion::kPictureCodes) c.push_back(tavrion::query_of(p));
    } else {
        for (int row = 1; row <= 4; ++row)
            for (tavrion::Code p : tavrion::kPictureCodes) c.push_back(tavrion::command_of(p, 990 + row));
    }
    return c;
}

DeviceState device_in(int mode)
{
    DeviceState s;
    s.mode = mode;
    s.routes = {{3, 1, 4, 2}};
    s.brightness = {{40, 55, 60, 70}};
    s.bezel_on = mode == 3;
    s.bezel_h = 12;
    s.dual_a_audio = 2;
    s.audio_edid = 3;
    s.resolution = 9;
    return s;
}

std::vector<std::string> replies(DeviceModel& device, const std::vector<std::string>& commands)
{
    std::vector<std::string> out;
    for (const std::string& c : commands) out.push_back(device.handle(c));
    return out;
}

std::string chunks(const std::vector<std::string>& pieces)
{
    std::string s;
    for (const std::string& p : pieces) s += char(p.size()) + p;
    return s;
}

void protocol_seeds()
{
    for (int mode = 1; mode <= 3; ++mode) {
        DeviceModel device(device_in(mode));
        const auto r = replies(device, refresh_commands(mode));
        write("protocol", "refresh_mode" + std::to_string(mode), std::string("\0\x05", 2) + chunks(r));
        std::vector<std::string> split;
        for (const std::string& one : r) {
            split.push_back(one.substr(0, 4));
            split.push_back(one.substr(4));
        }
        write("protocol", "refresh_split_mode" + std::to_string(mode), std::string("\x02\x6f", 2) + chunks(split));
    }
    DeviceModel device;
    write("protocol", "merged_and_error",
          std::string("\x02\x01", 2) + chunks({device.handle("AUA001") + device.handle("AUB002"),
                                              device.handle("XYZ999"), "\n" + device.handle("AUD999")}));
    const std::string ip = device.handle("EIP999");
    write("protocol", "network_answer", std::string("\x01\x64", 2) + chunks({ip, ip.substr(0, 4), ip.substr(4)}));
}

void file_seeds()
{
    write("files", "settings_serial", "0\r\n1\r\n#TRUE#\r\n\"192.168.1.100\"\r\n");
    write("files", "settings_ethernet", "1\r\n9\r\n#FALSE#\r\n\"10.0.0.7 port  23\"\r\n");
    std::string list;
    for (const char* r : {"1024x768@60", "1280x720@60", "1280x768@60", "1280x800@60", "1920x1200@60",
                          "2560x1600@60", "1280x1024@60", "1360x768@60", "1366x768@60", "1440x900@60",
                          "1600x1200@60", "1680x1050@60", "1920x1080@50", "1920x1080@60"})
        list += "\"" + std::string(r) + "\"\r\n";
    write("files", "resolution_list", list + "\"END\"\r\n");
    write("files", "resolution_list_odd", "  720p, 1080i\r\n\r\n\"4k\" trailing\r\nend\r\nEND\r\nafter\r\n");
}

void sim_seeds()
{
    for (int mode = 1; mode <= 3; ++mode) {
        std::string stream;
        for (const std::string& c : refresh_commands(mode)) stream += c + "\r";
        write("sim_parser", "refresh_mode" + std::to_string(mode), char(mode << 5 | 6) + stream);
    }
    write("sim_parser", "standby_wake", std::string(1, char(0x10)) + "MOD999\rPWR001\rMOD002\rBRI250\rSAV002\rCAL002\r");
    write("sim_parser", "crlf_and_junk",
          std::string(1, char(0x03)) + "OUT003\r\nINP002\r\n\rMNU001\rRST002\rEIP999\rBEH998\rBEH120\rAB\rTOOLONG1\r");
    write("sim_parser", "settings_chain", std::string(1, char(0x6F)) +
          "AUE004\rAUA002\rAUB001\rAUD000\rLCK001\rBEZ001\rBEV090\rRES006\rRES014\rMOD001\rRES006\rRST001\rVER999\r");
}

// Receivers: [setup][operations], see fuzz_receivers.cpp.
void receiver_seeds()
{
    for (int link = 0; link <= 1; ++link) {
        const std::string name = link ? "tcp" : "serial";
        for (int mode = 1; mode <= 3; ++mode) {
            DeviceModel device(device_in(mode));
            const auto r = replies(device, refresh_commands(mode));
            const char setup = char(link | mode << 1 | 1 << 3);
            // Refresh with the device answering every query.
            write("receivers", name + "_refresh_mode" + std::to_string(mode),
                  std::string{setup, char(0xC0), 0, char(r.size())} + chunks(r));
            // The same replies arriving with nobody waiting, cut 4 + 3 and two at a time.
            std::string late(1, setup);
            for (std::size_t i = 0; i + 1 < r.size(); i += 2) {
                late += chunks({r[i].substr(0, 4), r[i].substr(4)});
                late += chunks({r[i + 1] + (i + 2 < r.size() ? r[i + 2] : std::string())});
            }
            write("receivers", name + "_unsolicited_mode" + std::to_string(mode), late);
            // A mode button: MOD, then the routing and picture queries that follow it.
            DeviceModel d2(device_in(1));
            std::vector<std::string> m = {d2.handle(q("MOD", mode)), d2.handle("OUT001"), d2.handle("INP999")};
            write("receivers", name + "_mode_button" + std::to_string(mode),
                  std::string{char(link | 1 << 3), char(0xC1), char(mode - 1), char(m.size())} + chunks(m));
        }
        // One transaction of each kind of answer: own code split, another code, ERR, EXT.
        DeviceModel device;
        std::string t(1, char(link | 1 << 1 | 1 << 3));
        t += std::string{char(0x80 + 13), 0x02} + chunks({"MOD", device.handle("MOD003").substr(3)});
        t += std::string{char(0x80 + 0), 0x01} + chunks({device.handle("AUB999")});
        t += std::string{char(0x80 + 20), 0x01} + chunks({device.handle("XYZ001")});
        t += chunks({"EXT000\r"}) + std::string{char(0xCC), 0};
        t += std::string{char(0xC9), 0} + chunks({device.handle("OUT002")}) + std::string{char(0xC9), 0};
        t += std::string{char(0xC6), 0x21} + chunks({device.handle("BRI050")});
        write("receivers", name + "_transactions", t);
        // Presets and the two resets.
        std::string r(1, char(link | 1 << 3));
        r += std::string{char(0xC3), 1, 1} + chunks({device.handle("SAV002")});
        r += std::string{char(0xC2), 1, 3} + chunks({device.handle("CAL002"), device.handle("OUT001"), device.handle("INP999")});
        r += std::string{char(0x80 + 17), char(3 << 3 | 2 << 5 | 1)} + chunks({device.handle("RST002")});
        r += std::string{char(0x80 + 17), char(2 << 3 | 1)} + chunks({device.handle("RST001")});
        write("receivers", name + "_presets_resets", r);
    }
    // The 16-character network answer on RS-232.
    DeviceModel device;
    const std::string ip = device.handle("EIP999");
    write("receivers", "serial_network_answer",
          std::string{8, char(0xC7), 0} + chunks({ip.substr(0, 4), ip.substr(4)}) + std::string{char(0xC8), 0}
              + chunks({ip}));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: make_seeds <corpus folder>\n";
        return 2;
    }
    root = argv[1];
    protocol_seeds();
    file_seeds();
    sim_seeds();
    receiver_seeds();
    return 0;
}
