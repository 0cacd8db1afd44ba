// The picture parameter on its own: row/value to parameter and back, per layout.
#include "protocol/picture_codec.h"

#include <QTest>

using namespace tavrion;

class TestPictureCodec : public QObject {
    Q_OBJECT
private slots:
    void encodes_per_layout()
    {
        QCOMPARE(encode_picture_parameter(1, 1, 0), 0);
        QCOMPARE(encode_picture_parameter(1, 1, 57), 57);
        QCOMPARE(encode_picture_parameter(3, 3, 45), 445);  // contrast row 3 in TV Wall: CON445
        QCOMPARE(encode_picture_parameter(2, 4, 100), 700); // hue row 4 in Dual: HUE700
        QCOMPARE(encode_picture_parameter(2, 1, 100), 100);
        QCOMPARE(encode_picture_parameter(2, 2, 0), 200);
        // Nothing the window has: no parameter, so nothing is sent.
        QCOMPARE(encode_picture_parameter(0, 1, 5), -1);
        QCOMPARE(encode_picture_parameter(9, 1, 5), -1);
        QCOMPARE(encode_picture_parameter(2, 5, 5), -1);
        QCOMPARE(encode_picture_parameter(2, 0, 5), -1);
        QCOMPARE(encode_picture_parameter(1, 1, 101), -1);
        QCOMPARE(encode_picture_parameter(1, 1, -1), -1);
    }

    void decodes_rows_and_values()
    {
        auto is = [](std::optional<PictureTarget> t, int row, int value) {
            return t && t->row == row && t->value == value;
        };
        QVERIFY(is(decode_picture_parameter(1, 50), 1, 50));
        QVERIFY(is(decode_picture_parameter(1, 0), 1, 0));
        QVERIFY(is(decode_picture_parameter(1, 100), 1, 100));
        QVERIFY(is(decode_picture_parameter(2, 437), 3, 37)); // SAT437 in Dual: row "BL", 37
        QVERIFY(is(decode_picture_parameter(3, 200), 2, 0));
        QVERIFY(is(decode_picture_parameter(3, 700), 4, 100));
        QVERIFY(is(decode_picture_parameter(2, 100), 1, 100));
    }

    void rejects_what_names_nothing()
    {
        QVERIFY(!decode_picture_parameter(1, 101));  // above the slider's range
        QVERIFY(!decode_picture_parameter(1, 999));
        QVERIFY(!decode_picture_parameter(1, 437));  // row-coded, but Matrix has one row
        QVERIFY(!decode_picture_parameter(2, 950));  // BRI950 in Dual: row 5
        QVERIFY(!decode_picture_parameter(2, 800));
        QVERIFY(!decode_picture_parameter(2, 101));  // value part above 100
        QVERIFY(!decode_picture_parameter(3, 199));
        QVERIFY(!decode_picture_parameter(3, 799));
        QVERIFY(!decode_picture_parameter(2, -1));   // not a number
        QVERIFY(!decode_picture_parameter(1, -1));
        QVERIFY(!decode_picture_parameter(0, 50));   // no layout known
        QVERIFY(!decode_picture_parameter(4, 50));
    }

    void round_trips_every_position()
    {
        for (int mode : {2, 3})
            for (int row = 1; row <= 4; ++row)
                for (int v = 0; v <= 100; ++v) {
                    const auto t = decode_picture_parameter(mode, encode_picture_parameter(mode, row, v));
                    QVERIFY(t && t->row == row && t->value == v);
                }
    }

    void query_parameters()
    {
        QCOMPARE(picture_query_parameter(1, 1), 999);
        QCOMPARE(picture_query_parameter(2, 1), 991);
        QCOMPARE(picture_query_parameter(3, 4), 994);
        QCOMPARE(picture_query_parameter(2, 5), -1);
        QCOMPARE(picture_query_parameter(7, 1), -1);
    }
};

QTEST_APPLESS_MAIN(TestPictureCodec)
#include "test_picture_codec.moc"
