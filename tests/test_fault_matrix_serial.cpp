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
        QStringList names;
        for (const RefreshFault& f : assembly_faults()) names << f.name;
        rows_in_both_waits(names);
    }
    void reply_assembly()
    {
        QFETCH(int, row);
        QFETCH(bool, prompt);
        run_refresh_fault(Link::Serial, assembly_faults().at(row), wait_of(prompt));
    }

    void unanswered_replies_data()
    {
        QStringList names;
        for (const RefreshFault& f : unanswered_faults(Link::Serial)) names << f.name;
        rows_in_both_waits(names);
    }
    void unanswered_replies()
    {
        QFETCH(int, row);
        QFETCH(bool, prompt);
        run_refresh_fault(Link::Serial, unanswered_faults(Link::Serial).at(row), wait_of(prompt));
    }

    void lines_while_idle_data()
    {
        QStringList names;
        for (const IdleFault& f : idle_faults(Link::Serial)) names << f.name;
        rows_in_both_waits(names);
    }
    void lines_while_idle()
    {
        QFETCH(int, row);
        QFETCH(bool, prompt);
        run_idle_fault(Link::Serial, idle_faults(Link::Serial).at(row), wait_of(prompt));
    }

    // Over the serial line the device answers these like any other command.
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
        run_restart(Link::Serial, command, wait_of(prompt));
    }
#endif
};

QTEST_MAIN(TestFaultMatrixSerial)
#include "test_fault_matrix_serial.moc"
