// A short soak per link: about five hundred commands with seeded random faults on the replies
// (tools/soak.sh runs the long one). No reply may reach a handler that the device did not send
// whole, or while a command of another code waits; every transaction ends within its steps; a
// quiet line always answers again; no message box; memory does not creep.
#include "soak/soak_engine.h"
#include "support/hygiene.h"
#include "support/sanitizer.h"

#include <QPixmapCache>
#include <QtTest>

using namespace tavrion;

#ifdef TAVRION_HAVE_SIM

class TestSoak : public QObject {
    Q_OBJECT

    void soak(soak::Link link, quint32 seed)
    {
        soak::Options o;
        o.links = {link};
        o.seed = seed;
        o.commands = 500;
        o.warmup = 200;
        o.probe_every = 50;
        o.report_every = 250;
        // A slow fault costs a whole reply wait (0.6 s serial, 1.2 s TCP): few, to stay short.
        o.slow_share = link == soak::Link::Serial ? 0.02 : 0.01;
        o.print = [](const QString& line) { qInfo("%s", qPrintable(line)); };
        o.transcript = qEnvironmentVariable("TAVRION_SOAK_TRANSCRIPT"); // to look into a failure
        const QList<soak::LinkReport> reports = soak::run(o);
        QCOMPARE(reports.size(), 1);
        const soak::LinkReport& r = reports.first();
        QVERIFY2(r.problems.isEmpty(), qPrintable(r.problems.join(QLatin1Char('\n'))));
        QVERIFY(r.commands >= o.commands);
        // The faults did reach the panel, and it still did its work.
        QVERIFY(r.faults.size() >= 6);
        QVERIFY(r.answered > r.transactions / 2);
        QVERIFY(r.receiver_dispatches > 0);
        QVERIFY(r.probes >= 8);
        QCOMPARE(r.probe_failures, 0);
        // Half a thousand commands cannot show a slow leak, but they do show a runaway one.
        if (tavrion::test::kResidentMemoryMeaningful)
            QVERIFY2(r.rss_end - r.rss_warm <= 2 * 1024 * 1024,
                     qPrintable(QStringLiteral("resident memory grew by %1 bytes").arg(r.rss_end - r.rss_warm)));
    }

private slots:
    void initTestCase()
    {
        test::Hygiene::start();
        // The style keeps drawn controls in Qt's pixmap cache, which fills up to its limit (10 MB)
        // over a few thousand commands and then stays; a small limit lets the memory figures show
        // the panel's own allocations.
        QPixmapCache::setCacheLimit(1024);
    }
    void cleanup() { TAVRION_VERIFY_HYGIENE(); }

    void serial_line() { soak(soak::Link::Serial, 7); }
    void tcp() { soak(soak::Link::Tcp, 11); }
};

#else

class TestSoak : public QObject {
    Q_OBJECT
private slots:
    void needs_the_simulator() { QSKIP("built without the simulator"); }
};

#endif

QTEST_MAIN(TestSoak)
#include "test_soak.moc"
