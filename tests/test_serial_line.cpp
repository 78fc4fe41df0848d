// The real serial adapter on a pseudo-terminal: what goes out on the line, what comes
// back, and a cable pulled while the port is open.
#include "PtyPair.h"
#include "TestSupport.h"

#include "host/PortDirectory.h"
#include "host/PortDiscovery.h"
#include "host/PortError.h"
#include "host/QtSerialComponent.h"
#include "host/SettingsStore.h"
#include "link/Form1.h"
#include "link/Module1.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {
// Whether a user other than the owner may read the file, entering every folder on its way.
bool othersCanReach(const QString &path) {
    QFileInfo info(path);
    if (!info.exists() || !(info.permissions() & QFileDevice::ReadOther))
        return false;
    for (QDir dir = info.absoluteDir(); !dir.isRoot(); dir.cdUp())
        if (!(QFileInfo(dir.absolutePath()).permissions() & QFileDevice::ExeOther))
            return false;
    return true;
}

// Copies a program into `dir`, with the shared libraries it loads that other users could
// not reach where they are; returns the copy, to be run with LD_LIBRARY_PATH=dir.
QString copyForAnyUser(const QString &program, const QString &dir) {
    QProcess ldd;
    ldd.start(QStringLiteral("ldd"), {program});
    ldd.waitForFinished();
    const QRegularExpression resolved(QStringLiteral("=> (/\\S+) \\("));
    for (const QString &line : QString::fromLocal8Bit(ldd.readAllStandardOutput()).split(u'\n')) {
        const QString library = resolved.match(line).captured(1);
        if (!library.isEmpty() && !othersCanReach(library))
            QFile::copy(library, dir + u'/' + QFileInfo(library).fileName());
    }
    const QString copy = dir + u'/' + QFileInfo(program).fileName();
    QFile::copy(program, copy);
    return copy;
}

// The program on one end of a pseudo-terminal, the test on the other.
struct LineRig {
    PtyPair pty;
    DeviceRig device;
    QtSerialComponent &port = device.port;
    MemorySettingsStore &settings = device.settings;
    std::unique_ptr<Form1> &form = device.form;
    explicit LineRig(const QString &baudRate = QStringLiteral("96")) : device(pty.slavePath(), baudRate) {}
};
} // namespace

class SerialLine : public QObject {
    Q_OBJECT
private slots:
    void portNumbersMapToDevices() {
        MemorySettingsStore settings;
        QCOMPARE(portDeviceName(1, settings), QString("/dev/ttyS0"));
        QCOMPARE(portDeviceName(15, settings), QString("/dev/ttyS14"));
        settings.save(store::application, store::ports, "COM3", " /dev/ttyUSB0 ");
        QCOMPARE(portDeviceName(3, settings), QString("/dev/ttyUSB0"));
        settings.save(store::application, store::ports, "COM4", "socket://127.0.0.1:4001");
        QVERIFY(isSocketDevice(portDeviceName(4, settings)));
    }

    void aPortNoNumberReachesIsOfferedTheFirstFreeNumber() {
        MemorySettingsStore settings;
        settings.save(store::application, store::ports, "COM1", "/dev/ttyUSB0");
        // COM2 would stand for /dev/ttyS1, which is one of the ports found: not free.
        const QList<SerialPortFound> found{{"/dev/ttyS1", {}, {}, {}, {}, {}, {2}},
                                           {"/dev/ttyUSB7", {}, {}, {}, {}, {}, {}}};
        const auto unreached = firstUnreachedPort(found, settings);
        QVERIFY(unreached);
        QCOMPARE(unreached->device, QString("/dev/ttyUSB7"));
        QCOMPARE(unreached->entry, QString("[Ports]\nCOM3=/dev/ttyUSB7"));
        // A stable name is offered in its place, since it survives re-plugging.
        SerialPortFound stable = found[1];
        stable.stableName = "/dev/serial/by-id/usb-adapter-if00-port0";
        QCOMPARE(portsEntryFor(stable, settings, found), QString("[Ports]\nCOM3=/dev/serial/by-id/usb-adapter-if00-port0"));
    }

    void statusQueryGoesOutAndItsAnswerIsShown() {
        LineRig rig;
        QVERIFY(rig.pty.isValid());
        rig.form->Form_Load();
        QVERIFY(rig.port.portOpen());

        Module1::TxCommand = QStringLiteral("CR0\r");
        QVERIFY(rig.form->Hyouji(Module1::TxCommand, 1));
        QCOMPARE(rig.pty.readFromProgram(4), QByteArray("CR0\r"));

        rig.pty.writeToProgram("8");
        QTRY_COMPARE(rig.form->Label12->text(), QString(" 8 "));
        rig.pty.writeToProgram("0\r");
        QTRY_COMPARE(rig.form->Label25->text(), QString(" Stand by"));
        QCOMPARE(rig.form->Label12->text(), QString(" 8 0  [CR] "));
    }

    void everyByteValueCrossesTheLineUnchanged() {
        LineRig rig("192");
        rig.form->Form_Load();
        QVERIFY(rig.port.portOpen());
        QCOMPARE(rig.port.settings(), QString("19200,N,8,1"));
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(static_cast<char>(b));
        rig.pty.writeToProgram(all);
        QTRY_COMPARE(rig.form->RxBuffer.size(), qsizetype(256));
        QCOMPARE(rig.form->RxBuffer.text().toLatin1(), all);

        QString text;
        for (int b = 0; b < 256; ++b)
            text.append(QChar(b));
        QVERIFY(rig.form->Hyouji(text, 1));
        QCOMPARE(rig.pty.readFromProgram(256), all);
    }

    void aSecondOpenOfAHeldPortIsRefusedAsBusy() {
        LineRig rig;
        rig.form->Form_Load();
        QVERIFY(rig.port.portOpen());
        QtSerialComponent second(rig.settings);
        second.setCommPort(1);
        try {
            second.setPortOpen(true);
            QFAIL("a held port opened twice");
        } catch (const PortError &error) {
            QCOMPARE(error.kind(), PortError::Kind::Busy);
        }
        QVERIFY(!second.portOpen());
    }

    void missingDeviceIsNotFound() {
        MemorySettingsStore settings;
        settings.save(store::application, store::ports, "COM2", "/dev/tavo-no-such-device");
        QtSerialComponent port(settings);
        port.setCommPort(2);
        try {
            port.setPortOpen(true);
            QFAIL("a missing device opened");
        } catch (const PortError &error) {
            QCOMPARE(error.kind(), PortError::Kind::NotFound);
            QVERIFY(error.detail().contains("/dev/tavo-no-such-device"));
        }
        QVERIFY_THROWS_EXCEPTION(PortError, port.setOutput("C00\r"));
    }

    // What a user outside the dialout group is told. The tests run as root, so the real
    // adapter runs in a helper as nobody, on a pseudo-terminal only root may open.
    void aDeviceTheUserMayNotOpenIsReportedWithTheGroup() {
        if (::geteuid() != 0)
            QSKIP("needs root, to run the serial adapter as another user");
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            QSKIP("setpriv (util-linux) is missing: cannot run the adapter as another user");
        PtyPair pty;
        QVERIFY(pty.isValid());
        const QByteArray device = QFile::encodeName(pty.slavePath());
        QCOMPARE(::chown(device.constData(), 0, 0), 0);
        QCOMPARE(::chmod(device.constData(), 0600), 0);

        // The build tree may lie where only root can enter (CI clones into a private
        // temporary folder): the helper runs from a copy in a fresh folder anyone may enter,
        // under /tmp rather than $TMPDIR for the same reason.
        QTemporaryDir dir(QStringLiteral("/tmp/tavo-probe-XXXXXX"));
        QVERIFY(dir.isValid());
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                      QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                      QFileDevice::ExeOther | QFileDevice::ReadGroup |
                                                      QFileDevice::ExeGroup));
        const QString probe = copyForAnyUser(QStringLiteral(TAVO_OPEN_PORT_PROBE), dir.path());
        QVERIFY(othersCanReach(probe));

        QProcess run;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LD_LIBRARY_PATH"), dir.path());
        run.setProcessEnvironment(environment);
        run.start(setpriv, QStringList{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                                       QStringLiteral("--clear-groups")} +
                               emulator() + QStringList{probe, pty.slavePath()});
        QVERIFY(run.waitForFinished(10000));
        const QString told = QString::fromLocal8Bit(run.readAllStandardOutput() + run.readAllStandardError());
        QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 1, qPrintable(told));
        QVERIFY2(told.startsWith(pty.slavePath() + QLatin1String(": permission denied: it belongs to ")), qPrintable(told));
        QVERIFY2(told.contains(QLatin1String("membership of the dialout group")), qPrintable(told));
    }

    void pulledCableClosesThePortOnceAndSendsStopQuietly() {
        LineRig rig;
        rig.form->Form_Load();
        QVERIFY(rig.port.portOpen());
        QSignalSpy lost(&rig.port, &SerialComponent::portLost);
        rig.pty.closeMaster();
        QTRY_VERIFY(!rig.port.portOpen());
        QTest::qWait(50); // a storm of errors would show up as more signals here
        QCOMPARE(lost.count(), 1);
        QVERIFY(!rig.form->portNotice->isHidden());

        Module1::TxCommand = QStringLiteral("C00\r");
        QVERIFY(!rig.form->Hyouji(Module1::TxCommand, 1));
        QVERIFY(rig.form->portNotice->text().startsWith("Not sent:"));
    }

    void serialDeviceServerOverTcpWorksLikeACable() {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        DeviceRig rig(QStringLiteral("socket://127.0.0.1:%1").arg(server.serverPort()));
        QtSerialComponent &port = rig.port;
        Form1 &form = *rig.form;
        form.Form_Load();
        QVERIFY(port.portOpen());
        QTRY_VERIFY(server.hasPendingConnections());
        QTcpSocket *projector = server.nextPendingConnection();

        Module1::TxCommand = QStringLiteral("CR1\r");
        QVERIFY(form.Hyouji(Module1::TxCommand, 1));
        QTRY_COMPARE(projector->bytesAvailable(), qint64(4));
        QCOMPARE(projector->readAll(), QByteArray("CR1\r"));
        projector->write("4\r");
        QTRY_COMPARE(form.Label25->text(), QString(" Wired"));

        QSignalSpy lost(&port, &SerialComponent::portLost);
        projector->disconnectFromHost();
        QTRY_VERIFY(!port.portOpen());
        QTest::qWait(20);
        QCOMPARE(lost.count(), 1);
        QVERIFY(!form.portNotice->isHidden());
    }

    void refusedConnectionIsAPortThatCannotBeOpened() {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        const quint16 unused = server.serverPort();
        server.close();
        MemorySettingsStore settings;
        settings.save(store::application, store::ports, "COM2", QStringLiteral("socket://127.0.0.1:%1").arg(unused));
        QtSerialComponent port(settings);
        port.setCommPort(2);
        QVERIFY_THROWS_EXCEPTION(PortError, port.setPortOpen(true));
        QVERIFY(!port.portOpen());
    }

    void aWriteTheDriverFailsLaterIsReportedNotPassedOff() {
        LineRig rig;
        rig.form->Form_Load();
        QVERIFY(rig.port.portOpen());
        Module1::TxCommand = QStringLiteral("C00\r");
        QVERIFY(rig.form->Hyouji(Module1::TxCommand, 1));
        QVERIFY(rig.form->portNotice->isHidden());
        // Qt reports a write that fails once the bytes reach the driver as WriteError,
        // after setOutput() has accepted them.
        auto *serial = rig.port.findChild<QSerialPort *>();
        QVERIFY(serial);
        QMetaObject::invokeMethod(serial, "errorOccurred", Q_ARG(QSerialPort::SerialPortError, QSerialPort::WriteError));
        QVERIFY(!rig.form->portNotice->isHidden());
        QVERIFY2(rig.form->portNotice->text().startsWith("Not sent: "), qPrintable(rig.form->portNotice->text()));
        QVERIFY(rig.port.portOpen()); // the port stays; the next command may well go out
    }
};

QTEST_MAIN(SerialLine)
#include "test_serial_line.moc"
