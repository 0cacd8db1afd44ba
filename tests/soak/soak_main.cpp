// tavrion_soak: the long soak (tools/soak.sh). The panel against the simulated device over the
// serial line and TCP, with seeded random faults on the replies; prints progress, resident memory
// at intervals and the counts, and exits non-zero when a check failed.
//
//   tavrion_soak [--commands N] [--seed S] [--links serial,tcp] [--fault-share F]
//                [--slow-share F] [--report-every N] [--max-growth-mb M] [--pixmap-cache-kb K]
//                [--transcript PATH]
#include "soak/soak_engine.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPixmapCache>
#include <QTextStream>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral("Soak the panel against the simulated device."));
    cli.addHelpOption();
    const QCommandLineOption commands(QStringLiteral("commands"), QStringLiteral("Commands on the wire, in all (split among the links)."), QStringLiteral("N"), QStringLiteral("10000"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("Seed of the random faults and commands."), QStringLiteral("S"), QStringLiteral("1"));
    const QCommandLineOption links(QStringLiteral("links"), QStringLiteral("serial, tcp or serial,tcp."), QStringLiteral("LIST"), QStringLiteral("serial,tcp"));
    const QCommandLineOption fault_share(QStringLiteral("fault-share"), QStringLiteral("Share of replies with a quick fault."), QStringLiteral("F"), QStringLiteral("0.30"));
    const QCommandLineOption slow_share(QStringLiteral("slow-share"), QStringLiteral("Share of replies silent, junk or too late."), QStringLiteral("F"), QStringLiteral("0.02"));
    const QCommandLineOption report_every(QStringLiteral("report-every"), QStringLiteral("Commands between memory lines."), QStringLiteral("N"), QStringLiteral("1000"));
    const QCommandLineOption max_growth(QStringLiteral("max-growth-mb"), QStringLiteral("Allowed growth of the resident set after warm-up."), QStringLiteral("M"), QStringLiteral("2"));
    // The style keeps drawn controls in Qt's pixmap cache, which fills up to its limit (10 MB by
    // default) over a few thousand commands and then stays; a small limit keeps it from hiding
    // the panel's own allocations in the memory figures. 0 keeps Qt's default.
    const QCommandLineOption pixmap_cache(QStringLiteral("pixmap-cache-kb"), QStringLiteral("Limit of Qt's pixmap cache (the style's drawn controls); 0 = Qt's default."), QStringLiteral("KB"), QStringLiteral("1024"));
    const QCommandLineOption transcript(QStringLiteral("transcript"), QStringLiteral("Simulator transcript, PATH.<link>."), QStringLiteral("PATH"));
    cli.addOptions({commands, seed, links, fault_share, slow_share, report_every, max_growth, pixmap_cache, transcript});
    cli.process(app);

    if (cli.value(pixmap_cache).toInt() > 0) QPixmapCache::setCacheLimit(cli.value(pixmap_cache).toInt());
    QTextStream out(stdout);
    tavrion::soak::Options o;
    o.links.clear();
    for (const QString& l : cli.value(links).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (l == QLatin1String("serial")) o.links << tavrion::soak::Link::Serial;
        else if (l == QLatin1String("tcp")) o.links << tavrion::soak::Link::Tcp;
        else {
            std::fprintf(stderr, "tavrion_soak: unknown link '%s'\n", qPrintable(l));
            return 2;
        }
    }
    if (o.links.isEmpty()) return 2;
    o.commands = (cli.value(commands).toInt() + int(o.links.size()) - 1) / int(o.links.size());
    o.seed = cli.value(seed).toUInt();
    o.fault_share = cli.value(fault_share).toDouble();
    o.slow_share = cli.value(slow_share).toDouble();
    o.report_every = std::max(1, cli.value(report_every).toInt());
    o.warmup = std::max(300, o.commands / 10);
    o.transcript = cli.value(transcript);
    o.print = [&out](const QString& line) { out << line << Qt::endl; };
    const double allowed_mb = cli.value(max_growth).toDouble();

    out << "tavrion_soak: seed " << o.seed << ", " << o.commands << " commands per link, quick faults "
        << o.fault_share << ", slow faults " << o.slow_share << Qt::endl;
    const QList<tavrion::soak::LinkReport> reports = tavrion::soak::run(o);

    int failures = 0;
    int total = 0;
    for (const auto& r : reports) {
        total += r.commands;
        for (const QString& p : r.problems) out << r.link << " problem: " << p << Qt::endl;
        const double growth = double(r.rss_end - r.rss_warm) / (1024.0 * 1024.0);
        const bool ok = r.problems.isEmpty() && r.commands >= o.commands && growth <= allowed_mb;
        if (growth > allowed_mb)
            out << r.link << ": resident memory grew by " << growth << " MB after warm-up (allowed " << allowed_mb << ")" << Qt::endl;
        if (!ok) ++failures;
    }
    out << (failures ? "SOAK FAILED" : "SOAK PASSED") << ": " << total << " commands" << Qt::endl;
    return failures ? 1 : 0;
}
