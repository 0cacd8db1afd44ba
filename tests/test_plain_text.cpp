// What comes from the device or from a file is shown as the characters it is, never interpreted:
// markup in a reply, a network answer, a settings field or a resolution entry shows as typed, in
// the command log, the boxes, the labels and the message boxes. Received bytes never name a file
// or a command, and the panel never listens for connections.
#include "support/hygiene.h"
#include "support/test_access.h"
#include "support/panel_harness.h"
#include "support/sim_harness.h"

#include "panel/shell/frm_keypad.h"
#include "panel/qt_message_boxes.h"

#include <QApplication>
#include <QComboBox>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <QtTest>

using namespace tavrion;
using namespace tavrion::test;

namespace {

const QStringList kStatePictures = {"power_none.bmp", "power_on.bmp", "power_standby.bmp", "lock.bmp",
                                    "unlock.bmp", "speaker_on.bmp", "speaker_off.bmp"};

// Every label of a window: either plain text, or a picture with no text at all.
QStringList labels_that_may_read_markup(QWidget* window)
{
    QStringList out;
    for (QLabel* l : window->findChildren<QLabel*>())
        if (l->textFormat() != Qt::PlainText && !(l->text().isEmpty() && !l->pixmap().isNull()))
            out << (l->objectName().isEmpty() ? l->text() : l->objectName());
    return out;
}

// The files under a folder, with their sizes, to see whether anything was created or changed.
QStringList listing(const QString& folder)
{
    QStringList out;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        out << QStringLiteral("%1 %2").arg(it.filePath()).arg(it.fileInfo().size());
    }
    out.sort();
    return out;
}

} // namespace

class TestPlainText : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Hygiene::start(); }
    void cleanup() { TAVRION_VERIFY_HYGIENE(); }

    void markup_from_the_device_shows_as_typed()
    {
        PanelHarness h;
        ScriptedDevice dev;
        dev.answers["VER999"] = "<b>106";             // passes the digit test: code "<b>"
        dev.answers["EIP999"] = "<img src=x>1234";    // a 16-character network answer
        dev.answers["EMK999"] = "<a href=q>&amp;</a"; // 18: not an answer, dropped
        h.serial.responder = dev.responder();
        QVERIFY(h.load());
        FrmMain& w = h.w();

        w.session().send_command("VER999");
        QVERIFY(!SessionTestAccess::reply_ok(w.session())); // another code: no handler saw it
        h.serial.feed("<i>x</i><script>\r"); // unasked, rejected, but logged as received
        PanelHarness::wait_until([&] { return w.txt_cmd->toPlainText().contains(QStringLiteral("<script>")); }, 2000);
        PanelHarness::click(w.cmd_get_ip);

        const QString log = w.txt_cmd->toPlainText();
        QVERIFY2(log.contains(QStringLiteral("<b>106")), qPrintable(log));
        QVERIFY2(log.contains(QStringLiteral("<i>x</i><script>")), qPrintable(log));
        // A plain-text log has no formatting to carry: the text is one run of plain characters.
        for (QTextBlock b = w.txt_cmd->document()->begin(); b.isValid(); b = b.next())
            QVERIFY(!b.charFormat().font().bold() && !b.charFormat().isImageFormat());
        QCOMPARE(w.txt_get_ip->text(), QStringLiteral("<img src=x>1234\r"));
        QVERIFY(w.txt_get_mask->text().isEmpty());
        QVERIFY(h.boxes.boxes.isEmpty());
    }

    void every_label_is_plain_text()
    {
        PanelHarness h;
        QVERIFY(h.load());
        QVERIFY(h.w().findChildren<QLabel*>().size() > 20);
        QCOMPARE(labels_that_may_read_markup(&h.w()), QStringList());
        h.w().menu_keys().cmd_keypad_Click();
        QVERIFY(h.w().menu_keys().keypad_window());
        QCOMPARE(labels_that_may_read_markup(h.w().menu_keys().keypad_window()), QStringList());
        h.w().menu_keys().keypad_window()->close();
    }

    void markup_in_the_files_shows_as_typed()
    {
        // A resolution entry is shown as it stands.
        {
            PanelHarness h;
            h.folder.write_file(QStringLiteral("output_reso.txt"), "<b>1080p</b>\r\n<img src=x>\r\nEND\r\n");
            QVERIFY(h.load());
            QCOMPARE(h.w().cbo_output->itemText(0), QStringLiteral("<b>1080p</b>"));
            QCOMPARE(h.w().cbo_output->itemText(1), QStringLiteral("<img src=x>"));
        }
        // A settings field that stops start-up is quoted in the message as it stands, and the
        // message box shows its text as plain text.
        PanelHarness h;
        h.folder.write_file(QStringLiteral("tavrion.ini"), "0\r\n<b>7</b>\r\n#TRUE#\r\n\"x\"\r\n");
        QVERIFY(!h.load());
        QCOMPARE(h.boxes.boxes.size(), 1);
        const QString text = h.boxes.boxes.first().text;
        QVERIFY2(text.contains(QStringLiteral("\"<b>7</b>\"")), qPrintable(text));

        QtMessageBoxes real;
        QString shown;
        Qt::TextFormat format = Qt::AutoText;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            format = box->textFormat();
            if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
                shown = label->textFormat() == Qt::PlainText ? label->text() : QString();
            box->done(0);
        });
        real.show(text, BoxIcon::Critical);
        QCOMPARE(format, Qt::PlainText);
        QCOMPARE(shown, text);
    }

    void received_bytes_name_no_file_and_run_nothing()
    {
        PanelHarness h;
        ScriptedDevice dev;
        dev.answers["EIP999"] = "../../tavrion.i"; // 16 with the CR: shown, not opened
        dev.answers["EMK999"] = "$(touch pwned);";
        dev.answers["EGW999"] = "`touch pwned2`x";
        dev.answers["PWR999"] = "PWR001";
        dev.answers["LCK999"] = "LCK001";
        dev.answers["AUD999"] = "AUD000";
        h.serial.responder = dev.responder();
        QVERIFY(h.load());
        FrmMain& w = h.w();
        const QStringList before = listing(h.folder.path());
        const QStringList cwd_before = listing(QDir::currentPath());

        PanelHarness::click(w.cmd_get_ip);
        for (const char* q : {"PWR999", "LCK999", "AUD999"}) w.session().send_command(q);
        for (const char* line : {"../bmp/x.bmp\r", "/etc/passwd\r", "PWR/..\r", "%s%n%x\r", "LCK;id\r", "AUD|sh\r"})
            h.serial.feed(line);
        PanelHarness::pump(50);

        QCOMPARE(w.txt_get_ip->text(), QStringLiteral("../../tavrion.i\r"));
        QCOMPARE(w.txt_get_mask->text(), QStringLiteral("$(touch pwned);\r"));
        QCOMPARE(listing(h.folder.path()), before);
        QCOMPARE(listing(QDir::currentPath()), cwd_before);
        for (QPushButton* b : {w.cmd_pwr, w.cmd_lock, w.cmd_mute}) {
            const QString picture = b->property("picture").toString();
            QVERIFY2(picture.isEmpty() || kStatePictures.contains(picture), qPrintable(picture));
        }
        QCOMPARE(w.cmd_pwr->property("picture").toString(), QStringLiteral("power_on.bmp"));
        QCOMPARE(w.cmd_mute->property("picture").toString(), QStringLiteral("speaker_off.bmp"));
    }

    // The panel's own code starts no process and opens no server of any kind.
    void panel_sources_hold_no_server_and_no_command_runner()
    {
        const QRegularExpression forbidden(QStringLiteral(
            R"(\b(QTcpServer|QUdpSocket|QLocalServer|QSctpServer|QProcess|QDesktopServices|popen|execv|execl|execvp|fork|system)\b\s*[\(:<]?)"));
        QStringList hits;
        for (const char* folder : {"link", "shell", "routing", "adjust"}) {
            QDirIterator it(QStringLiteral(TAVRION_SOURCE_DIR "/") + QLatin1String(folder), {"*.cpp", "*.h"}, QDir::Files);
            while (it.hasNext()) {
                QFile f(it.next());
                QVERIFY(f.open(QIODevice::ReadOnly));
                int n = 0;
                while (!f.atEnd()) {
                    ++n;
                    const QString line = QString::fromUtf8(f.readLine());
                    const QString code = line.left(line.indexOf(QStringLiteral("//")));
                    if (forbidden.match(code).hasMatch()) hits << QStringLiteral("%1:%2: %3").arg(it.fileName()).arg(n).arg(line.trimmed());
                }
            }
        }
        QVERIFY2(hits.isEmpty(), qPrintable(hits.join(QLatin1Char('\n'))));
    }

    // The program itself, alone in its process: once started it holds no socket at all, so
    // certainly no listening one.
    void the_program_listens_on_nothing()
    {
        const QString built = QStringLiteral(TAVRION_PROGRAM_DIR "/tavrion");
        if (!QFile::exists(built)) QSKIP("the program is not built in this tree");
        QTemporaryDir dir;
        QVERIFY(QFile::copy(built, dir.filePath(QStringLiteral("tavrion"))));
        QFile::setPermissions(dir.filePath(QStringLiteral("tavrion")), QFile::ReadOwner | QFile::ExeOwner);
        QVERIFY(QFile::copy(QStringLiteral(TAVRION_PROGRAM_DIR "/output_reso.txt"), dir.filePath(QStringLiteral("output_reso.txt"))));
        QFile ini(dir.filePath(QStringLiteral("tavrion.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("1\r\n1\r\n#TRUE#\r\n\"127.0.0.1\"\r\n"); // Ethernet: no port to open, no box
        ini.close();

        QProcess panel;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        panel.setProcessEnvironment(env);
        panel.setWorkingDirectory(dir.path());
        panel.start(dir.filePath(QStringLiteral("tavrion")), {});
        QVERIFY(panel.waitForStarted(5000));
        // Up and idle: it has read its files and shown the window by now.
        QTest::qWait(1500);
        QCOMPARE(panel.state(), QProcess::Running);
        const pid_t pid = pid_t(panel.processId());
        QCOMPARE(Hygiene::listening_sockets(pid), QStringList());
        QCOMPARE(Hygiene::inet_sockets(pid), QStringList());
        panel.kill();
        QVERIFY(panel.waitForFinished(5000));
    }

#ifdef TAVRION_HAVE_SIM
    // Connected and working over TCP, the process listens only on the simulator's port, and
    // every connection stays on loopback.
    void connected_it_listens_on_nothing_of_its_own()
    {
        SimHarness h(SimHarness::Link::Tcp);
        QVERIFY(h.load());
        h.refresh();
        QCOMPARE(h.w().device_state().power_state, 1);
        const QString sim_port = QStringLiteral(":%1 ").arg(h.sim().tcp_port());
        const QStringList listening = Hygiene::listening_sockets();
        QCOMPARE(listening.size(), 1); // the simulator's, seen: the check can see a listener
        QVERIFY2(listening.first().contains(sim_port), qPrintable(listening.first()));
        QCOMPARE(Hygiene::non_loopback_sockets(), QStringList());
        QVERIFY(Hygiene::inet_sockets().filter(QStringLiteral("ESTABLISHED")).size() >= 2); // both ends
    }
#endif
};

QTEST_MAIN(TestPlainText)
#include "test_plain_text.moc"
