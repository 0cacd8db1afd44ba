// tavrion-ctl's verbs, status, backup, restore, diff and run files, through run_program as main
// calls it: against a device played by the simulator's model (no link: each command is handed to
// the model and its answer classified as the session would), and against the simulator itself
// over a pseudo-terminal and over TCP through the tool's own session; and the program itself.
#include "ctl/program.h"
#include "hub/unit_backend.h"
#include "verbs/session_device.h"
#include "session/device_model.h"
#include "session/serial_port.h"
#include "sim/sim_server.h"
#include "support/ctl_document.h"
#include "support/file_size_limit.h"
#include "support/program_folder.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <sstream>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tavrion::ctl;
using namespace tavrion::verbs;
using tavrion::test::document_of;
using tavrion_sim::DeviceModel;
using tavrion_sim::DeviceState;
using Kind = Answer::Kind;

namespace {

// The far end: the simulator's model, what went on the wire, and answers that replace the model's
// (by whole command or by code; the model still acts on the command, as with the simulator's faults).
struct Bench {
    DeviceModel model;
    QStringList wire; // slow transactions (late-reply waits) carry a "~"
    std::map<std::string, Answer> faults;
    bool serial = true;
    bool down = false;       // the TCP link dropped after a restart
    bool comes_back = true;  // wait_ready succeeds
    int opens = 0;
    bool open_fails = false;
    std::string link; // the link it was opened on
    std::string refuse_all; // every command answered with this ERR reply
};

class BenchDevice : public Device {
public:
    explicit BenchDevice(Bench& b) : b_(b) {}
    Answer ask(const std::string& c) override { return exchange(c, false); }
    Answer ask_slow(const std::string& c) override { return exchange(c, true); }
    std::optional<std::string> network_query(const std::string& c) override
    {
        b_.wire << QString::fromStdString(c);
        if (!b_.serial || b_.faults.count(c)) return std::nullopt;
        const std::string answer = b_.model.handle(c);
        heard_.take_network(c, answer);
        return answer;
    }
    tavrion::DeviceModel& model() override { return heard_; }
    bool on_serial() const override { return b_.serial; }
    bool wait_ready(int) override
    {
        b_.down = !b_.comes_back;
        return b_.comes_back;
    }

private:
    // The answers go into the link's model as the session hands them to it.
    Answer exchange(const std::string& c, bool slow)
    {
        heard_.expect_answer_to(c);
        const Answer a = transact(c, slow);
        if (a.answered()) heard_.take(a.reply);
        heard_.exchange_ended(c, a);
        return a;
    }
    Answer transact(const std::string& c, bool slow)
    {
        if (b_.down) return {Kind::LinkDown, {}};
        b_.wire << QString::fromStdString(c) + (slow ? "~" : "");
        tell_line(tavrion::Direction::Sent, c);
        const std::string r = b_.model.handle(c);
        if (!b_.serial && (c == "PWR001" || c == "RST001")) {
            b_.down = true;
            return {Kind::Restarted, {}};
        }
        for (const std::string& key : {c, c.substr(0, 3)})
            if (b_.faults.count(key)) return b_.faults[key];
        if (!b_.refuse_all.empty()) return {Kind::Refused, b_.refuse_all};
        if (r.empty()) return {Kind::Silent, {}};
        tell_line(tavrion::Direction::Received, r);
        const std::string reply = r.substr(0, 6);
        if (reply.compare(0, 3, "ERR") == 0) return {Kind::Refused, reply};
        return {reply.compare(0, 3, c, 0, 3) == 0 ? Kind::Answered : Kind::OtherCode, reply};
    }
    Bench& b_;
    tavrion::DeviceModel heard_;
};

struct Result {
    int status;
    QString out, err;
};

Result invoke(const std::vector<std::string>& v, const std::string& program_dir, const DeviceOpener& open)
{
    std::ostringstream out, err;
    const int status = run_program(v, program_dir, open, out, err);
    return {status, QString::fromStdString(out.str()), QString::fromStdString(err.str())};
}

Result invoke(const QString& args, const std::string& program_dir, const DeviceOpener& open)
{
    std::vector<std::string> v;
    for (const QString& a : args.split(QLatin1Char(' '), Qt::SkipEmptyParts)) v.push_back(a.toStdString());
    return invoke(v, program_dir, open);
}

DeviceOpener bench_opener(Bench& b)
{
    return [&b](const LinkTarget& link, std::string& error) -> std::unique_ptr<Device> {
        ++b.opens;
        b.link = link.name();
        if (b.open_fails) {
            error = "cannot be opened";
            return nullptr;
        }
        return std::make_unique<BenchDevice>(b);
    };
}

Result ctl(Bench& b, const QString& args, const std::string& program_dir = TAVRION_PROGRAM_DIR)
{
    return invoke(args, program_dir, bench_opener(b));
}

// The simulator in this process on a real link: its pseudo-terminal as COM1 of a program folder,
// or a loopback TCP port. The tool reaches it through session_opener, as main does.
struct Rig {
    explicit Rig(bool on_serial) : serial(on_serial)
    {
        if (serial) {
            QDir().mkpath(folder.file("serial"));
            sim.open_serial(folder.file("serial/COM1"));
        } else {
            sim.listen_tcp(QHostAddress::LocalHost, 0);
        }
    }
    QString link() const { return serial ? "--serial COM1" : QString("--tcp 127.0.0.1:%1").arg(sim.tcp_port()); }
    DeviceState& device() { return sim.device().state(); }

    bool serial;
    int opens = 0;
    tavrion::test::ProgramFolder folder;
    tavrion_sim::SimServer sim; // after the folder: its link goes before the folder does
};

Result ctl(Rig& rig, const QString& args)
{
    const std::string dir = rig.folder.path().toStdString();
    const DeviceOpener open = session_opener(dir);
    return invoke(rig.link() + " " + args, dir, [&](const LinkTarget& link, std::string& error) {
        ++rig.opens;
        return open(link, error);
    });
}

// One opened session for several invocations, as the hub keeps a unit's link open.
class SharedDevice : public Device {
public:
    explicit SharedDevice(Device& d) : d_(d) {}
    Answer ask(const std::string& c) override { return d_.ask(c); }
    Answer ask_slow(const std::string& c) override { return d_.ask_slow(c); }
    std::optional<std::string> network_query(const std::string& c) override { return d_.network_query(c); }
    bool on_serial() const override { return d_.on_serial(); }
    bool wait_ready(int seconds) override { return d_.wait_ready(seconds); }
    tavrion::DeviceModel& model() override { return d_.model(); }

private:
    Device& d_;
};

QString file_in(const QTemporaryDir& dir, const char* name, const QByteArray& content = {})
{
    const QString path = dir.filePath(QLatin1String(name));
    if (!content.isNull()) {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly)) f.write(content);
    }
    return path;
}

const QString kMapRead = "OUT001 INP999 OUT002 INP999 OUT003 INP999 OUT004 INP999";
const QString kRowsRead = "BRI991 CON991 HUE991 SAT991 BRI992 CON992 HUE992 SAT992 "
                          "BRI993 CON993 HUE993 SAT993 BRI994 CON994 HUE994 SAT994";

// A device that differs from the factory settings almost everywhere, in `mode`.
void commissioned(DeviceState& s, int mode)
{
    s.mode = mode;
    s.routes = {{4, 3, 2, 1}};
    s.brightness = {{10, 20, 30, 40}};
    s.contrast = {{11, 21, 31, 41}};
    s.hue = {{12, 22, 32, 42}};
    s.saturation = {{13, 23, 33, 43}};
    if (mode == 1) s.brightness.fill(10), s.contrast.fill(11), s.hue.fill(12), s.saturation.fill(13);
    s.bezel_on = true;
    s.bezel_h = 17;
    s.bezel_v = 9;
    s.dual_a_audio = 2;
    s.dual_b_audio = 2;
    s.resolution = 3;
    s.locked = true;
    s.audio_on = false;
    s.audio_edid = 4;
}

} // namespace

class TestCtl : public QObject {
    Q_OBJECT
private slots:
    void verbs_on_the_wire_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("wire");
        QTest::addColumn<int>("status");
        // Verbs: what the window's buttons send, after what the verb reads first.
        // route: the window's output and input buttons, the mode not read; either names in any mode.
        QTest::newRow("route matrix") << 1 << "route B 3" << "OUT002 INP999 INP003" << 0;
        QTest::newRow("route dual") << 2 << "route AR 1" << "OUT002 INP999 INP001" << 0;
        QTest::newRow("route wall") << 3 << "route wall 2" << "OUT001 INP002" << 0;
        QTest::newRow("route dual names in matrix") << 1 << "route bl 4" << "OUT003 INP999 INP004" << 0;
        QTest::newRow("route matrix names in dual") << 2 << "route D 1" << "OUT004 INP999 INP001" << 0;
        QTest::newRow("mode tv-wall") << 1 << "mode tv-wall" << "MOD003~ OUT001 INP999 " + kRowsRead << 0;
        QTest::newRow("mode matrix") << 2 << "mode matrix" << "MOD001~ " + kMapRead + " BRI999 CON999 HUE999 SAT999" << 0;
        QTest::newRow("power standby") << 1 << "power standby" << "PWR999 PWR000" << 0;
        QTest::newRow("power on, already on") << 1 << "power on" << "PWR999" << 0;
        QTest::newRow("lock") << 1 << "lock on" << "LCK001" << 0;
        QTest::newRow("mute") << 1 << "mute on" << "AUD000" << 0;
        QTest::newRow("edid") << 1 << "edid Bitstream" << "AUE003" << 0;
        QTest::newRow("dual-audio") << 2 << "dual-audio B right" << "AUB002" << 0;
        QTest::newRow("picture matrix") << 1 << "picture brightness all 57" << "MOD999 BRI057" << 0;
        QTest::newRow("picture wall row") << 3 << "picture contrast C 45" << "MOD999 CON445" << 0;
        QTest::newRow("picture row of another mode") << 1 << "picture hue A 10" << "MOD999" << 1;
        QTest::newRow("picture reset") << 2 << "picture reset" << "RST002" << 0;
        QTest::newRow("bezel on") << 3 << "bezel on" << "BEZ001" << 0;
        QTest::newRow("bezel h") << 3 << "bezel h 12" << "BEH012" << 0;
        QTest::newRow("bezel above the maximum") << 3 << "bezel v 200" << "BEV200" << 1;
        QTest::newRow("resolution 6 in matrix") << 1 << "resolution 6" << "MOD999 RES006" << 0;
        QTest::newRow("resolution 5 outside matrix") << 2 << "resolution 5" << "MOD999" << 1;
        QTest::newRow("resolution 7 in dual") << 2 << "resolution 7" << "RES007" << 0;
        QTest::newRow("resolution by name") << 1 << "resolution 1920x1080@60" << "RES014" << 0;
        QTest::newRow("preset recall") << 1 << "preset recall 3" << "CAL003~ " + kMapRead << 0;
        QTest::newRow("preset save") << 1 << "preset save 2" << "SAV002~" << 0;
        QTest::newRow("menu") << 1 << "menu ok" << "MNO001" << 0;
        QTest::newRow("factory reset") << 1 << "factory-reset --yes" << "RST001" << 0;
        QTest::newRow("version") << 1 << "version" << "VER999" << 0;
        QTest::newRow("send") << 1 << "send OUT002" << "OUT002" << 0;
        QTest::newRow("send slow") << 1 << "send MOD002" << "MOD002~" << 0;
        QTest::newRow("send refused") << 1 << "send XYZ123" << "XYZ123" << 1;
        // Usage errors: nothing goes out.
        for (const char* bad : {"route E 3", "route B 5", "mode wall", "picture brightness all 101", "picture tint all 5",
                                "bezel h 255", "resolution 15", "resolution 800x600", "preset recall 5",
                                "factory-reset", "send OUT02", "send RST001", "send rst001", "frobnicate", "status --yes", "version --json",
                                "--serial COM1 --tcp 10.0.0.7 status", "--serial COM12 status",
                                "--tcp 10.0.0.7:99999 status", "--wait-ready 0 status", "--bogus status", "",
                                "restore", "diff /nonexistent/backup.json", "backup /nonexistent/dir/b.json",
                                "run /nonexistent/script.txt"})
            QTest::newRow(bad) << 1 << bad << "" << 2;
    }
    void verbs_on_the_wire()
    {
        QFETCH(int, mode);
        QFETCH(QString, args);
        QFETCH(QString, wire);
        QFETCH(int, status);
        Bench b;
        b.model.state().mode = mode;
        const Result r = ctl(b, args);
        QCOMPARE(b.wire.join(QLatin1Char(' ')), wire);
        QVERIFY2(r.status == status, qPrintable(r.err));
        if (r.status == 2) QCOMPARE(b.opens, 0); // not even the link is opened
        if (r.status != 0) QVERIFY(r.err.startsWith("tavrion-ctl: "));

        // The same against the simulator over both links, through the tool's own session.
        for (const bool serial : {true, false}) {
            Rig rig(serial);
            rig.device().mode = mode;
            const Result real = ctl(rig, args);
            QCOMPARE(rig.sim.received_commands().join(QLatin1Char(' ')), QString(wire).remove(QLatin1Char('~')));
            QVERIFY2(real.status == status, qPrintable(real.err));
            if (status == 2) QCOMPARE(rig.opens, 0);
            if (!args.contains("--serial") && !args.contains("--tcp")) QCOMPARE(real.err, r.err);
            if (serial) QCOMPARE(real.out, r.out); // over TCP a factory reset ends in the restart
        }
    }

    void failures_name_the_command_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("fault"); // command or code
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("refused") << "lock on" << "LCK" << int(Kind::Refused) << 1 << "lock on: LCK001: the device refused it (ERR002)";
        QTest::newRow("other code") << "lock on" << "LCK" << int(Kind::OtherCode) << 1 << "LCK001: the device answered AUA001 instead";
        QTest::newRow("silent") << "route B 3" << "OUT002" << int(Kind::Silent) << 1 << "route B 3: OUT002: no answer within the wait";
        QTest::newRow("silent, slow") << "mode dual" << "MOD" << int(Kind::Silent) << 1 << "MOD002: no answer within the wait and the late-reply waits";
        QTest::newRow("value not taken") << "edid hd" << "AUE" << int(Kind::Answered) << 1 << "AUE004: the device answered AUE001, so the value did not take";
        QTest::newRow("link down") << "status" << "BEZ" << int(Kind::LinkDown) << 3 << "BEZ999: the link to COM1 is down";
        QTest::newRow("status stops at silence") << "status" << "LCK" << int(Kind::Silent) << 1 << "LCK999: no answer";
        QTest::newRow("network silent") << "status" << "EMK999" << int(Kind::Silent) << 1 << "EMK999: no 16-character answer";
    }
    void failures_name_the_command()
    {
        QFETCH(QString, args);
        QFETCH(QString, fault);
        QFETCH(int, kind);
        QFETCH(int, status);
        QFETCH(QString, message);
        Bench b;
        const std::string reply = kind == int(Kind::Refused) ? "ERR002" : kind == int(Kind::OtherCode) ? "AUA001" : "AUE001";
        b.faults[fault.toStdString()] = {Kind(kind), reply};
        const Result r = ctl(b, args);
        QCOMPARE(r.status, status);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        // A chain ends at its first unanswered query; a lost link sends nothing more.
        if (fault.size() == 3 && kind != int(Kind::Refused)) QVERIFY(b.wire.last().startsWith(fault));

        Bench closed;
        closed.open_fails = true;
        const Result c = ctl(closed, "status");
        QCOMPARE(c.status, 3);
        QVERIFY2(c.err.contains("COM1: cannot be opened"), qPrintable(c.err)); // the port from tavrion.ini
    }

    void status_reads_as_refresh_and_round_trips()
    {
        for (int mode = 1; mode <= 3; ++mode) {
            Bench b;
            commissioned(b.model.state(), mode);
            const Result r = ctl(b, "status --json");
            QCOMPARE(r.status, 0);
            const QString head = "VER999 AUA999 AUB999 AUD999 AUE999 BEH999 BEV999 BEZ999 BEH998 BEV998 LCK999 PWR999 "
                                 "RES999 MOD999 " + QString(mode == 3 ? "" : "OUT999 ") + "INP999 " + kMapRead;
            const QString rows = mode == 1 ? "BRI999 CON999 HUE999 SAT999" : kRowsRead;
            QCOMPARE(b.wire.join(' '), head + " " + rows + " EIP999 EMK999 EGW999");

            std::string why;
            const auto s = status_from_backup(r.out.toStdString(), why);
            QVERIFY2(s, why.c_str());
            QVERIFY2(differences(*s, *status_from_backup(r.out.toStdString(), why)).empty(), "");
            const DeviceState& d = b.model.state();
            QCOMPARE(*s->mode, mode);
            for (int n = 0; n < 4; ++n) QCOMPARE(*s->routes[n], d.routes[n]);
            for (int row = 1; row <= (mode == 1 ? 1 : 4); ++row)
                QCOMPARE(*s->picture[2][row - 1], d.hue[row - 1]);
            QCOMPARE(*s->bezel_h, 17);
            QCOMPARE(*s->edid, 4);
            QCOMPARE(*s->audio_on, false);
            QVERIFY(r.out.contains("\"format\": 1"));
            QVERIFY(r.out.contains("\"h_max\": 120"));
            QVERIFY(r.out.contains("\"name\": \"1280x768@60\""));
            QVERIFY(r.out.contains("\"ip\": \"192.168.1.100\""));
            QCOMPARE(r.out, document_of(d, true));

            // The simulator itself over both links: the network answers come over RS-232 only.
            for (const bool serial : {true, false}) {
                Rig rig(serial);
                commissioned(rig.device(), mode);
                const Result real = ctl(rig, "status --json");
                QVERIFY2(real.status == 0, qPrintable(real.err));
                QCOMPARE(real.out, document_of(rig.device(), serial));
                QCOMPARE(rig.sim.received_commands().join(' '), QString(b.wire.join(' ')).remove(serial ? "" : " EIP999 EMK999 EGW999"));
            }
        }
        // Over TCP no network settings; the table names outputs as the mode does.
        Bench tcp;
        tcp.serial = false;
        tcp.model.state().mode = 2;
        Result r = ctl(tcp, "--tcp 127.0.0.1:2323 status");
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.contains("Routes       AL   1   AR   2   BL   3   BR   4\n"), qPrintable(r.out));
        QVERIFY(!r.out.contains("IP address") && !tcp.wire.contains("EIP999"));

        // As in the window, a silent saturation query does not end the picture rows.
        Bench rows;
        rows.model.state().mode = 2;
        rows.faults["SAT992"] = {Kind::Silent, {}};
        QCOMPARE(ctl(rows, "status").status, 1);
        QVERIFY(rows.wire.contains("BRI993") && rows.wire.contains("SAT994") && !rows.wire.contains("EIP999"));

        // In standby the device refuses the rest: the chain still runs to its end and reports it,
        // but there is nothing to back up.
        Bench standby;
        standby.model.state().power_on = false;
        r = ctl(standby, "status");
        QCOMPARE(r.status, 0);
        QVERIFY(r.out.contains("Power        standby\n") && r.out.contains("Mode         -\n"));
        QTemporaryDir dir;
        const QString path = file_in(dir, "standby.json");
        r = ctl(standby, "backup " + path);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("in standby") && r.err.contains("nothing written"), qPrintable(r.err));
        QVERIFY(!QFile::exists(path));
    }

    void backup_factory_reset_restore_diff()
    {
        QTemporaryDir dir;
        const QString path = file_in(dir, "room12.json");
        Bench b;
        commissioned(b.model.state(), 2);
        const DeviceState saved = b.model.state();
        QCOMPARE(ctl(b, "backup " + path).status, 0);

        // A backup is whole or not there: a failed read leaves the earlier file as it was.
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray written = f.readAll();
        f.close();
        b.faults["MOD"] = {Kind::Silent, {}};
        QCOMPARE(ctl(b, "backup " + path).status, 1);
        b.faults.clear();
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), written);
        f.close();
        // ... and so does a disk that fills up while it is written.
        {
            tavrion::test::FileSizeLimit full{rlim_t(written.size() / 2)};
            if (full.ok()) QCOMPARE(ctl(b, "backup " + path).status, 1);
        }
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), written);
        f.close();

        b.model.factory_reset();
        b.wire.clear();
        Result r = ctl(b, "diff " + path);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.out.startsWith("lock: file on, device off\nmode: file dual, device matrix\nroute AL: file 4, device 1\n"),
                 qPrintable(r.out));
        QVERIFY(r.out.contains("brightness AL: file 10, device -\n")); // rows the device's mode lacks
        QVERIFY(!b.wire.contains("LCK000") && !b.wire.contains("MOD002~")); // diff only reads

        b.wire.clear();
        r = ctl(b, "restore " + path);
        QVERIFY2(r.status == 0, qPrintable(r.err + r.out));
        QVERIFY(static_cast<const tavrion_sim::PresetContent&>(b.model.state()) == saved);
        QCOMPARE(b.model.state().locked, true);
        QCOMPARE(b.model.state().audio_edid, 4);
        QCOMPARE(b.model.state().audio_on, false);
        // Power checked, mode first (with the window's re-read), then routes ... lock last.
        const QString wire = b.wire.join(' ');
        const QString plan = "PWR999 MOD002~ " + kMapRead + " " + kRowsRead
            + " OUT001 INP999 INP004 OUT002 INP999 INP003 OUT003 INP999 INP002 OUT004 INP999 INP001"
              " BRI010 CON011 HUE012 SAT013 BRI220 CON221 HUE222 SAT223 BRI430 CON431 HUE432 SAT433"
              " BRI640 CON641 HUE642 SAT643 BEH017 BEV009 BEZ001 AUE004 AUA002 AUB002 AUD000 RES003 LCK001 VER999";
        QVERIFY2(wire.startsWith(plan), qPrintable(wire));
        QCOMPARE(ctl(b, "diff " + path).status, 0);

        // Restore never switches power: a device in standby is refused before any setting.
        b.model.state().power_on = false;
        b.wire.clear();
        r = ctl(b, "restore " + path);
        QCOMPARE(r.status, 1);
        QCOMPARE(b.wire, QStringList{"PWR999"});
        QVERIFY(r.err.contains("standby"));

        // What is not a backup is a usage error, found before the link is opened.
        for (const QByteArray& bad : {QByteArray("not json"), QByteArray("[]"), QByteArray("{\"format\": 2}"),
                                      QByteArray(written).replace("\"dual\"", "\"quad\"")}) {
            Bench fresh;
            r = ctl(fresh, "restore " + file_in(dir, "bad.json", bad));
            QCOMPARE(r.status, 2);
            QVERIFY2(r.err.contains("is not a tavrion-ctl backup"), qPrintable(r.err));
            QCOMPARE(fresh.opens, 0);
        }

        // The same course on the simulator over both links. Over TCP the factory reset restarts
        // the device: --wait-ready reconnects until it answers again.
        for (const bool serial : {true, false}) {
            Rig rig(serial);
            rig.sim.set_restart_ms(300);
            commissioned(rig.device(), 3);
            const DeviceState commissioned_state = rig.device();
            const QString file = file_in(dir, serial ? "serial.json" : "tcp.json");
            QCOMPARE(ctl(rig, "backup " + file).status, 0);
            r = ctl(rig, "--wait-ready 10 factory-reset --yes");
            QVERIFY2(r.status == 0, qPrintable(r.err));
            QCOMPARE(r.out, serial ? QString("factory reset: done\n")
                                   : "factory reset: done\nthe device restarts; the link to " + rig.link().mid(6)
                                       + " dropped as expected\nthe device answers again\n");
            QCOMPARE(rig.device().locked, false);
            QCOMPARE(ctl(rig, "diff " + file).status, 1);
            r = ctl(rig, "restore " + file);
            QVERIFY2(r.status == 0, qPrintable(r.err + r.out));
            r = ctl(rig, "diff " + file);
            QCOMPARE(r.status, 0);
            QCOMPARE(r.out, QString());
            const DeviceState& now = rig.device();
            QVERIFY(static_cast<const tavrion_sim::PresetContent&>(now) == commissioned_state);
            QVERIFY(now.locked && now.audio_edid == 4 && !now.audio_on);
        }
    }

    void links_and_odd_answers()
    {
        // The link: from the options, else from tavrion.ini beside the program (which must be usable).
        QTemporaryDir dir;
        const std::string folder = dir.path().toStdString();
        Bench b;
        QCOMPARE(ctl(b, "version", folder).status, 2); // no tavrion.ini here
        QCOMPARE(b.opens, 0);
        file_in(dir, "tavrion.ini", "1\r\n4\r\n#TRUE#\r\n\"  10.0.0.7 \"\r\n");
        for (const auto& [args, link] : std::map<QString, std::string>{{"version", "10.0.0.7:23"},
                                                                       {"--serial com3: version", "COM3"},
                                                                       {"--serial /dev/ttyUSB0 version", "/dev/ttyUSB0"},
                                                                       {"--tcp [::1]:2323 version", "[::1]:2323"}}) {
            QCOMPARE(ctl(b, args, folder).status, 0);
            QCOMPARE(b.link, link);
        }
        // Without output_reso.txt numbers still work, names do not.
        QCOMPARE(ctl(b, "resolution 12", folder).status, 0);
        QCOMPARE(ctl(b, "resolution 1920x1080@60", folder).status, 2);
        const Result help = ctl(b, "--help");
        QVERIFY(help.status == 0 && help.out.contains("Presets cannot be read out of the device"));
        for (const char* verb_help : {"route --help", "help route", "--help route"}) {
            const Result part = ctl(b, verb_help);
            QVERIFY2(part.status == 0 && part.out.contains("  route wall INPUT") && !part.out.contains("  mode "), qPrintable(part.out));
        }
        QCOMPARE(ctl(b, "help frobnicate").status, 2);
        QVERIFY(ctl(b, "--version").out.startsWith("tavrion-ctl 1."));

        // Network answers come over RS-232 only, and are shown as plain text.
        b.wire.clear();
        QCOMPARE(ctl(b, "send EIP999").out, QString("192.168.001.100\\r\n"));
        b.serial = false;
        QCOMPARE(ctl(b, "--tcp 10.0.0.7 send EIP999").status, 2);
        QCOMPARE(b.wire, QStringList{"EIP999"});

        // Replies are read as the window's handlers read them: RES112 is entry 12; what names
        // nothing the window shows is ignored.
        tavrion::DeviceModel m;
        for (const char* r : {"RES112", "AUE007", "AUA003", "MOD009", "BEH255", "BEZ005", "OUT000", "INP002", "BRI101"})
            m.take(r);
        const tavrion::ReportedDevice& status = m.state();
        QCOMPARE(*status.resolution, 12);
        QVERIFY(!status.edid && !status.dual_a && !status.mode && !status.bezel_h && !status.bezel_on);
        QCOMPARE(*status.routes[0], 2);
        QVERIFY(!status.picture[0][0]);
    }

    void restore_goes_on_past_a_refusal()
    {
        // Cloning onto a unit whose horizontal bezel correction ends below the backup's amount.
        QTemporaryDir dir;
        const QString path = file_in(dir, "hall.json");
        Bench first, second;
        commissioned(first.model.state(), 3);
        QCOMPARE(ctl(first, "backup " + path).status, 0);
        second.model.state().bezel_h_max = 10;
        const Result r = ctl(second, "restore " + path);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("restore: BEH017: the device refused it (ERR002)"), qPrintable(r.err));
        QCOMPARE(r.out, QString("bezel h: file 17, device 0\n"));
        QCOMPARE(second.model.state().locked, true); // the rest went on, the lock last
        QCOMPARE(second.model.state().bezel_v, 9);
    }

    // What a demanding user tried: one row per fault found, and the conventions of command-line
    // tools. {dir} is a scratch folder holding dual.json (a backup of a Dual device) and files made
    // from it; {ff} is a byte that is not UTF-8.
    void a_demanding_user_data()
    {
        QTest::addColumn<QString>("setup"); // "sim:CONTROL" (the simulator over TCP), "process:HOW", or a bench
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("err");  // part of standard error
        QTest::addColumn<QString>("out");  // part of standard output; "=" for none at all
        QTest::addColumn<QString>("link"); // the link opened, where it matters
        const QString none;
        QTest::newRow("1 backup onto a fifo") << "fifo" << QStringList{"backup", "{dir}/fifo"} << 2 << "{dir}/fifo is not a regular file" << "=" << none;
        QTest::newRow("2 standard output full") << "process:full" << QStringList{"version"} << 1 << "cannot write standard output: no space left on the device" << none << none;
        QTest::newRow("2 standard output closed") << "process:closed" << QStringList{"version"} << 1 << "cannot write standard output: it is closed" << none << none;
        QTest::newRow("3 every query refused") << "sim:err 1" << QStringList{"status"} << 1 << "nothing could be read: the device refused every query (VER999 answered ERR001)" << none << none;
        QTest::newRow("4 relative serial path") << "bin/serial" << QStringList{"--serial", "bin/serial/COM1", "version"} << 0 << none << "1.06" << "{dir}/bin/serial/COM1";
        QTest::newRow("5 refused, but held") << "held" << QStringList{"restore", "{dir}/dual.json"} << 1 << "after restoring, 1 step was refused (see above), but the device holds every value of {dir}/dual.json" << "=" << none;
        QTest::newRow("6 diff in standby") << "standby" << QStringList{"diff", "{dir}/dual.json"} << 1 << "diff {dir}/dual.json: the device is in standby" << "=" << none;
        QTest::newRow("7 file size limit") << "process:fsize" << QStringList{"backup", "{dir}/dual.json"} << 1 << "the file size limit" << none << none;
        QTest::newRow("8 empty backup name") << "" << QStringList{"backup", ""} << 2 << "backup: give a file name" << "=" << none;
        QTest::newRow("8 folder not writable") << "read-only" << QStringList{"backup", "{dir}/ro/b.json"} << 2 << "the folder of {dir}/ro/b.json cannot be written" << "=" << none;
        QTest::newRow("9 missing file") << "" << QStringList{"restore", "{dir}/none.json"} << 2 << "{dir}/none.json cannot be read: no such file" << "=" << none;
        QTest::newRow("9 a folder") << "" << QStringList{"diff", "{dir}"} << 2 << "{dir} cannot be read: it is a folder" << "=" << none;
        QTest::newRow("10 newer format") << "" << QStringList{"restore", "{dir}/new.json"} << 2 << "{dir}/new.json was made by a newer version of tavrion-ctl (\"format\": 2)" << "=" << none;
        QTest::newRow("11 dual at resolution 5") << "" << QStringList{"restore", "{dir}/dual5.json"} << 2 << "resolution 5 is offered in Matrix mode only, and the file's mode is dual" << "=" << none;
        QTest::newRow("11 a key twice") << "" << QStringList{"restore", "{dir}/twice.json"} << 2 << "the key \"lock\" is given twice" << "=" << none;
        QTest::newRow("11 name and number disagree") << "" << QStringList{"diff", "{dir}/named.json"} << 2 << "resolution 3 is \"1280x768@60\" in output_reso.txt, but the file names it \"1920x1080@60\"" << "=" << none;
        QTest::newRow("12 negative value") << "" << QStringList{"bezel", "h", "-1"} << 2 << "bezel: VALUE -1 is out of range" << "=" << none;
        QTest::newRow("12 negative input") << "" << QStringList{"route", "A", "-1"} << 2 << "route: INPUT -1 is out of range" << "=" << none;
        QTest::newRow("12 end of options") << "" << QStringList{"--", "route", "B", "3"} << 0 << none << "B: input 3" << none;
        QTest::newRow("13 ERR003 is standby") << "sim:err 3 LCK" << QStringList{"lock", "on"} << 1 << "LCK001: the device refused it (ERR003: the device is in standby)" << none << none;
        QTest::newRow("13 EXT ends the session") << "sim:ext VER" << QStringList{"version"} << 3 << "VER999: the device ended the session (EXT000)" << none << none;
        QTest::newRow("13 garbage is unreadable") << "sim:garbage 7 VER" << QStringList{"version"} << 1 << "VER999: an unreadable answer (" << none << none;
        QTest::newRow("14 dual row names") << "dual" << QStringList{"picture", "brightness", "AR", "40"} << 0 << none << "brightness AR: 40" << none;
        QTest::newRow("14 table columns") << "dual" << QStringList{"status"} << 0 << none << "Routes       AL   1   AR   2   BL   3   BR   4\nBrightness   AL  50   AR  50" << none;
        QTest::newRow("14 blanks around the address") << "" << QStringList{"--tcp", " 127.0.0.1:2450 ", "version"} << 0 << none << "1.06" << "127.0.0.1:2450";
        QTest::newRow("14 factory reset over tcp") << "tcp" << QStringList{"--tcp", "10.0.0.7", "factory-reset", "--yes"} << 0 << none << "factory reset: done\nthe device restarts" << none;
        QTest::newRow("15 byte-order mark") << "" << QStringList{"run", "{dir}/bom.txt"} << 0 << none << "lock: on" << none;
        QTest::newRow("15 quoted file name") << "" << QStringList{"run", "{dir}/quoted.txt"} << 0 << none << "backup: {dir}/my file.json" << none;
        QTest::newRow("15 name not UTF-8") << "" << QStringList{"backup", "{dir}/{ff}.json"} << 2 << "is not valid UTF-8" << "=" << none;
        // The conventions.
        QTest::newRow("quiet") << "" << QStringList{"--quiet", "route", "B", "3"} << 0 << none << "=" << none;
        QTest::newRow("json of a change") << "" << QStringList{"--json", "route", "B", "3"} << 0 << none << "\"B\": 3" << none;
        QTest::newRow("json inside a run file") << "" << QStringList{"run", "{dir}/json.txt"} << 2 << "json.txt:1: --json in a run file goes with status only" << "=" << none;
        QTest::newRow("json of a diff") << "" << QStringList{"diff", "{dir}/dual.json", "--json"} << 1 << "values differ" << "\"setting\": \"route AL\"" << none;
    }
    void a_demanding_user()
    {
        QFETCH(QString, setup);
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, err);
        QFETCH(QString, out);
        QFETCH(QString, link);
        QTemporaryDir dir;
        auto fill = [&dir](QString s) { return s.replace("{dir}", dir.path()); };
        std::vector<std::string> words;
        for (const QString& a : args) {
            std::string w = fill(a).toStdString();
            if (const auto at = w.find("{ff}"); at != std::string::npos) w.replace(at, 4, "\xff");
            words.push_back(w);
        }
        // The files the rows name.
        Bench source;
        commissioned(source.model.state(), 2);
        const QString dual = dir.filePath("dual.json");
        QCOMPARE(ctl(source, "backup " + dual).status, 0);
        QFile f(dual);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray backup = f.readAll();
        f.close();
        file_in(dir, "new.json", QByteArray(backup).replace("\"format\": 1", "\"format\": 2"));
        file_in(dir, "dual5.json", QByteArray(backup).replace("\"number\": 3", "\"number\": 5"));
        file_in(dir, "twice.json", QByteArray(backup).replace("\"lock\": \"on\"", "\"lock\": \"off\", \"lock\": \"on\""));
        file_in(dir, "named.json", QByteArray(backup).replace("\"name\": \"1280x768@60\"", "\"name\": \"1920x1080@60\""));
        file_in(dir, "json.txt", "lock on --json\n");
        file_in(dir, "bom.txt", "\xEF\xBB\xBFlock on\n");
        file_in(dir, "quoted.txt", ("backup \"" + dir.filePath("my file.json") + "\" # a blank in the name\n").toUtf8());

        Result r;
        QStringList wire;
        if (setup.startsWith("sim:") || setup.startsWith("process:")) {
            Rig rig(false);
            if (setup.startsWith("sim:")) {
                QVERIFY(rig.sim.apply_control(setup.mid(4)));
                words.insert(words.begin(), {"--tcp", rig.link().mid(6).toStdString()});
                r = invoke(words, rig.folder.path().toStdString(), session_opener(rig.folder.path().toStdString()));
            } else {
                QStringList list = rig.link().split(' ');
                for (const std::string& w : words) list << QString::fromStdString(w);
                QProcess p;
                const QString program = TAVRION_PROGRAM_DIR "/tavrion-ctl";
                if (setup == "process:full") p.setStandardOutputFile("/dev/full");
                if (setup == "process:fsize")
                    p.setChildProcessModifier([] {
                        rlimit l{200, 200}; // the backup is some 800 bytes
                        setrlimit(RLIMIT_FSIZE, &l);
                        std::signal(SIGXFSZ, SIG_DFL); // the program must ignore it by itself
                    });
                if (setup == "process:closed") p.start("/bin/sh", QStringList{"-c", "exec \"$0\" \"$@\" >&-", program} + list);
                else p.start(program, list);
                if (!QTest::qWaitFor([&p] { return p.state() == QProcess::NotRunning; }, 20000)) p.kill();
                p.waitForFinished();
                r = {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(), p.readAllStandardError()};
                QVERIFY(f.open(QIODevice::ReadOnly));
                QCOMPARE(f.readAll(), backup); // the old file stays whole
            }
            wire = rig.sim.received_commands();
        } else {
            Bench b;
            if (setup == "dual") b.model.state().mode = 2;
            if (setup == "held") commissioned(b.model.state(), 2);
            if (setup == "held") b.faults["BEH017"] = {Kind::Refused, "ERR002"}; // the device holds 17 already
            if (setup == "standby") b.model.state().power_on = false;
            if (setup == "tcp") b.serial = false;
            if (setup == "read-only") {
                if (geteuid() == 0) QSKIP("root writes into any folder");
                QVERIFY(QDir(dir.path()).mkdir("ro") && QFile::setPermissions(dir.filePath("ro"), QFile::ReadOwner | QFile::ExeOwner));
            }
            if (setup == "fifo") QCOMPARE(mkfifo(QFile::encodeName(dir.filePath("fifo")).constData(), 0600), 0);
            const QString cwd = QDir::currentPath();
            if (setup == "bin/serial") {
                QVERIFY(QDir(dir.path()).mkpath("bin/serial"));
                file_in(dir, "bin/serial/COM1", "");
                QDir::setCurrent(dir.path());
            }
            r = invoke(words, TAVRION_PROGRAM_DIR, bench_opener(b));
            QDir::setCurrent(cwd);
            wire = b.wire;
            if (!link.isEmpty()) QCOMPARE(QString::fromStdString(b.link), fill(link));
            if (setup == "fifo") QVERIFY(QFileInfo(dir.filePath("fifo")).isFile() == false);
        }
        QVERIFY2(r.status == status, qPrintable(QString::number(r.status) + " " + r.err + r.out));
        if (status == 2) QVERIFY2(wire.isEmpty(), qPrintable(wire.join(' '))); // found before anything is sent
        if (!err.isEmpty()) QVERIFY2(r.err.contains(fill(err)), qPrintable(r.err));
        if (out == "=") QCOMPARE(r.out, QString());
        else if (!out.isEmpty()) QVERIFY2(r.out.contains(fill(out)), qPrintable(r.out));
    }

    void run_files()
    {
        QTemporaryDir dir;
        // The whole file is checked first: a bad line sends nothing and is named.
        Bench b;
        Result r = ctl(b, "run " + file_in(dir, "bad.txt", "# evening\n\nlock on\n  route B 3 # hall\nmode quad\n"));
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains("bad.txt:5: mode: say matrix, dual or tv-wall"), qPrintable(r.err));
        QVERIFY(b.wire.isEmpty());

        // All on one connection; the first failure stops it and names its line.
        b.faults["MNO001"] = {Kind::Refused, "ERR002"};
        r = ctl(b, "--verbose run " + file_in(dir, "good.txt", "lock on\nroute B 3 # hall\nmenu ok\nmute on\n"));
        QCOMPARE(r.status, 1);
        QCOMPARE(b.opens, 1);
        QVERIFY2(r.err.contains("good.txt:3: menu ok: MNO001: the device refused it (ERR002)"), qPrintable(r.err));
        QCOMPARE(b.wire.join(' '), QString("LCK001 OUT002 INP999 INP003 MNO001"));
        QVERIFY2(r.err.contains(" > LCK001\n") && r.err.contains(" < LCK001\\r\n"), qPrintable(r.err));
        QCOMPARE(r.out, QString("lock: on\nB: input 3\n"));

        // Over TCP, power on ends in a restart: without --wait-ready the rest cannot go on.
        const QString evening = file_in(dir, "tcp.txt", "power on\nroute A 2\n");
        Bench tcp;
        tcp.serial = false;
        tcp.model.state().power_on = false;
        r = ctl(tcp, "--tcp 10.0.0.7 run " + evening);
        QCOMPARE(r.status, 3);
        QVERIFY2(r.err.contains("tcp.txt:1: power on: the device restarted; what follows needs --wait-ready"), qPrintable(r.err));
        tcp.down = false;
        tcp.model.state().power_on = false;
        r = ctl(tcp, "--tcp 10.0.0.7 --wait-ready 30 run " + evening);
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QCOMPARE(tcp.model.state().routes[0], 2);
        // A device that does not come back: the address is named.
        tcp.down = false;
        tcp.comes_back = false;
        r = ctl(tcp, "--tcp 10.0.0.7 --wait-ready 30 factory-reset --yes");
        QCOMPARE(r.status, 3);
        QVERIFY2(r.err.contains("10.0.0.7:23 within 30 s"), qPrintable(r.err));
    }

    void real_links_wait_and_fail_as_the_window()
    {
        for (const bool serial : {true, false}) {
            // A silent device costs the time of the window's bounded wait, though tavrion-ctl
            // does not wait in steps: 301 steps of at least 2 ms on RS-232, 601 over TCP.
            Rig rig(serial);
            QVERIFY(rig.sim.apply_control("silent VER once"));
            QElapsedTimer t;
            t.start();
            Result r = ctl(rig, "version");
            const qint64 ms = t.elapsed(), floor = serial ? 600 : 1200;
            QCOMPARE(r.status, 1);
            QVERIFY2(r.err.contains("version: VER999: no answer within the wait"), qPrintable(r.err));
            QVERIFY2(ms >= floor && ms < 2 * floor + 500, qPrintable(QString::number(ms)));
            // A mode change answered after that wait is taken by the late-reply waits.
            QVERIFY(rig.sim.apply_control("delay 1500 MOD once"));
            r = ctl(rig, "mode dual");
            QVERIFY2(r.status == 0, qPrintable(r.err));
            QCOMPARE(rig.device().mode, 2);
            // A device in standby refuses most queries (ERR003): the status chain runs to its end.
            rig.device().power_on = false;
            r = ctl(rig, "status");
            QVERIFY2(r.status == 0, qPrintable(r.err));
            QVERIFY(r.out.contains("Power        standby\n") && r.out.contains("Mode         -\n"));
            // A device that goes away during the wait: the link is lost (3), not silent (1).
            QVERIFY(rig.sim.apply_control("vanish VER"));
            r = ctl(rig, "version");
            QCOMPARE(r.status, 3);
            QVERIFY2(r.err.contains("version: VER999: the link to "), qPrintable(r.err));
        }
        // A refused address is reported at once, not when the 7 s attempt has run out.
        quint16 closed = 0;
        {
            QTcpServer server;
            QVERIFY(server.listen(QHostAddress::LocalHost, 0));
            closed = server.serverPort();
        }
        QElapsedTimer t;
        t.start();
        Result r = invoke(QString("--tcp 127.0.0.1:%1 status").arg(closed), TAVRION_PROGRAM_DIR, session_opener(TAVRION_PROGRAM_DIR));
        QCOMPARE(r.status, 3);
        QVERIFY2(r.err.startsWith(QString("tavrion-ctl: 127.0.0.1:%1: cannot connect: ").arg(closed)), qPrintable(r.err));
        QVERIFY(t.elapsed() < 3000);
        // A port another program holds (the panel) cannot be opened; nor can a missing one.
        Rig rig(true);
        tavrion::QtSerialPort panel(rig.folder.path());
        QVERIFY(panel.open(1));
        r = ctl(rig, "version");
        QCOMPARE(r.status, 3);
        QVERIFY2(r.err.startsWith("tavrion-ctl: COM1: cannot be opened (" + rig.folder.file("serial/COM1") + "): "), qPrintable(r.err));
        panel.close();
        r = invoke("--serial " + rig.folder.file("none") + " version", TAVRION_PROGRAM_DIR, session_opener(TAVRION_PROGRAM_DIR));
        QCOMPARE(r.status, 3);
        QVERIFY2(r.err.contains(rig.folder.file("none") + ": cannot be opened: "), qPrintable(r.err));
        QVERIFY(rig.sim.received_commands().isEmpty());
    }

    void the_program_itself()
    {
        Rig tcp(false), serial(true);
        auto run = [](const QString& args) {
            QProcess p;
            p.start(TAVRION_PROGRAM_DIR "/tavrion-ctl", args.split(' ', Qt::SkipEmptyParts));
            // The simulator answers from this event loop while the program runs.
            if (!QTest::qWaitFor([&p] { return p.state() == QProcess::NotRunning; }, 20000)) p.kill();
            p.waitForFinished();
            return Result{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
                          p.readAllStandardError()};
        };
        Result r = run(tcp.link() + " --verbose route B 3");
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QCOMPARE(r.out, QString("B: input 3\n"));
        QCOMPARE(tcp.device().routes[1], 3);
        const QStringList log = r.err.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(log.size(), 6);
        QVERIFY2(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} > OUT002$").match(log[0]).hasMatch(), qPrintable(log[0]));
        QVERIFY2(log[5].endsWith(" < INP003\\r"), qPrintable(log[5]));

        r = run("--serial " + serial.folder.file("serial/COM1") + " status --json");
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QCOMPARE(r.out, document_of(serial.device(), true));

        r = run(tcp.link() + " lock maybe");
        QCOMPARE(r.status, 2);
        QCOMPARE(r.out, QString());
        QCOMPARE(r.err, QString("tavrion-ctl: lock: say on or off, not \"maybe\"\nTry 'tavrion-ctl --help'.\n"));
        QVERIFY(run("--help").out.startsWith("Usage: tavrion-ctl"));
        const QString gone = tcp.link();
        tcp.sim.close_tcp();
        r = run(gone + " version");
        QCOMPARE(r.status, 3);
        QVERIFY2(r.err.startsWith("tavrion-ctl: " + gone.mid(6) + ": cannot connect: "), qPrintable(r.err));
    }

    // tavrion-ctl's --json "state" and the hub's document come from the same model of the link:
    // after the same commands on the same device they agree, the maximum BEH998 reports, a late
    // answer and a refused step included.
    void ctl_state_and_hub_document_agree_data()
    {
        QTest::addColumn<QString>("fault"); // armed on the simulator before the commands
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<QString>("shown"); // part of the state, as compact JSON
        QTest::newRow("bezel maximum") << QString() << QStringList{"send BEH998", "lock on --json"} << R"("h_max":120)";
        QTest::newRow("late mode answer") << "delay 1500 MOD once" << QStringList{"mode dual --json"} << R"("mode":"dual")";
        QTest::newRow("refused read-back step") << "err 1 SAT once" << QStringList{"send VER999", "mode dual --json"}
                                                << R"("firmware":"1.06")";
        QTest::newRow("refused set") << "err 3 LCK once" << QStringList{"send BEV998", "lock on --json"} << R"("v_max":90)";
    }
    void ctl_state_and_hub_document_agree()
    {
        QFETCH(QString, fault);
        QFETCH(QStringList, commands);
        QFETCH(QString, shown);
        auto armed = [&](Rig& rig) {
            if (!fault.isEmpty()) QVERIFY(rig.sim.apply_control(fault));
        };
        // tavrion-ctl: each command an invocation on the one open link; the last prints the state.
        Rig ctl_rig(false);
        armed(ctl_rig);
        const std::string ctl_dir = ctl_rig.folder.path().toStdString();
        std::string error;
        LinkChoice choice;
        QVERIFY(parse_link("--tcp", QString("127.0.0.1:%1").arg(ctl_rig.sim.tcp_port()).toStdString(), choice, error));
        const std::unique_ptr<Device> link = session_opener(ctl_dir)(*link_target(choice, ctl_dir, error), error);
        QVERIFY2(link, error.c_str());
        Result last{};
        for (const QString& c : commands)
            last = invoke(c, ctl_dir, [&](const LinkTarget&, std::string&) { return std::make_unique<SharedDevice>(*link); });
        const QJsonObject ctl_state = QJsonDocument::fromJson(last.out.toUtf8()).object().value("state").toObject();
        QVERIFY2(!ctl_state.isEmpty(), qPrintable(last.out + last.err));

        // The hub: the same commands as one request on its own unit.
        Rig hub_rig(false);
        armed(hub_rig);
        const auto unit = tavrion::hub::UnitLink::tcp(QString("127.0.0.1:%1").arg(hub_rig.sim.tcp_port()).toStdString(), error);
        QVERIFY2(unit, error.c_str());
        const std::string hub_dir = hub_rig.folder.path().toStdString();
        const tavrion::hub::ResolutionNames names = tavrion::hub::resolution_names(hub_dir);
        tavrion::hub::UnitBackend hub(*unit, hub_dir, names);
        QVERIFY2(hub.open(error), error.c_str());
        std::vector<std::string> lines;
        for (const QString& c : commands) lines.push_back(c.toStdString());
        const auto results = hub.run(lines);
        QCOMPARE(results.back().status, last.status);
        QJsonObject document = status_object(hub.status(), names->empty() ? nullptr : names.get());
        document.remove("format");
        document.remove("device");
        QVERIFY(QJsonDocument(ctl_state).toJson(QJsonDocument::Compact).contains(shown.toUtf8()));
        QCOMPARE(ctl_state, document);
        QCOMPARE(hub_rig.sim.received_commands(), ctl_rig.sim.received_commands());
    }
};

QTEST_GUILESS_MAIN(TestCtl)
#include "test_ctl.moc"
