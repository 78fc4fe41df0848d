// The settings file on disk: what a later run reads back, and damaged or unwritable files.
#include "host/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

class SettingsFile : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString configDir(const QString &name) const { return m_dir.filePath(name); }
    // QSettings takes its per-user folder from here; each case gets a folder of its own.
    void useConfigDir(const QString &dir) {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir);
    }

private slots:
    void savedChoiceIsReadBackAsWritten() {
        const QString dir = configDir("plain");
        QDir().mkpath(dir);
        useConfigDir(dir);
        QtSettingsStore store;
        QCOMPARE(store.read("TAVO", "StartUP", "ComPort", "DATAC"), QString("DATAC"));
        store.save("TAVO", "StartUP", "ComPort", "12");
        store.save("TAVO", "StartUP", "BaudRate", "192");
        QtSettingsStore later;
        QCOMPARE(later.read("TAVO", "StartUP", "ComPort", "DATAC"), QString("12"));
        QCOMPARE(later.read("TAVO", "StartUP", "BaudRate", "DATAb"), QString("192"));

        QFile file(dir + "/TAVO.conf");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.contains("[StartUP]"));
        QVERIFY(text.contains("ComPort=12"));
        QVERIFY(text.contains("BaudRate=192"));
    }

    void handWrittenFileWithAPortMap() {
        const QString dir = configDir("by-hand");
        QDir().mkpath(dir);
        QFile file(dir + "/TAVO.conf");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[StartUP]\nComPort=3\nBaudRate=96\n\n[Ports]\nCOM3=/dev/ttyUSB0\n");
        file.close();
        useConfigDir(dir);
        QtSettingsStore store;
        QCOMPARE(store.read("TAVO", "StartUP", "ComPort", "DATAC"), QString("3"));
        QCOMPARE(store.read("TAVO", "Ports", "COM3", QString()), QString("/dev/ttyUSB0"));
    }

    void damagedFileReadsAsNothingStored() {
        const QString dir = configDir("damaged");
        QDir().mkpath(dir);
        QFile file(dir + "/TAVO.conf");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("\x00\xff[StartUP\nComPort\x00=3\n\xfe\xfe", 24));
        file.close();
        useConfigDir(dir);
        QtSettingsStore store;
        QCOMPARE(store.read("TAVO", "StartUP", "ComPort", "DATAC"), QString("DATAC"));
    }

    void unreadableFileReadsAsNothingStored() {
        const QString dir = configDir("unreadable");
        QDir().mkpath(dir + "/TAVO.conf"); // a folder where the file should be
        useConfigDir(dir);
        QtSettingsStore store;
        QCOMPARE(store.read("TAVO", "StartUP", "ComPort", "DATAC"), QString("DATAC"));
    }

    void unwritablePlaceMakesTheSaveFailLoudly() {
        const QString blocker = configDir("blocker");
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly)); // a file where the folder should be
        file.close();
        useConfigDir(blocker);
        QtSettingsStore store;
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, store.save("TAVO", "StartUP", "ComPort", "3"));
    }
};

QTEST_APPLESS_MAIN(SettingsFile)
#include "test_settings_file.moc"
