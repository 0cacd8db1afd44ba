// The simulated device's own rules, without any transport: answers, state, line framing, the
// fault plan, the control language and the transcript format.
#include "sim/device_model.h"
#include "sim/fault_plan.h"
#include "sim/line_framer.h"
#include "sim/transcript.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fstream>

using namespace tavrion_sim;

namespace {

// Runs commands in order and returns the last reply.
std::string run(DeviceModel& m, std::initializer_list<const char*> commands)
{
    std::string last;
    for (const char* c : commands) last = m.handle(c);
    return last;
}

QString q(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<int>(s.size())); }

Fault armed(const std::string& line)
{
    ControlRequest r;
    std::string error;
    if (!parse_control(line, r, error) || r.type != ControlRequest::Arm)
        qFatal("not a fault: %s (%s)", line.c_str(), error.c_str());
    return r.fault;
}

}  // namespace

class TestSimModel : public QObject {
    Q_OBJECT
private slots:
    void answers_every_code_in_its_own_format();
    void refuses_malformed_lines_and_bad_parameters();
    void routes_by_current_output();
    void picture_values_follow_the_mode();
    void bezel_limits_and_maxima();
    void presets_hold_routing_mode_and_picture();
    void resets();
    void standby_serves_only_power_lock_identity();
    void resolution_rules();

    void framer_cuts_at_cr_and_tolerates_noise();

    void control_language_parses_the_scenarios();
    void control_language_rejects_nonsense();
    void fault_plan_shapes_replies();
    void fault_plan_prefers_code_and_counts_uses();

    void transcript_round_trips_every_byte();
    void replay_groups_replies_by_command();
};

void TestSimModel::answers_every_code_in_its_own_format()
{
    DeviceModel m;
    QCOMPARE(q(m.handle("VER999")), QString("VER106\r"));
    QCOMPARE(q(m.handle("PWR999")), QString("PWR001\r"));
    QCOMPARE(q(m.handle("LCK001")), QString("LCK001\r"));
    QCOMPARE(q(m.handle("LCK999")), QString("LCK001\r"));
    QCOMPARE(q(m.handle("AUD000")), QString("AUD000\r"));
    QCOMPARE(q(m.handle("AUE004")), QString("AUE004\r"));
    QCOMPARE(q(m.handle("AUA002")), QString("AUA002\r"));
    QCOMPARE(q(m.handle("AUB999")), QString("AUB001\r"));
    QCOMPARE(q(m.handle("MOD003")), QString("MOD003\r"));
    QCOMPARE(q(m.handle("BEZ001")), QString("BEZ001\r"));
    QCOMPARE(q(m.handle("CAL002")), QString("CAL002\r"));
    QCOMPARE(q(m.handle("SAV004")), QString("SAV004\r"));
    QCOMPARE(q(m.handle("RST002")), QString("RST002\r"));
    for (const char* key : {"MNU", "MND", "MNL", "MNR", "MNO", "MNE", "MNX"})
        QCOMPARE(q(m.handle(std::string(key) + "001")), QString(key) + "001\r");
    QCOMPARE(m.state().menu_keys, 7);
    QCOMPARE(QString::fromStdString(m.state().last_menu_key), QString("MNX"));

    // The network answers: an address padded to 15 characters and CR, 16 bytes in all.
    m.state().ip = {{10, 0, 7, 42}};
    QCOMPARE(q(m.handle("EIP999")), QString("010.000.007.042\r"));
    QCOMPARE(q(m.handle("EMK999")), QString("255.255.255.000\r"));
    QCOMPARE(q(m.handle("EGW999")), QString("192.168.001.001\r"));
    QCOMPARE(m.handle("EGW999").size(), size_t(16));
    m.state().version = 7;
    QCOMPARE(q(m.handle("VER999")), QString("VER007\r"));
}

void TestSimModel::refuses_malformed_lines_and_bad_parameters()
{
    DeviceModel m;
    const DeviceState before = m.state();
    // Not six characters, unknown or lower-case code, parameter not digits: ERR001.
    for (const char* bad : {"", "AUA01", "AUA0011", "aua001", "XYZ001", "ERR001", "EXT000",
                            "AUA0X1", "AUA 01", "MN?001"})
        QCOMPARE(q(m.handle(bad)), QString("ERR001\r"));
    // A known code with a parameter it does not take: ERR002, and nothing changes.
    for (const char* bad : {"AUA003", "AUA000", "AUE005", "PWR002", "LCK998", "MOD004", "MOD000",
                            "OUT005", "INP000", "CAL005", "SAV000", "RST003", "VER001",
                            "EIP001", "MNU002", "BEZ002"})
        QCOMPARE(q(m.handle(bad)), QString("ERR002\r"));
    QVERIFY(static_cast<const PresetContent&>(m.state()) == before);
    QCOMPARE(m.state().power_on, before.power_on);
    QCOMPARE(m.state().audio_edid, before.audio_edid);
}

void TestSimModel::routes_by_current_output()
{
    DeviceModel m;
    QCOMPARE(q(m.handle("OUT999")), QString("OUT001\r"));
    QCOMPARE(q(m.handle("INP999")), QString("INP001\r"));
    QCOMPARE(q(run(m, {"OUT002", "INP004"})), QString("INP004\r"));
    QCOMPARE(q(run(m, {"OUT003", "INP001"})), QString("INP001\r"));
    const std::array<int, 4> expected{{1, 4, 1, 4}};
    QCOMPARE(m.state().routes, expected);
    QCOMPARE(q(m.handle("OUT999")), QString("OUT003\r"));
    // Reading back walks the outputs: each INP999 reports the output selected just before.
    QCOMPARE(q(run(m, {"OUT002", "INP999"})), QString("INP004\r"));
    QCOMPARE(q(run(m, {"OUT001", "INP999"})), QString("INP001\r"));
    QCOMPARE(q(run(m, {"OUT004", "INP999"})), QString("INP004\r"));
    // A refused selection keeps the current output.
    QCOMPARE(q(m.handle("OUT007")), QString("ERR002\r"));
    QCOMPARE(m.state().current_output, 4);
    // Routing works the same in the other modes, and a mode change keeps the routes.
    QCOMPARE(q(run(m, {"MOD002", "OUT001", "INP003", "MOD001", "OUT001", "INP999"})), QString("INP003\r"));
}

void TestSimModel::picture_values_follow_the_mode()
{
    DeviceModel m;
    // Matrix: one value for every output; 999 reports it plainly.
    QCOMPARE(q(m.handle("BRI057")), QString("BRI057\r"));
    QCOMPARE(m.state().brightness, (std::array<int, 4>{{57, 57, 57, 57}}));
    QCOMPARE(q(m.handle("BRI999")), QString("BRI057\r"));
    QCOMPARE(q(m.handle("CON100")), QString("CON100\r"));
    QCOMPARE(q(m.handle("CON101")), QString("ERR002\r"));
    QCOMPARE(q(m.handle("HUE250")), QString("ERR002\r"));  // no rows in Matrix

    // Dual: value + 200 * (row - 1), one output per row.
    m.handle("MOD002");
    QCOMPARE(q(m.handle("SAT437")), QString("SAT437\r"));
    QCOMPARE(m.state().saturation, (std::array<int, 4>{{50, 50, 37, 50}}));
    QCOMPARE(q(m.handle("SAT993")), QString("SAT437\r"));
    QCOMPARE(q(m.handle("SAT991")), QString("SAT050\r"));
    QCOMPARE(q(m.handle("HUE700")), QString("HUE700\r"));
    QCOMPARE(q(m.handle("HUE994")), QString("HUE700\r"));
    QCOMPARE(q(m.handle("CON200")), QString("CON200\r"));
    QCOMPARE(q(m.handle("CON992")), QString("CON200\r"));
    QCOMPARE(q(m.handle("BRI000")), QString("BRI000\r"));
    QCOMPARE(q(m.handle("BRI991")), QString("BRI000\r"));
    QCOMPARE(m.state().brightness, (std::array<int, 4>{{0, 57, 57, 57}}));
    // Values above 100 within a row, or rows past the fourth, are refused.
    for (const char* bad : {"BRI101", "BRI150", "BRI301", "BRI750", "BRI800", "BRI990"})
        QCOMPARE(q(m.handle(bad)), QString("ERR002\r"));

    // TV Wall codes rows the same way.
    m.handle("MOD003");
    QCOMPARE(q(m.handle("CON445")), QString("CON445\r"));
    QCOMPARE(m.state().contrast[2], 45);
    QCOMPARE(q(m.handle("CON993")), QString("CON445\r"));

    // Back in Matrix, 999 reports output A, and a set evens out all four again.
    m.handle("MOD001");
    QCOMPARE(q(m.handle("SAT999")), QString("SAT050\r"));
    m.handle("SAT020");
    QCOMPARE(m.state().saturation, (std::array<int, 4>{{20, 20, 20, 20}}));
}

void TestSimModel::bezel_limits_and_maxima()
{
    DeviceModel m;
    QCOMPARE(q(m.handle("BEH998")), QString("BEH120\r"));
    QCOMPARE(q(m.handle("BEV998")), QString("BEV090\r"));
    QCOMPARE(q(m.handle("BEH120")), QString("BEH120\r"));
    QCOMPARE(q(m.handle("BEH121")), QString("ERR002\r"));
    QCOMPARE(q(m.handle("BEV090")), QString("BEV090\r"));
    QCOMPARE(q(m.handle("BEV091")), QString("ERR002\r"));
    QCOMPARE(q(m.handle("BEV007")), QString("BEV007\r"));
    QCOMPARE(q(m.handle("BEH999")), QString("BEH120\r"));
    QCOMPARE(q(m.handle("BEV999")), QString("BEV007\r"));
    m.state().bezel_h_max = 254;
    m.state().bezel_v_max = 0;
    QCOMPARE(q(m.handle("BEH998")), QString("BEH254\r"));
    QCOMPARE(q(m.handle("BEV998")), QString("BEV000\r"));
    QCOMPARE(q(m.handle("BEV001")), QString("ERR002\r"));
    QCOMPARE(q(m.handle("BEZ999")), QString("BEZ000\r"));
}

void TestSimModel::presets_hold_routing_mode_and_picture()
{
    DeviceModel m;
    // Until something is saved, a recall brings back the factory settings.
    run(m, {"OUT002", "INP004", "MOD003", "CAL001"});
    QCOMPARE(m.state().mode, 1);
    QCOMPARE(m.state().routes, (std::array<int, 4>{{1, 2, 3, 4}}));

    run(m, {"MOD002", "OUT001", "INP003", "OUT004", "INP001", "BRI230", "BEZ001", "BEH033",
            "AUA002", "RES007", "AUE003", "LCK001"});
    QCOMPARE(q(m.handle("SAV003")), QString("SAV003\r"));
    const PresetContent saved = m.state();

    run(m, {"MOD001", "OUT001", "INP002", "BRI080", "BEZ000", "BEH000", "AUA001", "RES001",
            "AUE001", "LCK000", "AUD000"});
    QVERIFY(static_cast<const PresetContent&>(m.state()) != saved);
    QCOMPARE(q(m.handle("CAL003")), QString("CAL003\r"));
    QVERIFY(static_cast<const PresetContent&>(m.state()) == saved);
    QCOMPARE(m.state().mode, 2);
    QCOMPARE(m.state().routes, (std::array<int, 4>{{3, 2, 3, 1}}));
    QCOMPARE(m.state().brightness[1], 30);
    QCOMPARE(m.state().bezel_h, 33);
    // Not part of a preset: lock, audio output, audio EDID, current output.
    QCOMPARE(m.state().locked, false);
    QCOMPARE(m.state().audio_on, false);
    QCOMPARE(m.state().audio_edid, 1);
    QCOMPARE(m.state().current_output, 1);
    // Other presets are untouched by saving into the third.
    QVERIFY(m.state().presets[1] == PresetContent{});
}

void TestSimModel::resets()
{
    DeviceState factory;
    factory.version = 121;
    factory.mode = 2;
    DeviceModel m(factory);
    m.state().ip = {{10, 1, 1, 1}};  // changed in the field; a reset keeps the network identity
    m.state().bezel_h_max = 200;
    run(m, {"MOD003", "OUT003", "INP001", "BRI470", "LCK001", "AUD000", "AUE004", "SAV002",
            "BEZ001", "RES002", "MNX001"});

    // The picture reset touches the picture values and nothing else.
    QCOMPARE(q(m.handle("RST002")), QString("RST002\r"));
    for (auto* values : {&m.state().brightness, &m.state().contrast, &m.state().hue, &m.state().saturation})
        QCOMPARE(*values, (std::array<int, 4>{{50, 50, 50, 50}}));
    QCOMPARE(m.state().mode, 3);
    QVERIFY(m.state().locked);

    m.handle("BRI470");
    QCOMPARE(q(m.handle("RST001")), QString("RST001\r"));
    const DeviceState& s = m.state();
    QCOMPARE(s.mode, 2);  // the factory mode
    QCOMPARE(s.routes, (std::array<int, 4>{{1, 2, 3, 4}}));
    QCOMPARE(s.current_output, 1);
    QCOMPARE(s.brightness[2], 50);
    QVERIFY(!s.locked);
    QVERIFY(s.audio_on);
    QCOMPARE(s.audio_edid, 0);
    QVERIFY(!s.bezel_on);
    QCOMPARE(s.resolution, 14);
    QVERIFY(s.presets[1] == PresetContent{});
    QCOMPARE(s.version, 121);
    QCOMPARE(s.ip, (std::array<int, 4>{{10, 1, 1, 1}}));
    QCOMPARE(s.bezel_h_max, 200);
}

void TestSimModel::standby_serves_only_power_lock_identity()
{
    DeviceModel m;
    QCOMPARE(q(m.handle("PWR000")), QString("PWR000\r"));
    QVERIFY(!m.state().power_on);
    for (const char* c : {"MOD999", "INP999", "OUT002", "BRI050", "AUD999", "BEH998", "CAL001",
                          "SAV001", "RES999", "MNU001"})
        QCOMPARE(q(m.handle(c)), QString("ERR003\r"));
    QCOMPARE(m.state().current_output, 1);  // the refused OUT002 did nothing
    QCOMPARE(q(m.handle("PWR999")), QString("PWR000\r"));
    QCOMPARE(q(m.handle("LCK001")), QString("LCK001\r"));
    QCOMPARE(q(m.handle("VER999")), QString("VER106\r"));
    QCOMPARE(q(m.handle("EIP999")), QString("192.168.001.100\r"));
    // Malformed lines still get the malformed answer, not the standby one.
    QCOMPARE(q(m.handle("XYZ999")), QString("ERR001\r"));
    QCOMPARE(q(m.handle("PWR001")), QString("PWR001\r"));
    QCOMPARE(q(m.handle("MOD999")), QString("MOD001\r"));
}

void TestSimModel::resolution_rules()
{
    DeviceModel m;
    QCOMPARE(q(m.handle("RES999")), QString("RES014\r"));
    QCOMPARE(q(m.handle("RES006")), QString("RES006\r"));
    QCOMPARE(q(m.handle("RES012")), QString("RES012\r"));
    QCOMPARE(q(m.handle("RES000")), QString("ERR002\r"));
    QCOMPARE(q(m.handle("RES015")), QString("ERR002\r"));
    // The fifth and sixth are refused while the outputs are split.
    m.handle("MOD002");
    QCOMPARE(q(m.handle("RES005")), QString("ERR002\r"));
    QCOMPARE(q(m.handle("RES006")), QString("ERR002\r"));
    QCOMPARE(q(m.handle("RES007")), QString("RES007\r"));
    QCOMPARE(q(m.handle("RES999")), QString("RES007\r"));
}

void TestSimModel::framer_cuts_at_cr_and_tolerates_noise()
{
    LineFramer f;
    auto texts = [](const std::vector<LineFramer::Line>& lines) {
        QStringList out;
        for (const auto& l : lines) out << q(l.text);
        return out;
    };
    // A command in pieces is one line, only once its CR has arrived.
    QVERIFY(f.feed("AUA").empty());
    QCOMPARE(texts(f.feed("001\rAUB00")), QStringList{"AUA001"});
    QCOMPARE(texts(f.feed("2\r")), QStringList{"AUB002"});
    // CR LF senders, bare CRs and LFs between commands are noise.
    QCOMPARE(texts(f.feed("VER999\r\n\r\nMOD999\r\r")), (QStringList{"VER999", "MOD999"}));
    // Garbage ends at the next CR; the line after it is read normally.
    const auto lines = f.feed(std::string("\x01\xff junk\rOUT002\r", 15));
    QCOMPARE(lines.size(), size_t(2));
    QCOMPARE(lines[0].text.size(), size_t(7));
    QCOMPARE(q(lines[1].text), QString("OUT002"));
    QCOMPARE(q(lines[1].raw), QString("OUT002\r"));
    // A line that never ends cannot grow without bound, and still is not a command.
    QVERIFY(f.feed(std::string(100000, 'A')).empty());
    const auto flood = f.feed("\r");
    QCOMPARE(flood.size(), size_t(1));
    QVERIFY(flood[0].text.size() > 6 && flood[0].text.size() <= LineFramer::max_line + 1);
    QVERIFY(flood[0].raw.size() <= LineFramer::max_line);
    DeviceModel m;
    QCOMPARE(q(m.handle(flood[0].text)), QString("ERR001\r"));
}

void TestSimModel::control_language_parses_the_scenarios()
{
    ControlRequest r;
    std::string error;
    QVERIFY(parse_control("silent ALL", r, error));
    QCOMPARE(r.type, ControlRequest::Arm);
    QVERIFY(r.fault.target.empty());
    QCOMPARE(r.fault.remaining, -1);

    Fault f = armed("delay 3000 MOD");
    QCOMPARE(f.kind, FaultKind::Delay);
    QCOMPARE(f.number, 3000);
    QCOMPARE(q(f.target), QString("MOD"));

    f = armed("code AUA BRI");  // answer BRI commands with the code AUA
    QCOMPARE(f.kind, FaultKind::Code);
    QCOMPARE(q(f.text), QString("AUA"));
    QCOMPARE(q(f.target), QString("BRI"));

    f = armed("err VER");
    QCOMPARE(f.number, 1);
    QCOMPARE(q(f.target), QString("VER"));
    f = armed("err 005 all");
    QCOMPARE(f.number, 5);
    QVERIFY(f.target.empty());

    f = armed("split 3,4 gap 20");
    QCOMPARE(f.sizes, (std::vector<int>{3, 4}));
    QCOMPARE(f.gap_ms, 20);
    f = armed("trailing \\n inp once");
    QCOMPARE(q(f.text), QString("\n"));
    QCOMPARE(q(f.target), QString("INP"));
    QCOMPARE(f.remaining, 1);
    QCOMPARE(armed("garbage 10").number, 10);
    QCOMPARE(armed("garbage").number, 7);
    QCOMPARE(armed("flood 65536 times 2").remaining, 2);
    QCOMPARE(armed("drop-mid").kind, FaultKind::DropMid);
    QCOMPARE(armed("double MOD").kind, FaultKind::Double);
    f = armed("unsolicited AUD001 after 30 MOD");
    QCOMPARE(q(f.text), QString("AUD001"));
    QCOMPARE(f.after_ms, 30);
    QCOMPARE(armed("ext 002 PWR").number, 2);
    QCOMPARE(armed("vanish ALL").kind, FaultKind::Vanish);

    // Without a target these act at once.
    QVERIFY(parse_control("ext", r, error));
    QCOMPARE(r.type, ControlRequest::ExtNow);
    QVERIFY(parse_control("vanish", r, error));
    QCOMPARE(r.type, ControlRequest::VanishNow);
    QVERIFY(parse_control("unsolicited AUD001", r, error));
    QCOMPARE(r.type, ControlRequest::Send);
    QCOMPARE(q(r.bytes), QString("AUD001\r"));
    QVERIFY(parse_control("send MOD002\\r\\x00 x", r, error));
    QCOMPARE(r.bytes, std::string("MOD002\r\0 x", 10));
    QVERIFY(parse_control("reset", r, error));
    QCOMPARE(r.type, ControlRequest::Reset);
    QVERIFY(parse_control("set ip 10.0.0.9", r, error));
    QCOMPARE(r.type, ControlRequest::Set);

    // What `faults` lists parses back to the same fault.
    for (const char* line : {"split 3,4 gap 20 VER", "unsolicited AUD001 after 5 ALL", "trailing \\r\\n MOD times 3"}) {
        const Fault a = armed(line);
        const Fault b = armed(a.describe());
        QCOMPARE(q(b.describe()), q(a.describe()));
    }
}

void TestSimModel::control_language_rejects_nonsense()
{
    ControlRequest r;
    std::string error;
    for (const char* bad : {"", "bogus", "delay", "delay x MOD", "delay 10 MOD extra", "code", "code AB",
                            "split", "split 0", "split 3,,4", "split 3 gap", "trailing", "flood",
                            "flood 0", "silent MODE", "silent MOD times 0", "send", "reset now",
                            "unsolicited AUD001 after 5", "set power"}) {
        error.clear();
        QVERIFY2(!parse_control(bad, r, error), bad);
        QVERIFY2(!error.empty(), bad);
    }
}

void TestSimModel::fault_plan_shapes_replies()
{
    auto plan_of = [](const std::string& line, const std::string& code = "MOD",
                      const std::string& reply = "MOD002\r") {
        FaultPlan p;
        p.arm(armed(line));
        return p.plan(code, reply);
    };
    auto bytes_of = [](const std::vector<Chunk>& chunks) {
        std::string all;
        for (const auto& c : chunks) all += c.bytes;
        return q(all);
    };

    FaultPlan none;
    auto c = none.plan("MOD", "MOD002\r");
    QCOMPARE(c.size(), size_t(1));
    QCOMPARE(c[0].delay_ms, 0);

    c = plan_of("delay 250");
    QCOMPARE(c[0].delay_ms, 250);
    QCOMPARE(bytes_of(c), QString("MOD002\r"));
    QVERIFY(plan_of("silent").empty());
    QCOMPARE(bytes_of(plan_of("err 7")), QString("ERR007\r"));
    QCOMPARE(bytes_of(plan_of("code BRI")), QString("BRI002\r"));
    QCOMPARE(bytes_of(plan_of("double")), QString("MOD002\rMOD002\r"));
    QCOMPARE(bytes_of(plan_of("trailing \\n")), QString("MOD002\r\n"));

    c = plan_of("split 3,2 gap 40");
    QCOMPARE(c.size(), size_t(3));
    QCOMPARE(q(c[0].bytes), QString("MOD"));
    QCOMPARE(q(c[1].bytes), QString("00"));
    QCOMPARE(q(c[2].bytes), QString("2\r"));
    QCOMPARE(c[0].delay_ms, 0);
    QCOMPARE(c[1].delay_ms, 40);
    QCOMPARE(c[2].delay_ms, 40);

    const std::string junk = plan_of("garbage 40")[0].bytes;
    QCOMPARE(junk.size(), size_t(40));
    QVERIFY(junk.find_first_of("0123456789\r\n") == std::string::npos);
    const std::string flood = plan_of("flood 65536")[0].bytes;
    QCOMPARE(flood.size(), size_t(65536));
    QVERIFY(flood.find_first_of("0123456789\r\n") == std::string::npos);

    c = plan_of("drop-mid");
    QCOMPARE(c.size(), size_t(1));
    QCOMPARE(q(c[0].bytes), QString("MOD"));
    QCOMPARE(c[0].after, LinkAction::Close);

    c = plan_of("ext ALL");
    QCOMPARE(q(c[0].bytes), QString("EXT000\r"));
    QCOMPARE(c[0].after, LinkAction::Close);

    c = plan_of("unsolicited AUD001 after 15 ALL");
    QCOMPARE(c.size(), size_t(2));
    QCOMPARE(q(c[0].bytes), QString("MOD002\r"));
    QCOMPARE(q(c[1].bytes), QString("AUD001\r"));
    QCOMPARE(c[1].delay_ms, 15);

    c = plan_of("vanish ALL");
    QCOMPARE(c.size(), size_t(1));
    QVERIFY(c[0].bytes.empty());
    QCOMPARE(c[0].after, LinkAction::Vanish);

    // Faults combine: a delayed, split reply with a line feed behind it.
    FaultPlan p;
    p.arm(armed("delay 100"));
    p.arm(armed("trailing \\n"));
    p.arm(armed("split 4"));
    c = p.plan("VER", "VER106\r");
    QCOMPARE(c.size(), size_t(2));
    QCOMPARE(c[0].delay_ms, 100);
    QCOMPARE(q(c[0].bytes), QString("VER1"));
    QCOMPARE(q(c[1].bytes), QString("06\r\n"));
    // A network answer keeps its 16 bytes unless a fault changes them.
    QCOMPARE(none.plan("EIP", "192.168.001.100\r")[0].bytes.size(), size_t(16));
}

void TestSimModel::fault_plan_prefers_code_and_counts_uses()
{
    FaultPlan p;
    p.arm(armed("err 009"));
    p.arm(armed("err 004 VER"));
    QCOMPARE(q(p.plan("VER", "VER106\r")[0].bytes), QString("ERR004\r"));
    QCOMPARE(q(p.plan("MOD", "MOD001\r")[0].bytes), QString("ERR009\r"));
    // The same kind and target again replaces the earlier fault.
    p.arm(armed("err 008 VER"));
    QCOMPARE(p.faults().size(), size_t(2));
    QCOMPARE(q(p.plan("VER", "VER106\r")[0].bytes), QString("ERR008\r"));

    p.reset();
    QVERIFY(p.empty());
    p.arm(armed("silent MOD times 2"));
    p.arm(armed("double once"));
    QVERIFY(p.plan("MOD", "MOD001\r").empty());  // silent acts; double is left unused
    QCOMPARE(q(p.plan("VER", "VER106\r")[0].bytes), QString("VER106\rVER106\r"));
    QCOMPARE(q(p.plan("VER", "VER106\r")[0].bytes), QString("VER106\r"));
    QVERIFY(p.plan("MOD", "MOD001\r").empty());
    QCOMPARE(q(p.plan("MOD", "MOD001\r")[0].bytes), QString("MOD001\r"));
    QVERIFY(p.empty());
}

void TestSimModel::transcript_round_trips_every_byte()
{
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    const std::string text = escape_bytes(all);
    QVERIFY(text.find('\r') == std::string::npos && text.find('\n') == std::string::npos);
    QVERIFY(text.find('"') == std::string::npos || text.find("\\\"") != std::string::npos);
    std::string back;
    QVERIFY(unescape_bytes(text, back));
    QVERIFY(back == all);
    QVERIFY(!unescape_bytes("abc\\", back));
    QVERIFY(!unescape_bytes("\\q", back));
    QVERIFY(!unescape_bytes("\\xZZ", back));

    TranscriptEntry e;
    e.micros = 1234567;
    e.channel = "tcp";
    e.kind = "TX";
    e.bytes = "AUA\"001\r\n\x01";
    const std::string line = format_entry(e);
    QCOMPARE(q(line), QString("000001234567 tcp TX \"AUA\\\"001\\r\\n\\x01\""));
    TranscriptEntry r;
    QVERIFY(parse_entry(line, r));
    QCOMPARE(r.micros, e.micros);
    QCOMPARE(q(r.channel), QString("tcp"));
    QVERIFY(r.bytes == e.bytes);
    QVERIFY(!parse_entry("12 tcp TX AUA001", r));
    QVERIFY(!parse_entry("x tcp TX \"A\"", r));
    QVERIFY(!parse_entry("12 tcp ZZ \"A\"", r));
}

void TestSimModel::replay_groups_replies_by_command()
{
    QTemporaryDir dir;
    const std::string path = (dir.path() + "/t.log").toStdString();
    {
        std::ofstream out(path);
        out << "000000000100 tcp EV client connected\n"
               "000000000200 tcp TX \"AUD001\\r\"\n"
               "000000010000 tcp RX \"VER999\\r\"\n"
               "000000010100 tcp TX \"VER1\"\n"
               "000000050100 tcp TX \"23\\r\"\n"
               "000000060000 serial RX \"\\nMOD999\\r\"\n"
               "000000070000 serial RX \"MOD002\\r\"\n"
               "000000075000 serial TX \"MOD002\\r\"\n";
    }
    std::vector<ReplayStep> steps;
    std::string error;
    QVERIFY(load_replay(path, steps, error));
    QCOMPARE(steps.size(), size_t(4));
    QVERIFY(steps[0].command.empty());
    QCOMPARE(q(steps[0].pieces.at(0).bytes), QString("AUD001\r"));
    QCOMPARE(q(steps[1].command), QString("VER999"));
    QCOMPARE(steps[1].pieces.size(), size_t(2));
    QCOMPARE(steps[1].pieces[0].delay_ms, 0);
    QCOMPARE(steps[1].pieces[1].delay_ms, 40);
    QCOMPARE(q(steps[2].command), QString("MOD999"));
    QVERIFY(steps[2].pieces.empty());  // recorded without an answer: replayed without one
    QCOMPARE(steps[3].pieces.at(0).delay_ms, 5);

    {
        std::ofstream out(path);
        out << "000000000100 tcp RX \"VER999\\r\"\nnot a line\n";
    }
    QVERIFY(!load_replay(path, steps, error));
    QVERIFY(QString::fromStdString(error).contains(":2:"));
    QVERIFY(!load_replay(path + ".missing", steps, error));
}

QTEST_GUILESS_MAIN(TestSimModel)
#include "test_sim_model.moc"
