// Audio: each control's command on the wire, the controls after the reply, no echo of values the
// program sets, and replies that name no button.
#include "support/panel_harness.h"
#include "support/sim_harness.h"

#include "panel/colours.h"

#include <QFile>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace tavrion;
using namespace tavrion::test;

namespace {
QString picture_of(QPushButton* b) { return b->property("picture").toString(); }
} // namespace

class TestAudio : public QObject {
    Q_OBJECT
private slots:
    void option_clicks_send_and_replies_select_without_echo()
    {
        PanelHarness h;
        ScriptedDevice dev;
        dev.answers["AUE002"] = "AUE001"; // the device corrects the choice
        dev.answers["AUE004"] = "AUE004";
        dev.answers["AUA002"] = "AUA002";
        dev.answers["AUB001"] = "AUB001";
        h.serial.responder = dev.responder();
        h.ready(h.w().fra_audio);

        PanelHarness::click(h.w().opt_audio(2));
        QCOMPARE(h.serial.commands, QStringList{"AUE002"});
        QVERIFY(h.w().opt_audio(1)->isChecked());
        QVERIFY(h.w().flags().ui_events_enabled);

        PanelHarness::click(h.w().opt_audio(4));
        PanelHarness::click(h.w().opt_da(2));
        PanelHarness::click(h.w().opt_db(1));
        PanelHarness::pump(30);
        QCOMPARE(h.serial.commands, (QStringList{"AUE002", "AUE004", "AUA002", "AUB001"}));
        QVERIFY(h.w().opt_audio(4)->isChecked());
        QVERIFY(h.w().opt_da(2)->isChecked());
        QVERIFY(h.w().opt_db(1)->isChecked());
    }

    void replies_select_even_in_disabled_frames_and_send_nothing()
    {
        PanelHarness h;
        h.ready(h.w().fra_audio);
        h.w().fra_dual_a->setEnabled(false); // Matrix or TV Wall mode
        h.w().fra_dual_b->setEnabled(false);
        h.arrive("AUA002");
        h.arrive("AUB001");
        h.arrive("AUE003");
        QVERIFY(h.w().opt_da(2)->isChecked());
        QVERIFY(h.w().opt_db(1)->isChecked());
        QVERIFY(h.w().opt_audio(3)->isChecked());
        QVERIFY(h.serial.commands.isEmpty());
        QVERIFY(h.w().flags().ui_events_enabled);
    }

    void replies_naming_no_button_are_ignored()
    {
        PanelHarness h;
        h.ready(h.w().fra_audio);
        h.arrive("AUA001");
        h.arrive("AUB002");
        h.arrive("AUE004");
        for (const char* r : {"AUA003", "AUA000", "AUB009", "AUE007", "AUE005"}) h.arrive(r);
        QVERIFY(h.w().opt_da(1)->isChecked());
        QVERIFY(h.w().opt_db(2)->isChecked());
        QVERIFY(h.w().opt_audio(4)->isChecked());
        QVERIFY(h.serial.commands.isEmpty());
        QVERIFY(h.w().flags().ui_events_enabled);
    }

    void speaker_toggles_from_the_last_known_state()
    {
        PanelHarness h;
        ScriptedDevice dev;
        dev.answers["AUD001"] = "AUD001";
        dev.answers["AUD000"] = "AUD000";
        h.serial.responder = dev.responder();
        h.ready(h.w().fra_audio);

        QCOMPARE(h.w().device_state().audio_state, 254);
        PanelHarness::click(h.w().cmd_mute);
        QCOMPARE(h.serial.commands, QStringList{"AUD001"});
        QCOMPARE(h.w().device_state().audio_state, 1);
        QCOMPARE(picture_of(h.w().cmd_mute), QStringLiteral("speaker_on.bmp"));

        PanelHarness::click(h.w().cmd_mute);
        QCOMPARE(h.serial.commands.last(), QStringLiteral("AUD000"));
        QCOMPARE(h.w().device_state().audio_state, 0);
        QCOMPARE(picture_of(h.w().cmd_mute), QStringLiteral("speaker_off.bmp"));

        // Any digit but 0 is "on"; it is stored as it came, so the next click switches on again.
        h.arrive("AUD005");
        QCOMPARE(h.w().device_state().audio_state, 5);
        QCOMPARE(picture_of(h.w().cmd_mute), QStringLiteral("speaker_on.bmp"));
        PanelHarness::click(h.w().cmd_mute);
        QCOMPARE(h.serial.commands.last(), QStringLiteral("AUD001"));
    }

    void speaker_state_toggles_without_an_answer()
    {
        PanelHarness h;
        h.ready(h.w().fra_audio); // no responder: the device stays silent
        PanelHarness::click(h.w().cmd_mute);
        PanelHarness::click(h.w().cmd_mute);
        QCOMPARE(h.serial.commands, (QStringList{"AUD001", "AUD000"}));
        QCOMPARE(h.w().device_state().audio_state, 0);
    }

    void missing_or_unreadable_speaker_picture_leaves_the_button()
    {
        PanelHarness h;
        ScriptedDevice dev;
        dev.answers["AUD001"] = "AUD001";
        h.serial.responder = dev.responder();
        h.ready(h.w().fra_audio);
        h.arrive("AUD001");
        QCOMPARE(picture_of(h.w().cmd_mute), QStringLiteral("speaker_on.bmp"));

        QVERIFY(QFile::remove(h.folder.file(QStringLiteral("bmp/speaker_off.bmp"))));
        h.arrive("AUD000");
        QCOMPARE(h.w().device_state().audio_state, 0);
        QCOMPARE(picture_of(h.w().cmd_mute), QStringLiteral("speaker_on.bmp"));

        h.folder.write_file(QStringLiteral("bmp/speaker_off.bmp"), "not a bitmap");
        h.arrive("AUD000");
        QCOMPARE(picture_of(h.w().cmd_mute), QStringLiteral("speaker_on.bmp"));

        // The panel goes on: the next click is sent and answered.
        PanelHarness::click(h.w().cmd_mute);
        QCOMPARE(h.serial.commands.last(), QStringLiteral("AUD001"));
        QCOMPARE(h.w().device_state().audio_state, 1);
    }

#ifdef TAVRION_HAVE_SIM
    void simulated_device_after_refresh()
    {
        SimHarness h(SimHarness::Link::Serial);
        QVERIFY(h.load());
        h.device().audio_edid = 3;
        h.device().dual_a_audio = 2;
        h.refresh();
        auto& w = h.w();
        QVERIFY(w.opt_audio(3)->isChecked());
        QVERIFY(w.opt_da(2)->isChecked());
        h.clear_wire();
        PanelHarness::click(w.opt_audio(2));
        PanelHarness::click(w.cmd_mute); // the device reported audio on: this switches it off
        QCOMPARE(h.wire(), (QStringList{"AUE002", "AUD000"}));
        QCOMPARE(h.device().audio_edid, 2);
        QVERIFY(!h.device().audio_on);
        QCOMPARE(picture_of(w.cmd_mute), QStringLiteral("speaker_off.bmp"));
    }
#endif
};

QTEST_MAIN(TestAudio)
#include "test_audio.moc"
