#include "customconfig.h"

#include "bridgelog.h"

#include <QDebug>
#include <QFile>
#include <QSettings>
#include <QStringList>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    if (!value.isEmpty() && isSecretKey(key))
        keepPrivate();
    m_setting->setValue(resolve(key), value);
}

bool CustomConfig::isSecretKey(const QString &key)
{
    const QString name = key.section(QLatin1Char('/'), -1, -1, QString::SectionSkipEmpty);
    return name.contains(QLatin1String("password"), Qt::CaseInsensitive);
}

void CustomConfig::keepPrivate()
{
    const QByteArray path = QFile::encodeName(m_setting->fileName());
    struct stat st;
    if (stat(path.constData(), &st) != 0) {
        const int fd = open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0)
            close(fd);
        return;
    }
    if ((st.st_mode & 077) == 0)
        return;
    const bool narrowed = chmod(path.constData(), 0600) == 0;
    BRIDGE_LOG("CustomConfig") << m_setting->fileName() << "holds a password: mode"
                               << QString::number(st.st_mode & 07777, 8)
                               << (narrowed ? "narrowed to 600" : "could not be narrowed");
}
