// Device faults over the RS-232 link: the real QSerialPort on the simulator's pseudo-terminal,
// unpaced (pacing is not the point here). The TCP half is test_fault_matrix_tcp; a device that
// disappears is test_vanishing_serial.
#include "fault_matrix.h"

using namespace tavrion;
using namespace tavrion::test;
using namespace tavrion::test::faults;

class TestFaultMatrixSerial : public QObject {
    Q_OBJECT
private slots:
#ifdef TAVRION_HAVE_SIM
    void reply_assembly_data()
    {
        QTest::addColumn<int>("row");
        const auto rows = assembly_faults();
        for (int i = 0; i < rows.size(); ++i) QTest::newRow(rows[i].name) << i;
    }
    void reply_assembly() { QFETCH(int, row); run_refresh_fault(Link::Serial, assembly_faults().at(row)); }

    void unanswered_replies_data()
    {
        QTest::addColumn<int>("row");
        const auto rows = unanswered_faults(Link::Serial);
        for (int i = 0; i < rows.size(); ++i) QTest::newRow(rows[i].name) << i;
    }
    void unanswered_replies()
    {
        QFETCH(int, row);
        run_refresh_fault(Link::Serial, unanswered_faults(Link::Serial).at(row));
    }

    void lines_while_idle_data()
    {
        QTest::addColumn<int>("row");
        const auto rows = idle_faults(Link::Serial);
        for (int i = 0; i < rows.size(); ++i) QTest::newRow(rows[i].name) << i;
    }
    void lines_while_idle() { QFETCH(int, row); run_idle_fault(Link::Serial, idle_faults(Link::Serial).at(row)); }

    // Over the serial line the device answers these like any other command.
    void restart_commands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("PWR001") << "PWR001";
        QTest::newRow("RST001") << "RST001";
    }
    void restart_commands() { QFETCH(QString, command); run_restart(Link::Serial, command); }
#endif
};

QTEST_MAIN(TestFaultMatrixSerial)
#include "test_fault_matrix_serial.moc"
