// Saving the settings at exit must never cost the user the settings of the previous run: a write
// that fails after any number of bytes (a full disk), or a panel killed in the middle of saving,
// leaves the old tavrion.ini whole, and the next start-up reads it.
//
// Tests run as root, so a read-only folder proves nothing here (test_startup covers it with the
// immutable flag); instead the file size limit of the process makes writes fail at a chosen byte,
// as a full disk does, and a child process that saves over and over is killed at chosen steps of
// a save (stopped there by strace) and at random moments.
#include "support/fakes.h"
#include "support/file_size_limit.h"
#include "support/hygiene.h"
#include "support/program_folder.h"
#include "support/test_access.h"

#include "session/clock.h"
#include "support/features.h"
#include "protocol/settings_file.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QComboBox>
#include <QProcess>
#include <QRadioButton>
#include <QStandardPaths>
#include <QtTest>

#include <memory>

using namespace tavrion;
using namespace tavrion::test;

namespace {

const char* const kWriterFlag = "--save-settings-until-killed";

// A main window on fakes over an existing program folder.
struct Panel {
    explicit Panel(const QString& folder)
    {
        Platform p;
        p.program_dir = folder;
        p.clock = &clock;
        p.serial = &serial;
        p.socket = &tcp;
        p.boxes = &boxes;
        w = std::make_unique<FrmMain>(p);
    }
    ~Panel()
    {
        w->close();
        w.reset();
        QCoreApplication::processEvents();
    }
    SteadyClock clock;
    FakeSerialPort serial;
    FakeTcpClient tcp;
    RecordingBoxes boxes;
    std::unique_ptr<FrmMain> w;
};

QStringList files_in(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// The child: saves the settings again and again, alternating two addresses long enough that a
// save takes a while, until it is killed.
int save_until_killed(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[2]);
    for (quint64 i = 0;; ++i) {
        Panel panel(folder);
        panel.w->session().set_link_interface(int(i % 2));
        panel.w->session().set_com_port(int(i % 2) + 3);
        PanelTestAccess::flags(*panel.w).advanced_view = i % 2 == 0;
        panel.w->txt_ip->setText(QString(16000, QLatin1Char(i % 2 ? 'b' : 'a')));
        panel.w->Form_Unload();
    }
}

} // namespace

class TestSettingsSafety : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Hygiene::start(); }
    void cleanup() { TAVRION_VERIFY_HYGIENE(); }

    void a_save_that_fails_at_any_byte_keeps_the_previous_file()
    {
        Settings old_settings;
        old_settings.link_interface = 1;
        old_settings.com_port = 7;
        old_settings.advanced_view = false;
        old_settings.address = QStringLiteral("10.0.0.7");
        ProgramFolder folder(old_settings);
        const QStringList files_before = files_in(folder.path());

        SettingsValues next;
        next.link_interface = 0;
        next.com_port = 2;
        next.advanced_view = true;
        next.address = "192.168.100.200 lab rack, second shelf";
        const int size = int(write_settings(next).size());
        // What the user changes before closing the window: the settings `next` holds.
        const auto choose_next = [&next](Panel& panel) {
            panel.w->opt_interface(0)->setChecked(true);
            panel.w->cbo_com->setCurrentIndex(next.com_port - 1);
            if (panel.w->flags().advanced_view != next.advanced_view) panel.w->cmd_advance_Click();
            panel.w->txt_ip->setText(QString::fromStdString(next.address));
        };

        // Every point at which the disk can fill: before the first byte, after each one.
        for (int limit = 0; limit < size; ++limit) {
            const QByteArray before = folder.read_file(QStringLiteral("tavrion.ini"));
            {
                Panel panel(folder.path());
                QVERIFY(panel.w->Form_Load());
                choose_next(panel);
                FileSizeLimit full{rlim_t(limit)};
                if (!full.ok()) QSKIP("cannot limit the file size here");
                panel.w->close();
                QVERIFY(panel.boxes.boxes.isEmpty()); // the exit stays silent
            }
            QVERIFY2(folder.read_file(QStringLiteral("tavrion.ini")) == before,
                     qPrintable(QStringLiteral("the file changed when the disk filled after %1 bytes").arg(limit)));
            QCOMPARE(files_in(folder.path()), files_before); // no half-written copy beside it

            // The next start-up reads the previous run's settings.
            Panel again(folder.path());
            QVERIFY(again.w->Form_Load());
            QCOMPARE(again.w->session().link_interface(), 1);
            QCOMPARE(again.w->session().com_port(), 7);
            QCOMPARE(again.w->txt_ip->text(), QStringLiteral("10.0.0.7"));
        }

        // And with room on the disk the same save goes through.
        {
            Panel panel(folder.path());
            QVERIFY(panel.w->Form_Load());
            choose_next(panel);
            FileSizeLimit room{rlim_t(size)};
            panel.w->close();
        }
        QCOMPARE(folder.read_file(QStringLiteral("tavrion.ini")), QByteArray::fromStdString(write_settings(next)));
    }

    void a_panel_killed_while_saving_leaves_a_whole_file_data()
    {
        // Qt writes the new copy as a file without a name, links it in beside tavrion.ini once it
        // is written, and renames it over the old one. strace stops the child at a chosen step of
        // its third save; the last row kills it at random moments instead.
        QTest::addColumn<QString>("step");
        QTest::newRow("written, before it gets a name") << QStringLiteral("linkat");
        QTest::newRow("named, before the rename") << QStringLiteral("rename");
        QTest::newRow("at random moments") << QString();
    }

    void a_panel_killed_while_saving_leaves_a_whole_file()
    {
        QFETCH(QString, step);
        const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
        if (!step.isEmpty() && strace.isEmpty()) QSKIP("strace is not installed");
        Settings initial;
        initial.address = QStringLiteral("start");
        ProgramFolder folder(initial);
        const int kills = step.isEmpty() ? 6 : 1;
        for (int k = 0; k < kills; ++k) {
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
            child.setProcessEnvironment(env);
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            const QStringList writer{QCoreApplication::applicationFilePath(), QString::fromLatin1(kWriterFlag), folder.path()};
            if (step.isEmpty()) {
                child.start(writer.first(), writer.mid(1));
                QVERIFY(child.waitForStarted(5000));
                // Let it save a few times, then kill it at some moment.
                for (int saves = 0; saves < 2; ++saves) {
                    const QByteArray was = folder.read_file(QStringLiteral("tavrion.ini"));
                    QVERIFY(QTest::qWaitFor([&] { return folder.read_file(QStringLiteral("tavrion.ini")) != was; }, 10000));
                }
                QTest::qWait(1 + k * 7 % 23);
                child.kill();
            } else {
                child.start(strace, QStringList{QStringLiteral("-f"), QStringLiteral("-qq"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                                                QStringLiteral("-e"), QStringLiteral("trace=") + step, QStringLiteral("-e"),
                                                QStringLiteral("inject=%1:signal=KILL:when=3").arg(step)} + writer);
                QVERIFY(child.waitForStarted(5000));
            }
            QVERIFY(child.waitForFinished(20000));
            QCOMPARE(child.exitStatus(), QProcess::CrashExit);

            const QByteArray bytes = folder.read_file(QStringLiteral("tavrion.ini"));
            const SettingsRead read = read_settings(bytes.toStdString());
            QVERIFY2(read.ok, read.error.c_str());
            // One whole save or another, never a mixture.
            const bool a = read.values.address == std::string(16000, 'a') && read.values.link_interface == 0
                && read.values.com_port == 3 && read.values.advanced_view;
            const bool b = read.values.address == std::string(16000, 'b') && read.values.link_interface == 1
                && read.values.com_port == 4 && !read.values.advanced_view;
            QVERIFY(a || b);

            // Killed before the rename, the finished copy stays beside the file under its
            // temporary name; start-up pays it no attention.
            const QStringList stray = files_in(folder.path()).filter(QStringLiteral("tavrion.ini."));
            if (step == QLatin1String("rename")) QCOMPARE(stray.size(), 1);
            if (step == QLatin1String("linkat")) QCOMPARE(stray.size(), 0);
            {
                Panel next(folder.path());
                QVERIFY(next.w->Form_Load());
                QCOMPARE(next.w->txt_ip->text().size(), 16000);
            }
            for (const QString& f : stray) QFile::remove(folder.file(f));
        }
    }
};

int main(int argc, char* argv[])
{
    if (argc == 3 && qstrcmp(argv[1], kWriterFlag) == 0) return save_until_killed(argc, argv);
    QApplication app(argc, argv);
    TestSettingsSafety test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_settings_safety.moc"
