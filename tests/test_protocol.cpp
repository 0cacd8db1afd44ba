// The line protocol on its own: pad3, framing and the acceptance rule.
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
