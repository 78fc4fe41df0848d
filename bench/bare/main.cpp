// tavo-bench-bare-status: the least a Qt program does to ask a projector for its status:
// open the serial device with QSerialPort, write "CR0\r", read up to the carriage return,
// print the reply on a line of its own and exit. The bench starts it beside tavo-send to
// see what tavo-send's start-up costs on top of that. Qt Core and Serial Port only.
//
//   tavo-bench-bare-status DEVICE

#include <QCoreApplication>
#include <QSerialPort>

#include <cstdio>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: tavo-bench-bare-status DEVICE\n");
        return 64;
    }
    QSerialPort port(QString::fromLocal8Bit(argv[1]));
    port.setBaudRate(9600);
    port.setParity(QSerialPort::NoParity);
    port.setDataBits(QSerialPort::Data8);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], qPrintable(port.errorString()));
        return 2;
    }
    port.write("CR0\r");
    port.flush();
    QByteArray reply;
    while (!reply.contains('\r') && port.waitForReadyRead(1000))
        reply += port.readAll();
    if (!reply.contains('\r'))
        return 1;
    reply.truncate(reply.indexOf('\r'));
    reply += '\n';
    std::fwrite(reply.constData(), 1, size_t(reply.size()), stdout);
    std::fflush(stdout);
    return 0;
}
