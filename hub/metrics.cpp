// The metrics page's text, and the process's own figures read from /proc/self.
#include "hub/metrics.h"

#include <QDir>
#include <QFile>

#include <ctime>
#include <unistd.h>

namespace tavrion::hub {

namespace {

const char* const kLinkStates[] = {"connecting", "up", "silent", "down"};

// A label value: backslash, quote and line feed escaped, as the format asks.
QByteArray label(const QString& value)
{
    QByteArray out;
    for (const char c : value.toUtf8()) {
        if (c == '\\') out += "\\\\";
        else if (c == '"') out += "\\\"";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

QByteArray number(double v) { return QByteArray::number(v, 'g', 15); }

class Writer {
public:
    void family(const char* name, const char* type, const char* help)
    {
        text_ += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
    void sample(const QByteArray& name_and_labels, double value) { text_ += name_and_labels + ' ' + number(value) + '\n'; }
    QByteArray take() { return std::move(text_); }

private:
    QByteArray text_;
};

QByteArray unit_label(const UnitFigures& u) { return "unit=\"" + label(u.id) + '"'; }

} // namespace

ProcessFigures process_figures()
{
    ProcessFigures p;
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (stat.open(QIODevice::ReadOnly)) {
        // The fields after the program's name, which may hold spaces and ends at the last ')'.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
        // Counted from the state (field 3 of proc(5)): utime 14, stime 15, starttime 22, rss 24.
        if (f.size() > 21) {
            const double ticks = double(::sysconf(_SC_CLK_TCK));
            p.cpu_seconds = (f[11].toDouble() + f[12].toDouble()) / ticks;
            p.resident_bytes = f[21].toDouble() * double(::sysconf(_SC_PAGESIZE));
            // The start is in ticks since boot; boot is now less the time since boot, which needs
            // no /proc/stat (a service with ProcSubset=pid cannot read it).
            timespec real{}, boot{};
            ::clock_gettime(CLOCK_REALTIME, &real);
            ::clock_gettime(CLOCK_BOOTTIME, &boot);
            const double booted = (real.tv_sec - boot.tv_sec) + (real.tv_nsec - boot.tv_nsec) / 1e9;
            p.start_time = booted + f[19].toDouble() / ticks;
        }
    }
    p.open_fds = double(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
    return p;
}

QByteArray metrics_text(const std::vector<UnitFigures>& units, const HttpFigures& http,
                        std::optional<bool> mqtt_connected, const ProcessFigures& process)
{
    Writer w;
    w.family("tavrion_unit_link_state", "gauge", "1 for the unit's link state (connecting, up, silent, down), 0 for the others.");
    for (const UnitFigures& u : units)
        for (const char* state : kLinkStates)
            w.sample("tavrion_unit_link_state{" + unit_label(u) + ",state=\"" + state + "\"}", u.link_state == QLatin1String(state));
    w.family("tavrion_unit_answering", "gauge", "1 while the unit's link is up and its last exchange was answered.");
    for (const UnitFigures& u : units) w.sample("tavrion_unit_answering{" + unit_label(u) + '}', u.link_state == QLatin1String("up"));
    w.family("tavrion_unit_last_full_read_timestamp_seconds", "gauge",
             "When the unit's whole state was last read through (0: not yet).");
    for (const UnitFigures& u : units)
        w.sample("tavrion_unit_last_full_read_timestamp_seconds{" + unit_label(u) + '}', double(u.stats->last_full_read_ms.load()) / 1000);
    w.family("tavrion_unit_exchanges_total", "counter", "The hub's own exchanges with the unit, by how they ended.");
    for (const UnitFigures& u : units)
        for (std::size_t o = 0; o < kOutcomeNames.size(); ++o)
            w.sample("tavrion_unit_exchanges_total{" + unit_label(u) + ",outcome=\"" + kOutcomeNames[o] + "\"}",
                     double(u.stats->exchanges[o].load()));
    w.family("tavrion_unit_exchange_duration_seconds", "histogram", "How long the hub's exchanges with the unit took.");
    for (const UnitFigures& u : units) {
        const QByteArray name = "tavrion_unit_exchange_duration_seconds";
        quint64 count = 0;
        for (std::size_t b = 0; b < kExchangeBuckets.size(); ++b) {
            count += u.stats->buckets[b].load();
            w.sample(name + "_bucket{" + unit_label(u) + ",le=\"" + number(kExchangeBuckets[b]) + "\"}", double(count));
        }
        count += u.stats->buckets[kExchangeBuckets.size()].load();
        w.sample(name + "_bucket{" + unit_label(u) + ",le=\"+Inf\"}", double(count));
        w.sample(name + "_sum{" + unit_label(u) + '}', double(u.stats->time_sum_us.load()) / 1e6);
        w.sample(name + "_count{" + unit_label(u) + '}', double(count));
    }
    w.family("tavrion_unit_protocol_clients", "gauge", "Clients connected to the unit's device-protocol port.");
    for (const UnitFigures& u : units) w.sample("tavrion_unit_protocol_clients{" + unit_label(u) + '}', u.stats->protocol_clients.load());

    w.family("tavrion_http_requests_total", "counter", "Requests the hub answered, by HTTP status (event streams as 200).");
    for (const auto& [status, n] : http.answers) w.sample("tavrion_http_requests_total{code=\"" + QByteArray::number(status) + "\"}", double(n));
    w.family("tavrion_http_open_connections", "gauge", "Client connections open to the web port.");
    w.sample("tavrion_http_open_connections", http.open_connections);
    w.family("tavrion_http_event_streams", "gauge", "Event streams open to clients.");
    w.sample("tavrion_http_event_streams", http.event_streams);
    if (mqtt_connected) {
        w.family("tavrion_mqtt_connected", "gauge", "1 while the hub is connected to its MQTT broker.");
        w.sample("tavrion_mqtt_connected", *mqtt_connected);
    }

    w.family("process_resident_memory_bytes", "gauge", "Resident memory size in bytes.");
    w.sample("process_resident_memory_bytes", process.resident_bytes);
    w.family("process_cpu_seconds_total", "counter", "Total user and system CPU time spent in seconds.");
    w.sample("process_cpu_seconds_total", process.cpu_seconds);
    w.family("process_open_fds", "gauge", "Number of open file descriptors.");
    w.sample("process_open_fds", process.open_fds);
    w.family("process_start_time_seconds", "gauge", "Start time of the process since unix epoch in seconds.");
    w.sample("process_start_time_seconds", process.start_time);
    return w.take();
}

} // namespace tavrion::hub
