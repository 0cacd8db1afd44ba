// The device model on its own: hand-made replies in, typed state and one event per reply out.
#include "session/device_model.h"
#include "support/test_access.h"
#include "session/device_session.h"

#include <QTest>

#include <functional>
#include <string>
#include <vector>

using namespace tavrion;

namespace {

// Every event of the model as one line, in the order emitted.
struct Recorder {
    QStringList lines;
    explicit Recorder(DeviceModel& m)
    {
        QObject::connect(&m, &DeviceModel::firmware_reported, [this](int v) { lines << QString("firmware %1").arg(v); });
        QObject::connect(&m, &DeviceModel::power_reported, [this](bool on) { lines << QString("power %1").arg(on); });
        QObject::connect(&m, &DeviceModel::lock_reported, [this](bool on) { lines << QString("lock %1").arg(on); });
        QObject::connect(&m, &DeviceModel::mode_reported, [this](int v) { lines << QString("mode %1").arg(v); });
        QObject::connect(&m, &DeviceModel::output_reported, [this](int v) { lines << QString("output %1").arg(v); });
        QObject::connect(&m, &DeviceModel::input_reported,
                         [this](int o, int i) { lines << QString("input %1 %2").arg(o).arg(i); });
        QObject::connect(&m, &DeviceModel::picture_reported,
                         [this](int p, int r, int v) { lines << QString("picture %1 %2 %3").arg(p).arg(r).arg(v); });
        QObject::connect(&m, &DeviceModel::bezel_reported,
                         [this](int a, int v) { lines << QString("bezel %1 %2").arg(a).arg(v); });
        QObject::connect(&m, &DeviceModel::bezel_maximum_reported,
                         [this](int a, int v) { lines << QString("bezel max %1 %2").arg(a).arg(v); });
        QObject::connect(&m, &DeviceModel::bezel_switch_reported,
                         [this](bool on) { lines << QString("bezel switch %1").arg(on); });
        QObject::connect(&m, &DeviceModel::edid_reported, [this](int v) { lines << QString("edid %1").arg(v); });
        QObject::connect(&m, &DeviceModel::dual_audio_reported,
                         [this](int p, int s) { lines << QString("dual %1 %2").arg(p).arg(s); });
        QObject::connect(&m, &DeviceModel::audio_reported, [this](int d) { lines << QString("audio %1").arg(d); });
        QObject::connect(&m, &DeviceModel::resolution_reported,
                         [this](int n) { lines << QString("resolution %1").arg(n); });
        QObject::connect(&m, &DeviceModel::preset_recalled, [this](int d) { lines << QString("recalled %1").arg(d); });
        QObject::connect(&m, &DeviceModel::preset_saved, [this](int d) { lines << QString("saved %1").arg(d); });
        QObject::connect(&m, &DeviceModel::reset_reported, [this](int d) { lines << QString("reset %1").arg(d); });
        QObject::connect(&m, &DeviceModel::network_reported, [this](int s, const std::string& a) {
            lines << QString("network %1 %2").arg(s).arg(QString::fromStdString(a));
        });
    }
};

using Check = std::function<bool(const DeviceModel&)>;

struct Case {
    const char* name;
    std::vector<std::string> before; // replies taken first, their events not compared
    std::string reply;
    const char* event; // the one event of `reply`; "" when it names nothing
    Check holds;
};

template <typename T>
bool is(const std::optional<T>& v, const T& want)
{
    return v && *v == want;
}

} // namespace

class TestDeviceModel : public QObject {
    Q_OBJECT
private slots:
    void each_reply_code_is_decoded_once()
    {
        const Case cases[] = {
            {"version", {}, "VER106", "firmware 106", [](const DeviceModel& m) { return is(m.state().firmware, 106); }},
            {"power on", {}, "PWR001", "power 1", [](const DeviceModel& m) { return is(m.state().power_on, true); }},
            {"power, odd digit", {}, "PWR002", "power 1", [](const DeviceModel& m) { return is(m.state().power_on, true); }},
            {"standby", {}, "PWR000", "power 0", [](const DeviceModel& m) { return is(m.state().power_on, false); }},
            {"lock", {}, "LCK007", "lock 1", [](const DeviceModel& m) { return is(m.state().locked, true); }},
            {"mode", {}, "MOD002", "mode 2",
             [](const DeviceModel& m) { return m.display_mode() == 2 && is(m.state().mode, 2); }},
            {"mode without a layout", {"MOD003"}, "MOD009", "",
             [](const DeviceModel& m) { return m.display_mode() == 3 && is(m.state().mode, 3); }},
            {"mode 0", {}, "MOD000", "", [](const DeviceModel& m) { return m.display_mode() == 1 && !m.state().mode; }},
            {"output", {}, "OUT003", "output 3", [](const DeviceModel& m) { return m.current_output() == 3; }},
            {"output past the last", {"OUT002"}, "OUT007", "", [](const DeviceModel& m) { return m.current_output() == 2; }},
            {"input of output A", {}, "INP004", "input 1 4", [](const DeviceModel& m) { return is(m.state().routes[0], 4); }},
            {"input for another output", {"INP001", "OUT003"}, "INP002", "input 3 2",
             [](const DeviceModel& m) { return is(m.state().routes[2], 2) && is(m.state().routes[0], 1); }},
            {"input 0", {}, "INP000", "", [](const DeviceModel& m) { return !m.state().routes[0]; }},
            {"brightness, Matrix", {}, "BRI040", "picture 0 1 40",
             [](const DeviceModel& m) { return is(m.state().picture[kBrightness][0], 40); }},
            {"contrast past 100, Matrix", {}, "CON101", "", [](const DeviceModel& m) { return !m.state().picture[kContrast][0]; }},
            {"hue, Dual row C", {"MOD002"}, "HUE455", "picture 2 3 55",
             [](const DeviceModel& m) { return is(m.state().picture[kHue][2], 55); }},
            {"saturation past the rows, Dual", {"MOD002"}, "SAT950", "",
             [](const DeviceModel& m) { return !m.state().picture[kSaturation][0]; }},
            {"bezel h", {}, "BEH012", "bezel 0 12", [](const DeviceModel& m) { return is(m.state().bezel_h, 12); }},
            {"bezel v at the limit", {}, "BEV254", "bezel 1 254", [](const DeviceModel& m) { return is(m.state().bezel_v, 254); }},
            {"bezel past the limit", {"BEH012"}, "BEH255", "", [](const DeviceModel& m) { return is(m.state().bezel_h, 12); }},
            {"bezel on", {}, "BEZ001", "bezel switch 1", [](const DeviceModel& m) { return is(m.state().bezel_on, true); }},
            {"bezel odd digit", {}, "BEZ005", "", [](const DeviceModel& m) { return !m.state().bezel_on; }},
            {"edid", {}, "AUE004", "edid 4", [](const DeviceModel& m) { return is(m.state().edid, 4); }},
            {"edid past the list", {}, "AUE007", "", [](const DeviceModel& m) { return !m.state().edid; }},
            {"dual A", {}, "AUA002", "dual 1 2", [](const DeviceModel& m) { return is(m.state().dual_a, 2); }},
            {"dual B", {}, "AUB001", "dual 2 1", [](const DeviceModel& m) { return is(m.state().dual_b, 1); }},
            {"dual odd digit", {}, "AUA003", "", [](const DeviceModel& m) { return !m.state().dual_a; }},
            {"audio off", {}, "AUD000", "audio 0", [](const DeviceModel& m) { return is(m.state().audio_on, false); }},
            {"audio, odd digit", {}, "AUD005", "audio 5", [](const DeviceModel& m) { return is(m.state().audio_on, true); }},
            {"resolution, last two digits", {}, "RES112", "resolution 12",
             [](const DeviceModel& m) { return is(m.state().resolution, 12); }},
            {"resolution past any list", {}, "RES099", "resolution 99",
             [](const DeviceModel& m) { return is(m.state().resolution, 99); }},
            {"resolution none", {}, "RES000", "resolution 0", [](const DeviceModel& m) { return is(m.state().resolution, 0); }},
            {"recall", {}, "CAL003", "recalled 3", [](const DeviceModel&) { return true; }},
            {"recall of no preset", {}, "CAL000", "recalled 0", [](const DeviceModel&) { return true; }},
            {"save", {}, "SAV004", "saved 4", [](const DeviceModel&) { return true; }},
            {"factory reset", {}, "RST001", "reset 1", [](const DeviceModel&) { return true; }},
            {"picture reset", {}, "RST002", "reset 2", [](const DeviceModel&) { return true; }},
            {"a refusal", {}, "ERR002", "",
             [](const DeviceModel& m) { return !m.state().power_on && m.display_mode() == 1 && m.current_output() == 1; }},
        };
        for (const Case& c : cases) {
            DeviceModel m;
            for (const std::string& r : c.before) m.take(r);
            Recorder rec(m);
            QStringList accepted;
            connect(&m, &DeviceModel::accepted, [&](const std::string& r) { accepted << QString::fromStdString(r); });
            m.take(c.reply);
            const QStringList want = *c.event ? QStringList{QString::fromLatin1(c.event)} : QStringList{};
            QVERIFY2(rec.lines == want, qPrintable(QString("%1: %2").arg(c.name, rec.lines.join("; "))));
            QVERIFY2(c.holds(m), c.name);
            QCOMPARE(accepted, QStringList{QString::fromStdString(c.reply)});
        }
    }

    void pending_bezel_maximum_takes_one_reply()
    {
        DeviceModel m;
        Recorder rec(m);
        m.expect_answer_to("BEH998");
        m.take("BEH300"); // past the limit: not a maximum either, and the flag stays up
        QVERIFY(m.bezel_max_pending());
        m.take("BEH120");
        QVERIFY(!m.bezel_max_pending());
        m.take("BEH017");
        QCOMPARE(rec.lines, (QStringList{"bezel max 0 120", "bezel 0 17"}));
        QVERIFY(is(m.state().bezel_h_max, 120) && is(m.state().bezel_h, 17));
    }

    // Only the maximum queries raise the mark; any reply to them puts it down, silence keeps it
    // for the late answer, and the end of another exchange leaves it alone.
    void bezel_maximum_follows_the_exchange()
    {
        using K = Exchange::Kind;
        struct Case {
            const char* sent;
            K kind;
            const char* reply;
            bool pending;
        } cases[] = {
            {"BEH998", K::Silent, "", true},         {"BEV998", K::Refused, "ERR003", false},
            {"BEH998", K::OtherCode, "PWR001", false}, {"BEH998", K::Unreadable, "\x01", true},
            {"BEV998", K::LinkDown, "", true},       {"BEH999", K::Silent, "", false},
            {"BEH120", K::Answered, "BEH120", false},
        };
        for (const Case& c : cases) {
            DeviceModel m;
            m.expect_answer_to(c.sent);
            m.exchange_ended(c.sent, Exchange{c.kind, c.reply});
            QVERIFY2(m.bezel_max_pending() == c.pending, c.sent);
        }
        DeviceModel m;
        m.expect_answer_to("BEH998");
        m.exchange_ended("PWR999", Exchange{K::Answered, "PWR001"});
        QVERIFY(m.bezel_max_pending());
    }

    void picture_values_belong_to_their_layout()
    {
        DeviceModel m;
        m.take("BRI040");
        m.take("MOD001"); // the same layout: kept
        QVERIFY(is(m.state().picture[kBrightness][0], 40));
        m.take("MOD002"); // rows of another layout: forgotten, as the device reports them anew
        QVERIFY(!m.state().picture[kBrightness][0]);
        m.take("BRI250");
        QVERIFY(is(m.state().picture[kBrightness][1], 50));
    }

    void network_answers_and_reset()
    {
        DeviceModel m;
        Recorder rec(m);
        m.take_network("EMK999", "255.255.255.000\r");
        QCOMPARE(rec.lines, QStringList{"network 1 255.255.255.000\r"});
        QVERIFY(is(m.state().mask, std::string("255.255.255.000\r")));
        m.take("MOD003");
        m.take("OUT004");
        m.expect_answer_to("BEV998");
        m.reset();
        QVERIFY(!m.state().mask && !m.state().mode);
        QCOMPARE(m.display_mode(), 1);
        QCOMPARE(m.current_output(), 1);
        QVERIFY(!m.bezel_max_pending());
    }

    void registers_every_code_with_the_session()
    {
        DeviceSession session(SessionPlatform{});
        for (const std::string& code : DeviceModel::reply_codes()) QVERIFY(SessionTestAccess::router(session).has(code));
        QVERIFY(!SessionTestAccess::router(session).has("ERR"));
        QCOMPARE(int(DeviceModel::reply_codes().size()), 21);
    }
};

QTEST_GUILESS_MAIN(TestDeviceModel)
#include "test_device_model.moc"
