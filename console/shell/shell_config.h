// The shell's reads and writes of config.ini, in one place: every caller in
// the shell goes through these, so the store behind them can change alone.
#pragma once

#include <QString>

// Null when the key is absent; an empty value stays empty and non-null.
QString shell_config_value(const QString &key);
// Skips a null key or value; an empty value is written.
void shell_config_set(const QString &key, const QString &value);
// Writes pending values and destroys the store (the main window's last use).
void shell_config_release();
