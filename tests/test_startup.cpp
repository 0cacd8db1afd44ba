// Start-up and shutdown against real files in a temporary program folder.
#include "panel/colours.h"
#include "support/test_access.h"
#include "support/panel_harness.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>

#ifdef __linux__
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

using namespace tavrion;
using namespace tavrion::test;

namespace {

constexpr int kExpandedOuterPx = 452; // 6780 twips
constexpr int kCompactOuterPx = 176;  // 2640 twips

constexpr int kDesignClientPx = 427;  // 6405 twips

// Whether the window has the outer height `outer` (title bar included): the frame the platform
// reports, or else a 25 px title bar, is taken off; the client area never exceeds the design's.
bool has_outer_height(const QWidget& w, int outer)
{
    int extra = w.frameGeometry().height() - w.geometry().height();
    if (extra <= 0) extra = 25;
    return w.height() == std::min(outer - extra, kDesignClientPx);
}

// Controls whose face, as the window shows it, is not mostly (three quarters) their colour.
QString faces_off(std::initializer_list<std::pair<QWidget*, QColor>> faces)
{
    QString off;
    for (const auto& [control, colour] : faces) {
        const double share = PanelHarness::face_share(control, colour);
        qInfo("%s: %.0f%% of the face within 8 of %s", qPrintable(control->objectName()), share * 100,
              qPrintable(colour.name()));
        if (share < 0.75) off += QStringLiteral(" %1 (%2%)").arg(control->objectName()).arg(qRound(share * 100));
    }
    return off;
}

Settings settings(int link, int port, bool advanced, const QString& address = QStringLiteral("127.0.0.1"))
{
    Settings s;
    s.link_interface = link;
    s.com_port = port;
    s.advanced_view = advanced;
    s.address = address;
    return s;
}

// Makes a folder unwritable for the duration of a test, even for a privileged user (chmod does not
// stop root; the immutable flag does). ok() is false when neither works here.
class UnwritableFolder {
public:
    explicit UnwritableFolder(const QString& path) : path_(path)
    {
        QFile::setPermissions(path_, QFile::ReadOwner | QFile::ExeOwner);
        if (!can_create()) {
            ok_ = true;
            return;
        }
#ifdef __linux__
        fd_ = ::open(QFile::encodeName(path_).constData(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        if (fd_ >= 0 && ::ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            immutable_ = ::ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ok_ = immutable_ && !can_create();
#endif
    }
    ~UnwritableFolder()
    {
#ifdef __linux__
        if (immutable_) {
            int flags = 0;
            ::ioctl(fd_, FS_IOC_GETFLAGS, &flags);
            flags &= ~FS_IMMUTABLE_FL;
            ::ioctl(fd_, FS_IOC_SETFLAGS, &flags);
        }
        if (fd_ >= 0) ::close(fd_);
#endif
        QFile::setPermissions(path_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    bool ok() const { return ok_; }

private:
    bool can_create() const
    {
        QFile probe(QDir(path_).filePath(QStringLiteral("probe")));
        if (!probe.open(QIODevice::WriteOnly)) return false;
        probe.remove();
        return true;
    }
    QString path_;
    bool ok_ = false;
    bool immutable_ = false;
    int fd_ = -1;
};

} // namespace

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void rs232_start_opens_the_saved_port_and_sends_nothing()
    {
        PanelHarness h(settings(0, 3, true, QStringLiteral("10.0.0.9")));
        QVERIFY(h.load());
        FrmMain& w = h.w();

        QVERIFY(w.isVisible());
        QCOMPARE(w.windowTitle(), QStringLiteral("Tavrion v1.6D "));
        QCOMPARE(w.cbo_com->count(), 9);
        QCOMPARE(w.cbo_com->itemText(0), QStringLiteral("COM1:"));
        QCOMPARE(w.cbo_com->itemText(8), QStringLiteral("COM9:"));
        QCOMPARE(w.cbo_com->currentText(), QStringLiteral("COM3:"));
        QVERIFY(w.opt_interface(0)->isChecked());
        // Opened once, by the link selection; the list entry was not taken for a user change.
        QCOMPARE(h.serial.opened_port, 3);
        QCOMPARE(h.serial.open_calls, 1);
        QVERIFY(w.session().serial_connected());
        QVERIFY(h.serial.commands.isEmpty());
        QVERIFY(h.boxes.boxes.isEmpty());
        QVERIFY(w.cmd_conn->isVisible() && w.cmd_disconn->isVisible() && w.cbo_com->isVisible());
        QVERIFY(!w.cmd_conn_eth->isVisible() && !w.txt_ip->isVisible());
        QCOMPARE(back_colour(w.cmd_disconn_eth), disconnected_colour);
        QVERIFY2(faces_off({{w.cmd_conn, connected_colour}}).isEmpty(), "Connect is not green");
        QCOMPARE(w.txt_ip->text(), QStringLiteral("10.0.0.9"));

        QStringList listed;
        for (int i = 0; i < w.cbo_output->count(); ++i) listed << w.cbo_output->itemText(i);
        QCOMPARE(listed, ProgramFolder::shipped_resolutions());
        QCOMPARE(w.cbo_output->currentIndex(), -1);
        QVERIFY(w.txt_cmd->toPlainText().isEmpty());

        QVERIFY(w.flags().ui_events_enabled);
        QVERIFY(SessionTestAccess::tim_rx_enabled(w.session()));
        QCOMPARE(w.device_state().power_state, 254);
        QCOMPARE(w.device_state().lock_state, 254);
        QCOMPARE(w.device_state().audio_state, 254);
        QCOMPARE(SessionTestAccess::net_query_state(w.session()), 254);
        QCOMPARE(w.device_state().display_mode, 1);
        QVERIFY(!w.fra_btn->isEnabled());

        // Centred on the screen (to within the frame, which some platforms place on their own).
        const QRect area = w.screen()->availableGeometry();
        const QPoint off = w.frameGeometry().center() - area.center();
        QVERIFY2(qAbs(off.x()) <= 4 && qAbs(off.y()) <= 4, qPrintable(QStringLiteral("off by %1, %2").arg(off.x()).arg(off.y())));

        // Replies now reach the receiver: the receive poll runs after start-up.
        h.serial.feed("VER106\r");
        QVERIFY(PanelHarness::wait_until([&] { return w.txt_cmd->toPlainText().contains(QStringLiteral("VER106")); }, 2000));
    }

    void port_that_cannot_open_is_reported_and_start_up_goes_on()
    {
        PanelHarness h(settings(0, 3, true));
        h.serial.openable_ports = {1, 2};
        QVERIFY(h.load());
        QCOMPARE(h.boxes.texts(), QStringList{QStringLiteral("COM 3: Fail !")});
        QVERIFY(!h.w().session().serial_connected());
        QVERIFY2(faces_off({{h.w().cmd_disconn, disconnected_colour}}).isEmpty(), "Disconnect is not red");
        QVERIFY(h.w().isVisible());
        QVERIFY(h.w().flags().ui_events_enabled);
    }

    void ethernet_start_shows_its_controls_and_does_not_connect()
    {
        PanelHarness h(settings(1, 5, true, QStringLiteral("192.168.0.7")));
        QVERIFY(h.load());
        FrmMain& w = h.w();
        QVERIFY(w.opt_interface(1)->isChecked());
        QCOMPARE(w.session().link_interface(), 1);
        QVERIFY(w.cmd_conn_eth->isVisible() && w.cmd_disconn_eth->isVisible());
        QVERIFY(w.lab_ip->isVisible() && w.txt_ip->isVisible());
        QVERIFY(!w.cmd_disconn_eth->isEnabled());
        QVERIFY(!w.cmd_conn->isVisible() && !w.cbo_com->isVisible());
        QVERIFY(!w.cmd_get_ip->isEnabled());
        QCOMPARE(h.tcp.connect_calls, 0);
        QCOMPARE(h.serial.open_calls, 0);
        QVERIFY(!w.session().eth_connected());
        QVERIFY(h.boxes.boxes.isEmpty());
        QCOMPARE(w.txt_ip->text(), QStringLiteral("192.168.0.7"));

        // The colours as the window shows them, disabled controls included.
        const QString off = faces_off({{w.cmd_disconn_eth, disconnected_colour}, {w.cmd_pwr, light_grey_colour},
                                       {w.cmd_ver, light_grey_colour}, {w.cmd_out(1), light_grey_colour},
                                       {w.cmd_inp(4), light_grey_colour},
                                       {w.fra_pic, QColor(128, 128, 128)}});
        QVERIFY2(off.isEmpty(), qPrintable(off));
        // The start hint: red arrow and text on light grey, although its frame is disabled.
        QVERIFY(!w.fra_btn->isEnabled() && w.img_start->isVisible());
        const double red = PanelHarness::face_share(w.img_start, QColor(255, 0, 0), 0);
        const double grey = PanelHarness::face_share(w.img_start, light_grey_colour, 0);
        qInfo("start hint: %.0f%% red, %.0f%% light grey", red * 100, grey * 100);
        QVERIFY(red >= 0.1 && grey >= 0.5);
        h.tcp.on_connect = FakeTcpClient::OnConnect::Hang;
        PanelHarness::click(w.cmd_conn_eth);
        QVERIFY(!w.cmd_conn_eth->isEnabled());
        const QString attempt_off = faces_off({{w.cmd_conn_eth, connecting_colour}});
        QVERIFY2(attempt_off.isEmpty(), qPrintable(attempt_off));
    }

    void advanced_toggles_the_height_and_the_next_start_keeps_it()
    {
        QByteArray saved;
        {
            PanelHarness h(settings(0, 1, false));
            QVERIFY(h.load());
            FrmMain& w = h.w();
            QCOMPARE(w.width(), 827);
            QVERIFY(has_outer_height(w, kCompactOuterPx));
            QCOMPARE(w.minimumSize(), w.maximumSize()); // no resizing by the user
            PanelHarness::click(w.cmd_advance);
            QVERIFY(has_outer_height(w, kExpandedOuterPx));
            QVERIFY(w.flags().advanced_view);
            PanelHarness::click(w.cmd_advance);
            QVERIFY(has_outer_height(w, kCompactOuterPx));
            QVERIFY(!w.flags().advanced_view);
            PanelHarness::click(w.cmd_advance);
            QVERIFY(has_outer_height(w, kExpandedOuterPx));
            QCOMPARE(w.width(), 827);
            QCOMPARE(w.minimumSize(), w.maximumSize());
            w.close();
            saved = h.folder.read_file(QStringLiteral("tavrion.ini"));
        }
        QCOMPARE(saved, QByteArray("0\r\n1\r\n#TRUE#\r\n\"127.0.0.1\"\r\n"));

        PanelHarness next(settings(0, 1, false));
        next.folder.write_file(QStringLiteral("tavrion.ini"), saved);
        QVERIFY(next.load());
        QVERIFY(next.w().flags().advanced_view);
        QVERIFY(has_outer_height(next.w(), kExpandedOuterPx));
        PanelHarness::click(next.w().cmd_advance);
        next.w().close();
        QCOMPARE(next.folder.read_file(QStringLiteral("tavrion.ini")), QByteArray("0\r\n1\r\n#FALSE#\r\n\"127.0.0.1\"\r\n"));
    }

    void file_written_at_exit_is_exact_and_written_once()
    {
        PanelHarness h(settings(1, 4, true, QStringLiteral("x")));
        QVERIFY(h.load());
        h.w().txt_ip->setText(QStringLiteral("  10.1.2.3 (lab rack)  "));
        h.w().close(); // the serial port is not open on Ethernet: the file is written all the same
        QVERIFY(!h.w().isVisible());
        QCOMPARE(h.folder.read_file(QStringLiteral("tavrion.ini")), QByteArray("1\r\n4\r\n#TRUE#\r\n\"10.1.2.3 (lab rack)\"\r\n"));
        // No temporary file left beside it.
        QCOMPARE(QDir(h.folder.path()).entryList(QDir::Files), (QStringList{QStringLiteral("output_reso.txt"), QStringLiteral("tavrion.ini")}));

        // The unload runs once: a second close does not write again.
        h.folder.write_file(QStringLiteral("tavrion.ini"), "edited meanwhile");
        h.w().Form_Unload();
        h.w().close();
        QCOMPARE(h.folder.read_file(QStringLiteral("tavrion.ini")), QByteArray("edited meanwhile"));
    }

    void unload_closes_the_serial_port()
    {
        PanelHarness h(settings(0, 2, true));
        QVERIFY(h.load());
        QCOMPARE(h.serial.opened_port, 2);
        h.w().close();
        QCOMPARE(h.serial.opened_port, 0);
        QVERIFY(h.serial.commands.isEmpty()); // nothing is sent at exit
    }

    void failed_write_leaves_the_old_file_whole()
    {
        PanelHarness h(settings(0, 6, true, QStringLiteral("old")));
        QVERIFY(h.load());
        const QByteArray before = h.folder.read_file(QStringLiteral("tavrion.ini"));
        h.w().txt_ip->setText(QStringLiteral("new"));
        {
            UnwritableFolder lock(h.folder.path());
            if (!lock.ok()) QSKIP("cannot make a folder unwritable here");
            h.w().close(); // must not fail loudly
            QVERIFY(!h.w().isVisible());
        }
        QVERIFY(h.boxes.boxes.isEmpty());
        QCOMPARE(h.folder.read_file(QStringLiteral("tavrion.ini")), before);
    }

    void file_errors_stop_start_up_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content"); // empty: the file is removed
        QTest::addColumn<QString>("reason");
        QTest::newRow("settings missing") << "tavrion.ini" << QByteArray() << "missing";
        QTest::newRow("list missing") << "output_reso.txt" << QByteArray() << "missing";
        QTest::newRow("settings cut short") << "tavrion.ini" << QByteArray("0\r\n3\r\n") << "ends before";
        QTest::newRow("text for an integer") << "tavrion.ini" << QByteArray("0\r\nCOM3\r\n#TRUE#\r\n\"a\"\r\n") << "\"COM3\"";
        QTest::newRow("bad boolean") << "tavrion.ini" << QByteArray("0\r\n3\r\nyes\r\n\"a\"\r\n") << "#TRUE# or #FALSE#";
        QTest::newRow("list without END") << "output_reso.txt" << QByteArray("\"1024x768\"\r\n\"end\"\r\n") << "END";
        QTest::newRow("huge settings") << "tavrion.ini" << QByteArray(3 * 1024 * 1024, '\x01') << "too large";
        QTest::newRow("binary list") << "output_reso.txt" << QByteArray("\x7f" "ELF\x02\x01\x01\0\0\0\r\n\"", 14) << "closing";
    }
    void file_errors_stop_start_up()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        PanelHarness h(settings(0, 3, true));
        if (content.isEmpty())
            QVERIFY(QFile::remove(h.folder.file(file)));
        else
            h.folder.write_file(file, content);

        QVERIFY(!h.load());
        QVERIFY(!h.w().isVisible());
        QCOMPARE(h.boxes.boxes.size(), 1);
        QCOMPARE(h.boxes.boxes[0].icon, BoxIcon::Critical);
        const QString text = h.boxes.boxes[0].text;
        QVERIFY2(text.contains(QDir::toNativeSeparators(h.folder.file(file))), qPrintable(text));
        QVERIFY2(text.contains(reason), qPrintable(text));
        QCOMPARE(h.serial.open_calls, 0); // stopped before the link was selected

        // Nothing is saved over the file that stopped start-up.
        h.w().close();
        QCOMPARE(h.folder.read_file(file), content);
    }

    void link_and_port_outside_the_controls_fall_back_data()
    {
        QTest::addColumn<int>("link");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("opened");
        QTest::addColumn<QByteArray>("saved_head");
        QTest::newRow("link 7") << 7 << 4 << 4 << QByteArray("0\r\n4\r\n");
        QTest::newRow("link -1") << -1 << 2 << 2 << QByteArray("0\r\n2\r\n");
        QTest::newRow("port 0") << 0 << 0 << 1 << QByteArray("0\r\n1\r\n");
        QTest::newRow("port 12") << 0 << 12 << 1 << QByteArray("0\r\n1\r\n");
        QTest::newRow("port -5 on Ethernet") << 1 << -5 << 0 << QByteArray("1\r\n1\r\n");
    }
    void link_and_port_outside_the_controls_fall_back()
    {
        QFETCH(int, link);
        QFETCH(int, port);
        QFETCH(int, opened);
        QFETCH(QByteArray, saved_head);
        PanelHarness h(settings(link, port, true));
        QVERIFY(h.load());
        QCOMPARE(h.serial.opened_port, opened);
        QVERIFY(h.w().opt_interface(h.w().session().link_interface())->isChecked());
        QVERIFY(h.w().cbo_com->currentIndex() >= 0 && h.w().cbo_com->currentIndex() <= 8);
        QVERIFY(h.boxes.boxes.isEmpty());
        h.w().close();
        QVERIFY(h.folder.read_file(QStringLiteral("tavrion.ini")).startsWith(saved_head));
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
