// The serial component as the panel uses it: open a COM port at 115200,N,8,1, count, take and
// discard received bytes, and transmit. QtSerialPort is the real one; tests put a fake in its place.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSerialPort;

namespace tavrion {

class SerialPort : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SerialPort() override = default;

    // Opens COM `port` (1..9) with 115200 baud, no parity, 8 data bits, 1 stop bit.
    // False when the port cannot be opened; the port is then closed.
    virtual bool open(int port) = 0;
    virtual void close() = 0;
    virtual bool is_open() const = 0;

    virtual qint64 in_buffer_count() = 0;  // received bytes waiting
    virtual void discard_input() = 0;
    virtual qint64 out_buffer_count() = 0; // bytes not yet transmitted
    virtual void discard_output() = 0;
    virtual QByteArray input() = 0;        // takes every waiting byte
    virtual void output(const QByteArray& bytes) = 0;

signals:
    void ready_read();   // bytes have arrived
    void device_lost();  // the open device went away (adapter pulled, line hung up)
};

// Where COM n lives on this machine: "COMn" on Windows; elsewhere <program folder>/serial/COMn
// when that path exists or is a link, even one whose device has gone (a link to a USB adapter or a
// simulator's pseudo-terminal), else /dev/ttyS<n-1>.
QString serial_device_path(const QString& program_dir, int port);

class QtSerialPort : public SerialPort {
    Q_OBJECT
public:
    explicit QtSerialPort(const QString& program_dir, QObject* parent = nullptr);
    ~QtSerialPort() override;

    bool open(int port) override;
    void close() override;
    bool is_open() const override;
    qint64 in_buffer_count() override;
    void discard_input() override;
    qint64 out_buffer_count() override;
    void discard_output() override;
    QByteArray input() override;
    void output(const QByteArray& bytes) override;

    // tavrion-ctl --serial PATH: every open() opens this device instead of COM n's. The panel
    // never sets it.
    void set_device_path(const QString& path) { device_path_ = path; }
    // The device the last open() tried and why it failed ("" after a success), for messages.
    QString opened_path() const { return opened_path_; }
    QString error_text() const { return error_text_; }

private:
    QString program_dir_;
    QString device_path_;
    QString opened_path_;
    QString error_text_;
    QSerialPort* port_;
};

} // namespace tavrion
