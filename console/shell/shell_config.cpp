#include "shell_config.h"

#include <QSettings>
#include <QTextCodec>
#include <memory>

namespace
{

// Owned by the GUI thread, from the first read to shell_config_release.
std::unique_ptr<QSettings> g_settings;

QSettings *store()
{
    if (!g_settings) {
        g_settings =
            std::make_unique<QSettings>(QStringLiteral("config.ini"), QSettings::IniFormat);
        g_settings->setIniCodec(QTextCodec::codecForName("GB2312"));
    }
    return g_settings.get();
}

} // namespace

QString shell_config_value(const QString &key)
{
    if (key.isNull())
        return QString();
    const QVariant v = store()->value(key);
    if (!v.isValid())
        return QString();
    // An unquoted value with a comma reads back as a list: it is still text.
    const QString text =
        v.type() == QVariant::StringList ? v.toStringList().join(QLatin1Char(',')) : v.toString();
    return text.isNull() ? QString(QLatin1String("")) : text;
}

void shell_config_set(const QString &key, const QString &value)
{
    if (key.isNull() || value.isNull())
        return;
    store()->setValue(key, value);
}

void shell_config_release()
{
    g_settings.reset();
}
