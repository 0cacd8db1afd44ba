// The leftover check that other tests run in cleanup(): it must see what a test leaves behind
// (a window, a running timer nobody owns, a listening socket, a thread), tell loopback from the
// rest, and find nothing once the fixtures are gone.
#include "support/hygiene.h"
#include "support/panel_harness.h"
#include "support/sim_harness.h"

#include <QPushButton>
#include <QTcpServer>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>
#include <QWidget>
#include <QtTest>

using namespace tavrion;
using namespace tavrion::test;

namespace {
bool mentions(const QStringList& list, const QString& what)
{
    return !list.filter(what).isEmpty();
}
} // namespace

class TestHygiene : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Hygiene::start(); }
    void cleanup() { TAVRION_VERIFY_HYGIENE(); }

    void sees_what_a_test_leaves_behind()
    {
        QCOMPARE(Hygiene::leftovers(0), QStringList());

        auto* timer = new QTimer; // owned by nobody: only the object watch can find it
        timer->start(1000);
        auto* window = new QWidget;
        window->show();
        auto* server = new QTcpServer;
        QVERIFY(server->listen(QHostAddress::LocalHost, 0));
        auto* thread = new QThread;
        thread->start();

        const QStringList left = Hygiene::leftovers(0);
        QVERIFY2(mentions(left, QStringLiteral("alive: QTimer (no parent)")), qPrintable(left.join('\n')));
        QVERIFY(mentions(left, QStringLiteral("window: QWidget")));
        QVERIFY(mentions(left, QStringLiteral("alive: QTcpServer")));
        QVERIFY(mentions(left, QStringLiteral("LISTEN")));
        QVERIFY(mentions(left, QStringLiteral("threads:")));
        QCOMPARE(Hygiene::listening_sockets().size(), 1);

        delete timer;
        delete window;
        delete server;
        thread->quit();
        QVERIFY(thread->wait(2000));
        delete thread;
        // deleteLater() counts as gone once the deferred deletes have run.
        (new QTimer)->deleteLater();
        const QStringList after = Hygiene::leftovers();
        QVERIFY2(after.isEmpty(), qPrintable(after.join('\n')));
    }

    void tells_loopback_from_the_rest()
    {
        QUdpSocket local, everywhere;
        QVERIFY(local.bind(QHostAddress::LocalHost, 0));
        QVERIFY(everywhere.bind(QHostAddress::AnyIPv4, 0));
        const QStringList outside = Hygiene::non_loopback_sockets();
        QCOMPARE(outside.size(), 1);
        QVERIFY2(outside.first().startsWith(QStringLiteral("udp 0.0.0.0:%1").arg(everywhere.localPort())), qPrintable(outside.first()));
        QCOMPARE(Hygiene::inet_sockets().size(), 2);
    }

    // The shared fixtures tidy up after themselves (cleanup() checks).
    void panel_on_fakes_leaves_nothing()
    {
        PanelHarness h;
        QVERIFY(h.load());
        h.w().menu_keys().cmd_keypad_Click();
        PanelHarness::click(h.w().cmd_refresh);
    }

#ifdef TAVRION_HAVE_SIM
    void panel_on_the_serial_simulator_leaves_nothing()
    {
        SimHarness h(SimHarness::Link::Serial);
        QVERIFY(h.load());
        h.refresh();
        QCOMPARE(h.w().device_state().power_state, 1);
    }

    void panel_on_the_tcp_simulator_leaves_nothing()
    {
        SimHarness h(SimHarness::Link::Tcp);
        QVERIFY(h.load());
        h.refresh();
        QCOMPARE(h.w().device_state().power_state, 1);
        QCOMPARE(Hygiene::non_loopback_sockets(), QStringList());
    }
#endif
};

QTEST_MAIN(TestHygiene)
#include "test_hygiene.moc"
