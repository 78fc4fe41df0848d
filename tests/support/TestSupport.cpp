#include "TestSupport.h"

#include <QFile>
#include <QTcpServer>

#include "link/Module1.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

PanelRig::PanelRig() {
    Module1::reset();
    form = std::make_unique<Form1>(port, settings);
    form->endProgram = [this] { ++endCalls; };
}

PanelRig::~PanelRig() {
    form.reset();
    Module1::reset();
}

void PanelRig::store(const QString &comPort, const QString &baudRate) {
    if (!comPort.isNull())
        settings.save(store::application, store::startUp, store::comPortKey, comPort);
    if (!baudRate.isNull())
        settings.save(store::application, store::startUp, store::baudRateKey, baudRate);
}

void PanelRig::startWithPort(int portNumber, int baudCode) {
    store(QString::number(portNumber), QString::number(baudCode));
    form->Form_Load();
}

bool showPanel(PanelRig &rig) {
    rig.form->show();
    rig.form->activateWindow();
    return QTest::qWaitForWindowExposed(rig.form.get()) && QTest::qWaitForWindowActive(rig.form.get());
}

QPushButton *buttonNamed(PanelRig &rig, const QString &name) { return rig.form->findChild<QPushButton *>(name); }

DeviceRig::DeviceRig(const QString &device, const QString &baudRate) {
    Module1::reset();
    settings.save(store::application, store::ports, QStringLiteral("COM1"), device);
    settings.save(store::application, store::startUp, store::comPortKey, QStringLiteral("1"));
    settings.save(store::application, store::startUp, store::baudRateKey, baudRate);
    form = std::make_unique<Form1>(port, settings);
    form->endProgram = [] {};
}

DeviceRig::~DeviceRig() {
    form.reset();
    Module1::reset();
}

QPushButton *DeviceRig::button(const char *control) const {
    return form->findChild<QPushButton *>(QLatin1String(control));
}

void DeviceRig::click(const char *control) const {
    QPushButton *target = button(control);
    if (!target)
        QFAIL(control);
    else
        QTest::mouseClick(target, Qt::LeftButton);
}

struct MessageBoxCloser::Impl {
    QTimer poll;
};

MessageBoxCloser::MessageBoxCloser() : d(std::make_unique<Impl>()) {
    d->poll.setInterval(5);
    QObject::connect(&d->poll, &QTimer::timeout, [this] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            if (box && box->isVisible()) {
                texts << box->text();
                informative << box->informativeText();
                details << box->detailedText();
                box->button(QMessageBox::Ok)->click();
            }
        }
    });
    d->poll.start();
}

MessageBoxCloser::~MessageBoxCloser() = default;

QString visible(const QByteArray &bytes) {
    QString out;
    for (const char c : bytes) {
        if (c == '\r')
            out += QLatin1String("\\r");
        else if (c == '\n')
            out += QLatin1String("\\n");
        else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f)
            out += QStringLiteral("\\x%1").arg(static_cast<unsigned char>(c), 2, 16, QLatin1Char('0'));
        else
            out += QLatin1Char(c);
    }
    return out;
}

QByteArray fileContents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

quint16 freeLoopbackPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QStringList emulator() { return QProcess::splitCommand(qEnvironmentVariable("TAVO_EMULATOR")); }

QStringList builtCommand(const char *variable) { return emulator() << qEnvironmentVariable(variable); }

void startBuilt(QProcess &process, const char *variable, const QStringList &arguments, QIODevice::OpenMode mode) {
    QStringList command = builtCommand(variable);
    const QString program = command.takeFirst();
    process.start(program, command + arguments, mode);
}

namespace {
LogCapture *innermostCapture = nullptr;
QtMessageHandler firstHandler = nullptr;
} // namespace

LogCapture::LogCapture(QStringList &lines) : m_lines(lines), m_outer(innermostCapture) {
    innermostCapture = this;
    m_before = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &text) {
        if (!context.category || !QByteArrayView(context.category).startsWith("tavo.")) {
            if (firstHandler)
                firstHandler(type, context, text);
            return;
        }
        for (LogCapture *capture = innermostCapture; capture; capture = capture->m_outer)
            capture->m_lines << text;
    });
    if (!m_outer)
        firstHandler = m_before;
}

LogCapture::~LogCapture() {
    innermostCapture = m_outer;
    qInstallMessageHandler(m_before);
}
