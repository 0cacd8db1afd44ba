#include "session/serial_port.h"

#include <QFileInfo>
#include <QSerialPort>

namespace tavrion {

namespace {
// Bounds what one read may take from the driver, so a flood of bytes never grows memory.
constexpr qint64 kReadBufferSize = 4096;
} // namespace

QString serial_device_path(const QString& program_dir, int port)
{
#ifdef Q_OS_WIN
    Q_UNUSED(program_dir);
    return QStringLiteral("COM%1").arg(port);
#else
    const QString link = program_dir + QStringLiteral("/serial/COM%1").arg(port);
    // A link whose device has gone (a pulled adapter) still names this port: opening it then
    // fails and says so, rather than quietly opening another device in its place.
    const QFileInfo info(link);
    if (info.exists() || info.isSymLink()) return link;
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}

QtSerialPort::QtSerialPort(const QString& program_dir, QObject* parent)
    : SerialPort(parent), program_dir_(program_dir), port_(new QSerialPort(this))
{
    port_->setReadBufferSize(kReadBufferSize);
    connect(port_, &QSerialPort::readyRead, this, &SerialPort::ready_read);
    connect(port_, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        // A pulled adapter reports a resource error; a hung-up line (the far end of a
        // pseudo-terminal closed) reports read errors on every pass of the event loop until the
        // port is closed. Either way the device is gone. The news is posted rather than sent,
        // so whoever closes the port does not do it inside QSerialPort's own read handling.
        if ((e == QSerialPort::ResourceError || e == QSerialPort::ReadError) && port_->isOpen())
            QMetaObject::invokeMethod(this, [this] {
                if (port_->isOpen()) emit device_lost();
            }, Qt::QueuedConnection);
    });
}

QtSerialPort::~QtSerialPort() = default;

bool QtSerialPort::open(int port)
{
    if (port_->isOpen()) port_->close();
    opened_path_ = device_path_.isEmpty() ? serial_device_path(program_dir_, port) : device_path_;
    error_text_.clear();
    port_->setPortName(opened_path_);
    if (!port_->open(QIODevice::ReadWrite)) {
        error_text_ = port_->errorString();
        return false;
    }
    const bool ok = port_->setBaudRate(115200) && port_->setParity(QSerialPort::NoParity)
        && port_->setDataBits(QSerialPort::Data8) && port_->setStopBits(QSerialPort::OneStop)
        && port_->setFlowControl(QSerialPort::NoFlowControl);
    if (!ok) {
        error_text_ = port_->errorString();
        port_->close();
        return false;
    }
    return true;
}

void QtSerialPort::close()
{
    if (port_->isOpen()) port_->close();
}

bool QtSerialPort::is_open() const { return port_->isOpen(); }

qint64 QtSerialPort::in_buffer_count() { return port_->isOpen() ? port_->bytesAvailable() : 0; }

void QtSerialPort::discard_input()
{
    if (!port_->isOpen()) return;
    port_->clear(QSerialPort::Input);
    port_->readAll();
}

qint64 QtSerialPort::out_buffer_count()
{
    if (!port_->isOpen()) return 0;
    // Blocks briefly in the driver instead of spinning; the caller bounds the total wait.
    if (port_->bytesToWrite() > 0) port_->waitForBytesWritten(10);
    return port_->bytesToWrite();
}

void QtSerialPort::discard_output()
{
    if (port_->isOpen()) port_->clear(QSerialPort::Output);
}

QByteArray QtSerialPort::input() { return port_->isOpen() ? port_->readAll() : QByteArray(); }

void QtSerialPort::output(const QByteArray& bytes)
{
    if (!port_->isOpen()) return;
    port_->write(bytes);
    port_->flush();
}

} // namespace tavrion
