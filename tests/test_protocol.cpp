// The line protocol on its own: pad3, framing, the acceptance rule and the command catalogue.
#include "protocol/command_catalogue.h"
#include "protocol/protocol.h"
#include "protocol/remote_address.h"

#include <QTest>

using namespace tavrion;

class TestProtocol : public QObject {
    Q_OBJECT
private slots:
    void pad3_formats_three_digits()
    {
        QCOMPARE(pad3(0), std::string("000"));
        QCOMPARE(pad3(4), std::string("004"));
        QCOMPARE(pad3(42), std::string("042"));
        QCOMPARE(pad3(120), std::string("120"));
        QCOMPARE(pad3(999), std::string("999"));
        // No caller produces these; they must still give a three-digit parameter.
        QCOMPARE(pad3(-5), std::string("000"));
        QCOMPARE(pad3(1234), std::string("999"));
    }
    // A set command's answer reports the value asked for, read as the model reads its code.
    void confirms_reads_the_value_as_the_model_does()
    {
        const struct {
            const char* command;
            const char* reply;
            bool took;
        } cases[] = {
            {"LCK001", "LCK002", true}, {"LCK001", "LCK000", false}, {"PWR000", "PWR000", true},
            {"RES012", "RES112", true}, {"RES012", "RES013", false}, {"BRI250", "BRI250", true},
            {"BRI250", "BRI251", false}, {"BEH030", "BEH030", true}, {"MOD002", "MOD012", true},
            {"MOD002", "MOD003", false}, {"MNX001", "MNX000", true}, {"AUE004", "AUE004", true},
            {"AUD000", "AUD000", true}, {"AUD001", "AUD000", false}, {"RST001", "RST001", true},
        };
        for (const auto& c : cases)
            QVERIFY2(confirms(c.command, c.reply) == c.took, c.command);
    }


    // The rows the session, the runner and the hub rely on: the device restarts over TCP on exactly
    // power on and factory reset, the mode and preset commands answer late, "Get IP" has its own
    // answer, and only BEH/BEV ask for a maximum.
    void catalogue_rules()
    {
        const struct {
            const char* command;
            bool restarts, late, network, maximum, reset;
        } cases[] = {
            {"PWR001", true, false, false, false, false},  {"PWR000", false, false, false, false, false},
            {"RST001", true, false, false, false, true},   {"RST002", false, false, false, false, false},
            {"MOD002", false, true, false, false, false},  {"CAL001", false, true, false, false, false},
            {"SAV004", false, true, false, false, false},  {"OUT001", false, false, false, false, false},
            {"EIP999", false, false, true, false, false},  {"EMK999", false, false, true, false, false},
            {"EGW999", false, false, true, false, false},  {"BEH998", false, false, false, true, false},
            {"BEV998", false, false, false, true, false},  {"BRI998", false, false, false, false, false},
            {"XYZ001", false, false, false, false, false}, {"PWR", false, false, false, false, false},
        };
        for (const auto& c : cases) {
            QVERIFY2(restarts_device(c.command) == c.restarts, c.command);
            QVERIFY2(late_reply(c.command) == c.late, c.command);
            QVERIFY2(network_query(c.command) == c.network, c.command);
            QVERIFY2(maximum_query(c.command) == c.maximum, c.command);
            QVERIFY2(factory_reset(c.command) == c.reset, c.command);
        }
        // Every row sits at its code's place, and its letters name it back.
        for (int i = 0; i <= int(Code::VER); ++i) {
            const Code code = Code(i);
            QCOMPARE(catalogue_row(code).code, code);
            QCOMPARE(find_row(code_text(code)), &catalogue_row(code));
        }
        QCOMPARE(command_of(Code::OUT, 2), std::string("OUT002"));
        QCOMPARE(query_of(Code::INP), std::string("INP999"));
        // Muted is the audio output off.
        QCOMPARE(mute_command(true), std::string("AUD000"));
        QCOMPARE(mute_command(false), std::string("AUD001"));
        QCOMPARE(picture_property("HUE"), std::optional<int>(2));
        QVERIFY(!picture_property("BEH"));
    }

    void command_is_framed_with_cr_only() { QCOMPARE(frame_command("OUT002"), std::string("OUT002\r")); }

    void acceptance_rule()
    {
        std::string t = "AUA002\r";
        QCOMPARE(examine_line(t, 7), LineVerdict::Accepted);
        QCOMPARE(t, std::string("AUA002"));

        t = "AUA0X2\r";
        QCOMPARE(examine_line(t, 7), LineVerdict::Rejected);

        t = "AUA002"; // no terminator yet: not examined
        QCOMPARE(examine_line(t, 6), LineVerdict::NeedMore);

        t = "ERR123\r";
        QCOMPARE(examine_line(t, 7), LineVerdict::Accepted);

        t = "AUA001\rAUB002\r"; // two replies at once: the first is taken, the rest dropped
        QCOMPARE(examine_line(t, 14), LineVerdict::Accepted);
        QCOMPARE(t, std::string("AUA001"));

        t = "\nAUA001"; // a stray line feed shifts the next line: rejected
        QCOMPARE(examine_line(t, 7), LineVerdict::Rejected);

        t = std::string("AB\0" "123\r", 7); // codes are not examined, NUL and all
        QCOMPARE(examine_line(t, 7), LineVerdict::Accepted);
    }

    void reply_fields()
    {
        QCOMPARE(reply_code("MOD003"), std::string("MOD"));
        QCOMPARE(reply_last_digit("MOD003"), 3);
        QCOMPARE(reply_last_two("RES112"), 12);
        QCOMPARE(reply_last_three("SAT437"), 437);
        QCOMPARE(reply_last_digit("EIP"), -1);
        QCOMPARE(reply_last_three("A"), -1);
    }

    void remote_address_forms()
    {
        auto a = parse_remote_address("192.168.1.100");
        QCOMPARE(a.host, std::string("192.168.1.100"));
        QCOMPARE(a.port, 23);
        a = parse_remote_address("localhost:2323");
        QCOMPARE(a.host, std::string("localhost"));
        QCOMPARE(a.port, 2323);
        a = parse_remote_address("[::1]:4001");
        QCOMPARE(a.host, std::string("::1"));
        QCOMPARE(a.port, 4001);
        a = parse_remote_address("fe80::1");
        QCOMPARE(a.host, std::string("fe80::1"));
        QCOMPARE(a.port, 23);
        a = parse_remote_address("[::1]");
        QCOMPARE(a.host, std::string("::1"));
        a = parse_remote_address("host:99999"); // not a port: the whole text stays the host
        QCOMPARE(a.host, std::string("host:99999"));
        QCOMPARE(a.port, 23);
    }

    // The one place where an address is taken apart at its port: the device's address box, and
    // the hub's --listen, Host and Origin all go through it.
    void host_and_port_split()
    {
        struct Row {
            const char* text;
            bool valid;
            const char* host;
            const char* port; // nullptr: no port written
        };
        const Row rows[] = {
            {"10.0.0.5", true, "10.0.0.5", nullptr},
            {"hub.example:7720", true, "hub.example", "7720"},
            {"hub.example:", true, "hub.example", ""},
            {"[::1]:2401", true, "[::1]", "2401"},
            {"[::1]", true, "[::1]", nullptr},
            {"fe80::1", true, "fe80::1", nullptr}, // a bare IPv6 address carries no port
            {"a:b:7720", true, "a:b:7720", nullptr},
            {"[::1", false, "", nullptr},          // a bracket left open
            {"[::1]7720", false, "", nullptr},     // no colon after the bracket
            {"[::1]x:7720", false, "", nullptr},
        };
        for (const Row& r : rows) {
            const auto parts = split_host_port(r.text);
            QVERIFY2(parts.has_value() == r.valid, r.text);
            if (!parts) continue;
            QVERIFY2(parts->host == r.host, r.text);
            QVERIFY2(parts->port.has_value() == (r.port != nullptr), r.text);
            if (r.port) QVERIFY2(*parts->port == r.port, r.text);
        }
    }
};

QTEST_APPLESS_MAIN(TestProtocol)
#include "test_protocol.moc"
