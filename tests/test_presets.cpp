// Presets: recall and save rows, the late-reply waits, the highlights set by the replies, and the
// routing re-read after a recall.
#include "support/panel_harness.h"
#include "support/test_access.h"

#include "panel/colours.h"

#include <QElapsedTimer>
#include <QGroupBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace tavrion;
using namespace tavrion::test;

namespace {
// Which buttons of a row carry the selection colour.
QList<int> highlighted(const Indexed<QPushButton, 1, 4>& row)
{
    QList<int> out;
    for (int n = 1; n <= 4; ++n)
        if (back_colour(row(n)) == selection_colour) out << n;
    return out;
}

bool row_enabled(const Indexed<QPushButton, 1, 4>& row)
{
    for (int n = 1; n <= 4; ++n)
        if (!row(n)->isEnabled()) return false;
    return true;
}

ScriptedDevice routing_device()
{
    ScriptedDevice dev;
    for (int n = 1; n <= 4; ++n) dev.answers["OUT00" + QByteArray::number(n)] = "OUT00" + QByteArray::number(n);
    dev.answers["INP999"] = "INP002";
    return dev;
}
} // namespace

class TestPresets : public QObject {
    Q_OBJECT
private slots:
    void recall_highlights_and_rereads_the_routing()
    {
        PanelHarness h;
        ScriptedDevice dev = routing_device();
        dev.answers["CAL003"] = "CAL003";
        h.serial.responder = dev.responder();
        h.ready(h.w().fra_recall_save);
        auto& w = h.w();
        h.arrive("SAV001"); // a save highlight that the recall must not touch

        PanelHarness::click(w.cmd_recall(3));
        QCOMPARE(h.serial.commands, (QStringList{"CAL003", "OUT001", "INP999", "OUT002", "INP999", "OUT003",
                                                 "INP999", "OUT004", "INP999"}));
        QCOMPARE(highlighted(w.cmd_recall), QList<int>{3});
        QVERIFY(row_enabled(w.cmd_recall));
        QCOMPARE(highlighted(w.cmd_save), QList<int>{1});
    }

    void save_without_answer_waits_late_then_reenables_without_highlight()
    {
        PanelHarness h;
        h.ready(h.w().fra_recall_save); // no responder: silent device
        auto& w = h.w();
        h.arrive("SAV004");
        QCOMPARE(highlighted(w.cmd_save), QList<int>{4});

        bool disabled_meanwhile = false;
        QTimer::singleShot(1000, [&] { disabled_meanwhile = !row_enabled(w.cmd_save) && row_enabled(w.cmd_recall); });
        const quint64 waits_before = SessionTestAccess::wait_step_count(w.session());
        QElapsedTimer t;
        t.start();
        PanelHarness::click(w.cmd_save(2));
        const qint64 ms = t.elapsed();

        QCOMPARE(h.serial.commands, QStringList{"SAV002"});
        QCOMPARE(SessionTestAccess::wait_step_count(w.session()) - waits_before, quint64(301 + 10)); // reply steps, then ten late waits
        QVERIFY2(ms >= 5000 && ms < 9000, qPrintable(QString::number(ms)));
        QVERIFY(disabled_meanwhile);
        QVERIFY(row_enabled(w.cmd_save));
        QVERIFY(highlighted(w.cmd_save).isEmpty());
    }

    void late_recall_reply_still_highlights_and_refreshes()
    {
        PanelHarness h;
        ScriptedDevice dev = routing_device();
        dev.answers["CAL001"] = "CAL001";
        h.serial.responder = dev.responder();
        h.ready(h.w().fra_recall_save);
        auto& w = h.w();
        // The device takes 1.5 s for the recall: past the transaction's own wait.
        h.serial.responder = [&](const QByteArray& c) -> QByteArray {
            if (c == "CAL001") {
                QTimer::singleShot(1500, [&] { h.serial.feed("CAL001\r"); });
                return {};
            }
            return dev.responder()(c);
        };
        PanelHarness::click(w.cmd_recall(1));
        QCOMPARE(highlighted(w.cmd_recall), QList<int>{1});
        QCOMPARE(h.serial.commands.size(), 9);
        QCOMPARE(h.serial.commands.last(), QStringLiteral("INP999"));
    }

    void replies_naming_no_preset_change_nothing()
    {
        PanelHarness h;
        h.ready(h.w().fra_recall_save);
        auto& w = h.w();
        h.arrive("CAL002");
        h.arrive("SAV003");
        for (const char* r : {"CAL009", "CAL000", "CAL005", "SAV007", "SAV000"}) h.arrive(r);
        QCOMPARE(highlighted(w.cmd_recall), QList<int>{2});
        QCOMPARE(highlighted(w.cmd_save), QList<int>{3});
        QVERIFY(h.serial.commands.isEmpty());
    }
};

QTEST_MAIN(TestPresets)
#include "test_presets.moc"
