#include "support/sim_harness.h"

#ifdef TAVRION_HAVE_SIM

#include "support/panel_harness.h"
#include "support/test_access.h"

#include <QCoreApplication>
#include <QDir>
#include <QHostAddress>
#include <QPushButton>
#include <QTest>

namespace tavrion::test {

namespace {
Settings settings_for(SimHarness::Link link, bool advanced)
{
    Settings s;
    s.link_interface = link == SimHarness::Link::Serial ? 0 : 1;
    s.com_port = 1;
    s.advanced_view = advanced;
    return s;
}
} // namespace

SimHarness::SimHarness(Link l, bool advanced, int baud, ReplyWait wait) : link(l), folder(settings_for(l, advanced)), advanced_(advanced)
{
    if (link == Link::Serial) {
        QDir().mkpath(folder.file(QStringLiteral("serial")));
        sim_.open_serial(folder.file(QStringLiteral("serial/COM1")), baud);
    } else {
        sim_.listen_tcp(QHostAddress::LocalHost, 0);
        aim_tcp_at(QStringLiteral("127.0.0.1:%1").arg(sim_.tcp_port()));
    }
    serial_ = std::make_unique<QtSerialPort>(folder.path());
    tcp_ = std::make_unique<QtTcpClient>();
    Platform p;
    p.reply_wait = wait;
    p.program_dir = folder.path();
    p.clock = &clock;
    p.serial = serial_.get();
    p.socket = tcp_.get();
    p.boxes = &boxes;
    window_ = std::make_unique<FrmMain>(p);
}

SimHarness::~SimHarness()
{
    window_->close();
    window_.reset();
    QCoreApplication::processEvents();
}

void SimHarness::aim_tcp_at(const QString& address)
{
    Settings s = settings_for(link, advanced_);
    s.address = address;
    folder.write_settings(s);
}

bool SimHarness::load()
{
    if (!window_->Form_Load()) return false;
    if (link == Link::Tcp) return connect_tcp();
    return window_->session().serial_connected();
}

bool SimHarness::connect_tcp()
{
    PanelHarness::click(window_->cmd_conn_eth);
    return PanelHarness::wait_until([this] { return window_->session().eth_connected(); }, 3000);
}

void SimHarness::refresh() { PanelHarness::click(window_->cmd_refresh); }

void check_round_trips(SimHarness& h)
{
    QVERIFY(h.load());
    h.clear_wire();
    for (const char* q : {"VER999", "MOD999", "OUT999", "INP999"}) {
        h.w().session().send_command(q);
        QVERIFY2(SessionTestAccess::reply_ok(h.w().session()), q);
    }
    QCOMPARE(h.wire(), (QStringList{"VER999", "MOD999", "OUT999", "INP999"}));
    QVERIFY(!SessionTestAccess::cmd_busy(h.w().session()));
    QVERIFY(h.boxes.boxes.isEmpty());
}

} // namespace tavrion::test

#endif
