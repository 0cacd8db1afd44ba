// Device faults over the Ethernet link: the real QTcpSocket to the simulator on loopback. The
// RS-232 half is test_fault_matrix_serial.
#include "fault_matrix.h"

#include <QHostAddress>
#include <QLineEdit>
#include <QTcpServer>

using namespace tavrion;
using namespace tavrion::test;
using namespace tavrion::test::faults;

class TestFaultMatrixTcp : public QObject {
    Q_OBJECT
private slots:
#ifdef TAVRION_HAVE_SIM
    void initTestCase()
    {
        // The name of the unknown-host case lies under the reserved .invalid domain, but the system
        // resolver still asks its name server: keep that to one short try, so that a slow or
        // unreachable server cannot hold the test (or its exit, which waits for the lookup).
        qputenv("RES_OPTIONS", "timeout:1 attempts:1");
    }

    void reply_assembly_data()
    {
        QStringList names;
        for (const RefreshFault& f : assembly_faults()) names << f.name;
        rows_in_both_waits(names);
    }
    void reply_assembly()
    {
        QFETCH(int, row);
        QFETCH(bool, prompt);
        run_refresh_fault(Link::Tcp, assembly_faults().at(row), wait_of(prompt));
    }

    void unanswered_replies_data()
    {
        QStringList names;
        for (const RefreshFault& f : unanswered_faults(Link::Tcp)) names << f.name;
        rows_in_both_waits(names);
    }
    void unanswered_replies()
    {
        QFETCH(int, row);
        QFETCH(bool, prompt);
        run_refresh_fault(Link::Tcp, unanswered_faults(Link::Tcp).at(row), wait_of(prompt));
    }

    void lines_while_idle_data()
    {
        QStringList names;
        for (const IdleFault& f : idle_faults(Link::Tcp)) names << f.name;
        rows_in_both_waits(names);
    }
    void lines_while_idle()
    {
        QFETCH(int, row);
        QFETCH(bool, prompt);
        run_idle_fault(Link::Tcp, idle_faults(Link::Tcp).at(row), wait_of(prompt));
    }

    // The device restarts on these and drops the connection instead of answering.
    void restart_commands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("prompt");
        for (const bool prompt : {false, true})
            for (const char* command : {"PWR001", "RST001"})
                QTest::newRow(qPrintable(QString::fromLatin1(command) + (prompt ? QStringLiteral(", prompt") : QString())))
                    << QString::fromLatin1(command) << prompt;
    }
    void restart_commands()
    {
        QFETCH(QString, command);
        QFETCH(bool, prompt);
        run_restart(Link::Tcp, command, wait_of(prompt));
    }

    // Nobody listens at the address, or the name names nobody: the attempt is given its 7 s and
    // then reported once.
    void failed_connection_attempts_data()
    {
        QTest::addColumn<QString>("address");
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 closed_port = probe.serverPort();
        probe.close();
        QTest::newRow("connection refused") << QStringLiteral("127.0.0.1:%1").arg(closed_port);
        QTest::newRow("unknown host") << QStringLiteral("kv7720.tavrion.invalid");
    }
    void failed_connection_attempts()
    {
        QFETCH(QString, address);
        SimHarness h(Link::Tcp, true, 0);
        FrmMain& w = h.w();
        QVERIFY(w.Form_Load());
        const QString device_address = w.txt_ip->text();
        w.txt_ip->setText(address);

        QElapsedTimer t;
        t.start();
        PanelHarness::click(w.cmd_conn_eth);
        QVERIFY(!w.cmd_conn_eth->isEnabled());
        QCOMPARE(back_colour(w.cmd_conn_eth), connecting_colour);
        QVERIFY(!w.lab_eth_state->isHidden());
        QVERIFY(PanelHarness::wait_until([&] { return !h.boxes.boxes.isEmpty(); }, 8000));
        const qint64 took = t.elapsed();
        QVERIFY2(took >= 7000 && took <= 7100, qPrintable(QString::number(took)));
        PanelHarness::pump(200);
        QCOMPARE(h.boxes.texts(), QStringList{"Client could not find Server."});
        QVERIFY(shows_tcp_closed(w));
        // A command now reports the closed link and sends nothing.
        h.clear_wire();
        h.boxes.clear();
        w.session().send_command("VER999");
        QCOMPARE(h.boxes.texts(), QStringList{"Ethernet port is disconnected !"});
        QVERIFY(h.wire().isEmpty());

        w.txt_ip->setText(device_address);
        refresh_after_clearing(h);
    }
#endif
};

QTEST_MAIN(TestFaultMatrixTcp)
#include "test_fault_matrix_tcp.moc"
