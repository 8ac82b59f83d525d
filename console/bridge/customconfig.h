// The console's settings file, config.ini in the working directory: Qt's INI
// syntax in GB2312, keys written "/section/key". Section and key names match
// whatever their letter case, as they did where the file comes from.
#pragma once

#include <QString>

class QSettings;

class CustomConfig
{
  public:
    // The process-wide store, made on first use; never null.
    static CustomConfig *getInstance();
    ~CustomConfig();

    CustomConfig(const CustomConfig &) = delete;
    CustomConfig &operator=(const CustomConfig &) = delete;

    // Null for a null or missing key; an empty value stays empty, not null.
    QString getValue(const QString &key);
    // Writes only when neither key nor value is null. A non-empty password
    // makes the file readable by its owner only, before it is written.
    void setValue(const QString &key, const QString &value);

    // True for a key whose value is a password (its name holds "password",
    // in any letter case): such values stay out of logs.
    static bool isSecretKey(const QString &key);

  private:
    CustomConfig();
    // The key spelled as the file already spells its section and name.
    QString resolve(const QString &key);
    // Narrows an existing file that its group or others may read to 0600,
    // or creates it empty at 0600: the settings' atomic save gives its new
    // file the mode of the one it replaces.
    void keepPrivate();

    QSettings *m_setting = nullptr;
};
