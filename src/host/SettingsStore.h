#pragma once

#include <QHash>
#include <QString>
#include <memory>

// The per-user settings store: text values addressed by application, section and key.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The stored text, or defaultText when the key is absent or cannot be read.
    virtual QString read(const QString &application, const QString &section, const QString &key,
                         const QString &defaultText) const = 0;
    // Stores the text; throws std::runtime_error when it cannot be written.
    virtual void save(const QString &application, const QString &section, const QString &key,
                      const QString &text) = 0;
};

// On Linux an INI file <config dir>/<application>.conf with one [section] per section;
// on other systems the platform's usual per-user place.
class QtSettingsStore : public SettingsStore {
public:
    QString read(const QString &application, const QString &section, const QString &key,
                 const QString &defaultText) const override;
    void save(const QString &application, const QString &section, const QString &key, const QString &text) override;
};

// Keeps everything in memory; for tests and for the benchmarks.
class MemorySettingsStore : public SettingsStore {
public:
    QString read(const QString &application, const QString &section, const QString &key,
                 const QString &defaultText) const override;
    void save(const QString &application, const QString &section, const QString &key, const QString &text) override;

    bool contains(const QString &application, const QString &section, const QString &key) const;
    // Makes every later save fail, as a read-only settings file does.
    bool failSaves = false;

private:
    static QString address(const QString &application, const QString &section, const QString &key);
    QHash<QString, QString> m_values;
};

// The application, section and keys the program uses.
namespace store {
inline const QString application = QStringLiteral("TAVO");
inline const QString startUp = QStringLiteral("StartUP");
inline const QString comPortKey = QStringLiteral("ComPort");
inline const QString baudRateKey = QStringLiteral("BaudRate");
// Optional: "Ports" / "COM<n>" names the device (or socket://host:port) that port n stands for.
inline const QString ports = QStringLiteral("Ports");
} // namespace store
