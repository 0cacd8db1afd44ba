// The field notation of the settings file and the resolution list, on bytes alone.
#include "protocol/settings_file.h"

#include <QFile>
#include <QTest>

#include <random>

using namespace tavrion;

namespace {

std::vector<std::string> fields_of(std::string_view bytes)
{
    FieldReader r(bytes);
    std::vector<std::string> out;
    std::string f;
    while (r.next(f)) out.push_back(f);
    return out;
}

using Fields = std::vector<std::string>;

} // namespace

class TestSettingsFile : public QObject {
    Q_OBJECT
private slots:
    void field_reader_notation()
    {
        // Separators: comma, CR LF, and lone LF / lone CR alike.
        QCOMPARE(fields_of("a,b\r\nc\nd\re"), (Fields{"a", "b", "c", "d", "e"}));
        // Blanks and tabs before a field are skipped; trailing blanks of an unquoted field dropped.
        QCOMPARE(fields_of(" \t a  ,\tb \r\n"), (Fields{"a", "b"}));
        // Quoted: runs to the next quote, keeps commas and blanks, discards the rest of the line.
        QCOMPARE(fields_of("\" x, y \"junk\r\nz"), (Fields{" x, y ", "z"}));
        QCOMPARE(fields_of("\"a\"junk,b"), (Fields{"a", "b"}));
        // Empty lines and an empty field between a comma and the line end.
        QCOMPARE(fields_of("a\r\n\r\nb"), (Fields{"a", "", "b"}));
        QCOMPARE(fields_of("a,\r\nb"), (Fields{"a", "", "b"}));
        // Nothing but blanks left: no field.
        QCOMPARE(fields_of("  \t"), Fields{});
        QCOMPARE(fields_of(""), Fields{});

        FieldReader r("\"open");
        std::string f;
        QVERIFY(!r.next(f));
        QVERIFY(r.unterminated());
    }

    void settings_round_trip()
    {
        SettingsValues v;
        v.link_interface = 1;
        v.com_port = 7;
        v.advanced_view = false;
        v.address = "   my device 10.0.0.5  ";
        const std::string bytes = write_settings(v);
        QCOMPARE(bytes, std::string("1\r\n7\r\n#FALSE#\r\n\"my device 10.0.0.5\"\r\n"));

        const SettingsRead back = read_settings(bytes);
        QVERIFY2(back.ok, back.error.c_str());
        QCOMPARE(back.values.link_interface, 1);
        QCOMPARE(back.values.com_port, 7);
        QCOMPARE(back.values.advanced_view, false);
        QCOMPARE(back.values.address, std::string("my device 10.0.0.5"));

        v.advanced_view = true;
        v.link_interface = -3; // out of range values are start-up's concern; the file keeps them
        QCOMPARE(read_settings(write_settings(v)).values.link_interface, -3);
        QCOMPARE(read_settings(write_settings(v)).values.advanced_view, true);

        // A quote or line end in the address would make the file unreadable: it is dropped.
        v.address = "a\"b\r\nc";
        const SettingsRead odd = read_settings(write_settings(v));
        QVERIFY(odd.ok);
        QCOMPARE(odd.values.address, std::string("abc"));
        v.address = "x \"";
        QCOMPARE(read_settings(write_settings(v)).values.address, std::string("x"));
    }

    void settings_accepts_other_layouts()
    {
        // Written by hand: one line with commas, LF line ends, blanks before fields, no final line end.
        SettingsRead r = read_settings("0, 3 ,#TRUE#,\"10.1.1.1\"");
        QVERIFY2(r.ok, r.error.c_str());
        QCOMPARE(r.values.com_port, 3);
        QCOMPARE(r.values.address, std::string("10.1.1.1"));

        r = read_settings("1\n2\n#FALSE#\n\n");
        QVERIFY2(r.ok, r.error.c_str());
        QCOMPARE(r.values.address, std::string()); // an empty line reads as an empty text
    }

    void settings_errors_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("empty") << QByteArray("") << "link interface";
        QTest::newRow("three fields") << QByteArray("0\r\n1\r\n#TRUE#\r\n") << "device address";
        QTest::newRow("text for link") << QByteArray("RS232\r\n1\r\n#TRUE#\r\n\"x\"\r\n") << "\"RS232\"";
        QTest::newRow("text for port") << QByteArray("0\r\nCOM3\r\n#TRUE#\r\n\"x\"\r\n") << "line 2";
        QTest::newRow("empty port") << QByteArray("0\r\n\r\n#TRUE#\r\n\"x\"\r\n") << "COM port";
        QTest::newRow("plus sign") << QByteArray("+1\r\n1\r\n#TRUE#\r\n\"x\"\r\n") << "link interface";
        QTest::newRow("decimal point") << QByteArray("0\r\n1.5\r\n#TRUE#\r\n\"x\"\r\n") << "COM port";
        QTest::newRow("overflow") << QByteArray("0\r\n99999\r\n#TRUE#\r\n\"x\"\r\n") << "COM port";
        QTest::newRow("lone minus") << QByteArray("-\r\n1\r\n#TRUE#\r\n\"x\"\r\n") << "link interface";
        QTest::newRow("boolean spelled") << QByteArray("0\r\n1\r\nTrue\r\n\"x\"\r\n") << "#TRUE# or #FALSE#";
        QTest::newRow("boolean case") << QByteArray("0\r\n1\r\n#true#\r\n\"x\"\r\n") << "line 3";
        QTest::newRow("open quote") << QByteArray("0\r\n1\r\n#TRUE#\r\n\"x\r\n") << "closing";
    }
    void settings_errors()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, mentions);
        const SettingsRead r = read_settings(bytes.toStdString());
        QVERIFY(!r.ok);
        QVERIFY2(QString::fromStdString(r.error).contains(mentions), r.error.c_str());
    }

    void resolution_list()
    {
        ResolutionListRead r = read_resolution_list("\"END\"\r\n\"1920x1080@60\"\r\n");
        QVERIFY(r.ok);
        QVERIFY(r.entries.empty());

        // Comma splits, quotes dropped, blank line an empty entry, "end" an ordinary entry,
        // unquoted END ends the list, nothing after it read (not even an open quote).
        r = read_resolution_list("800x600,1024x768\r\n\"1280x720@60\"\r\n\r\nend\r\n\"A, B\"\r\nEND\r\n\"never");
        QVERIFY2(r.ok, r.error.c_str());
        QCOMPARE(r.entries, (Fields{"800x600", "1024x768", "1280x720@60", "", "end", "A, B"}));

        // "END " with a trailing blank is END (unquoted trailing blanks are dropped); quoted " END" is not.
        QVERIFY(read_resolution_list("a\r\nEND \r\n").ok);
        QVERIFY(!read_resolution_list("\" END\"\r\n").ok);

        r = read_resolution_list("\"1024x768\"\r\n\"EnD\"\r\n");
        QVERIFY(!r.ok);
        QVERIFY(r.entries.empty());
        QVERIFY2(QString::fromStdString(r.error).contains("END"), r.error.c_str());

        std::string many;
        for (int i = 0; i < 1000; ++i) many += "x\r\n";
        QVERIFY(!read_resolution_list(many + "END\r\n").ok);
        QVERIFY(read_resolution_list(many.substr(3) + "END\r\n").ok); // 999 entries still fit
    }

    void shipped_files_read()
    {
        QFile ini(QStringLiteral(TAVRION_SOURCE_DIR "/dist/tavrion.ini"));
        QVERIFY(ini.open(QIODevice::ReadOnly));
        const std::string bytes = ini.readAll().toStdString();
        const SettingsRead s = read_settings(bytes);
        QVERIFY2(s.ok, s.error.c_str());
        QCOMPARE(write_settings(s.values), bytes); // in the form the program writes

        QFile list(QStringLiteral(TAVRION_SOURCE_DIR "/dist/output_reso.txt"));
        QVERIFY(list.open(QIODevice::ReadOnly));
        const ResolutionListRead r = read_resolution_list(list.readAll().toStdString());
        QVERIFY2(r.ok, r.error.c_str());
        QVERIFY(!r.entries.empty());
    }

    void hostile_input_is_an_error_not_a_crash()
    {
        std::string huge(kMaxSettingsFileBytes + 1, 'x');
        huge.replace(0, 5, "END\r\n");
        QVERIFY(!read_resolution_list(huge).ok);
        QVERIFY(!read_settings(huge).ok);

        std::string binary;
        for (int i = 0; i < 4096; ++i) binary += char(i * 37 % 256);
        QVERIFY(!read_settings(binary).ok);
        QVERIFY(!read_settings(std::string("\0\0\0\0", 4)).ok);

        // Random bytes from the notation's alphabet: any outcome, but a consistent one.
        std::mt19937 gen(7);
        const char alphabet[] = {'"', ',', '\r', '\n', ' ', '\t', 'E', 'N', 'D', '0', '1', '-', '#', '\0'};
        for (int round = 0; round < 2000; ++round) {
            std::string s;
            const int len = int(gen() % 64);
            for (int i = 0; i < len; ++i) s += alphabet[gen() % sizeof alphabet];
            const SettingsRead a = read_settings(s);
            QCOMPARE(a.ok, a.error.empty());
            if (a.ok) {
                const SettingsRead again = read_settings(write_settings(a.values));
                QVERIFY(again.ok);
                QCOMPARE(again.values.com_port, a.values.com_port);
                QCOMPARE(again.values.advanced_view, a.values.advanced_view);
            }
            const ResolutionListRead b = read_resolution_list(s);
            QVERIFY(b.ok || b.entries.empty());
        }
    }
};

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "test_settings_file.moc"
