// The fuzz targets' seed corpus, replayed through the targets' own entry functions on every build,
// so a seed that crashes or breaks a property fails the suite even where nobody fuzzes.
#include "fuzz/fuzz_entries.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <functional>

using Entry = std::function<int(const std::uint8_t*, std::size_t)>;

class TestFuzzCorpus : public QObject {
    Q_OBJECT

    // Every file of fuzz/corpus/<target>; the folder must not be empty.
    static void replay(const QString& target, const Entry& entry)
    {
        const QDir dir(QStringLiteral(TAVRION_SOURCE_DIR "/fuzz/corpus/") + target);
        const QStringList files = dir.entryList(QDir::Files, QDir::Name);
        QVERIFY2(!files.isEmpty(), qPrintable(dir.path() + QStringLiteral(" has no seeds")));
        for (const QString& name : files) {
            QFile f(dir.filePath(name));
            QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(f.fileName()));
            const QByteArray bytes = f.readAll();
            qInfo("%s/%s (%lld bytes)", qPrintable(target), qPrintable(name), qlonglong(bytes.size()));
            QCOMPARE(entry(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())), 0);
        }
    }

private slots:
    void initTestCase() { tavrion::fuzz::receivers_init(); }
    void protocol() { replay(QStringLiteral("protocol"), tavrion::fuzz::protocol_one); }
    void files() { replay(QStringLiteral("files"), tavrion::fuzz::files_one); }
    void sim_parser() { replay(QStringLiteral("sim_parser"), tavrion::fuzz::sim_parser_one); }
    void receivers() { replay(QStringLiteral("receivers"), tavrion::fuzz::receivers_one); }
    void http() { replay(QStringLiteral("http"), tavrion::fuzz::http_one); }

    // Inputs no seed covers: empty, one byte, and every operation byte with nothing after it.
    void degenerate_inputs()
    {
        const std::uint8_t none = 0;
        for (const Entry& e : {Entry(tavrion::fuzz::protocol_one), Entry(tavrion::fuzz::files_one),
                               Entry(tavrion::fuzz::sim_parser_one), Entry(tavrion::fuzz::receivers_one),
                               Entry(tavrion::fuzz::http_one)}) {
            QCOMPARE(e(&none, 0), 0);
            QCOMPARE(e(&none, 1), 0);
        }
        for (int op = 0x80; op <= 0xFF; op += 3) {
            const std::uint8_t in[] = {std::uint8_t(op & 1), std::uint8_t(op)};
            QCOMPARE(tavrion::fuzz::receivers_one(in, sizeof in), 0);
        }
    }
};

QTEST_MAIN(TestFuzzCorpus)
#include "test_fuzz_corpus.moc"
