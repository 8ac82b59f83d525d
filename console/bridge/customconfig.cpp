#include "customconfig.h"

#include <QDebug>
#include <QSettings>
#include <QStringList>

namespace
{
// GUI thread only, as every caller of the store is.
CustomConfig *g_config = nullptr;

QString Match(const QStringList &names, const QString &part)
{
    if (names.contains(part))
        return part;
    for (const QString &n : names) {
        if (n.compare(part, Qt::CaseInsensitive) == 0)
            return n;
    }
    return part;
}
} // namespace

CustomConfig *CustomConfig::getInstance()
{
    if (!g_config)
        g_config = new CustomConfig();
    return g_config;
}

CustomConfig::CustomConfig()
{
    m_setting = new QSettings(QStringLiteral("config.ini"), QSettings::IniFormat);
    m_setting->setIniCodec("GB2312");
}

CustomConfig::~CustomConfig()
{
    if (m_setting) {
        qDebug() << "CustomConfig::~CustomConfig:" << __LINE__ << "\tenter m_setting";
        delete m_setting;
        m_setting = nullptr;
    }
    if (g_config == this)
        g_config = nullptr;
}

QString CustomConfig::resolve(const QString &key)
{
    QStringList parts = key.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return key;
    QStringList resolved;
    for (int i = 0; i < parts.size(); i++) {
        const bool last = i == parts.size() - 1;
        QString name = Match(last ? m_setting->childKeys() : m_setting->childGroups(), parts[i]);
        resolved << name;
        if (!last)
            m_setting->beginGroup(name);
    }
    for (int i = 0; i < parts.size() - 1; i++)
        m_setting->endGroup();
    return resolved.join(QLatin1Char('/'));
}

QString CustomConfig::getValue(const QString &key)
{
    if (key.isNull())
        return QString();
    const QString k = resolve(key);
    if (!m_setting->contains(k))
        return QString();
    const QVariant raw = m_setting->value(k);
    // Qt's INI syntax reads an unquoted value with commas as a list; give it
    // back as the text the file holds instead of losing it.
    QString v = raw.type() == QVariant::StringList ? raw.toStringList().join(QLatin1Char(','))
                                                   : raw.toString();
    // A present but empty value must not read as missing.
    if (v.isNull())
        v = QLatin1String("");
    return v;
}

void CustomConfig::setValue(const QString &key, const QString &value)
{
    if (key.isNull() || value.isNull())
        return;
    m_setting->setValue(resolve(key), value);
}
