#include "host/SettingsStore.h"

#include <QSettings>
#include <stdexcept>

namespace {
QString settingsKey(const QString &section, const QString &key) { return section + QLatin1Char('/') + key; }
} // namespace

QString QtSettingsStore::read(const QString &application, const QString &section, const QString &key,
                              const QString &defaultText) const {
    // A corrupt or unreadable file reads like a missing key: start-up then falls back
    // to asking for a port, which is the only sensible answer to lost settings.
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, application);
    if (settings.status() != QSettings::NoError)
        return defaultText;
    const QVariant value = settings.value(settingsKey(section, key));
    if (!value.isValid())
        return defaultText;
    // A key written as a list (a hand-edited "a,b") is not a number either way.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

void QtSettingsStore::save(const QString &application, const QString &section, const QString &key,
                           const QString &text) {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, application);
    if (!settings.isWritable())
        throw std::runtime_error(QStringLiteral("%1 cannot be written.").arg(settings.fileName()).toStdString());
    settings.setValue(settingsKey(section, key), text);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw std::runtime_error(QStringLiteral("%1 could not be saved.").arg(settings.fileName()).toStdString());
}

QString MemorySettingsStore::address(const QString &application, const QString &section, const QString &key) {
    return application + QLatin1Char('\\') + section + QLatin1Char('\\') + key;
}

QString MemorySettingsStore::read(const QString &application, const QString &section, const QString &key,
                                  const QString &defaultText) const {
    return m_values.value(address(application, section, key), defaultText);
}

void MemorySettingsStore::save(const QString &application, const QString &section, const QString &key,
                               const QString &text) {
    if (failSaves)
        throw std::runtime_error("The settings file is read-only.");
    m_values.insert(address(application, section, key), text);
}

bool MemorySettingsStore::contains(const QString &application, const QString &section, const QString &key) const {
    return m_values.contains(address(application, section, key));
}
