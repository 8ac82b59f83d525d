#include "record_service.h"

#include <QXmlStreamReader>

RecordService RecordService::fromSettings(const QString &hostValue, const QString &nsValue,
                                          const QUrl &pageUrl)
{
    RecordService s;
    s.host = hostValue.isNull() ? pageUrl.host() : hostValue;
    if (!nsValue.isNull())
        s.ns = nsValue;
    return s;
}

QUrl RecordService::url() const
{
    QUrl u;
    u.setScheme(QStringLiteral("http"));
    u.setHost(host);
    u.setPort(port);
    u.setPath(QString::fromLatin1(Path));
    return u;
}

QByteArray RecordService::requestBody(const QString &fileName, const QString &account,
                                      const QString &password) const
{
    const QString text =
        QStringLiteral("<soap:Envelope xmlns:soap='http://www.w3.org/2003/05/soap-envelope' "
                       "xmlns:tem='") +
        ns.toHtmlEscaped() + QStringLiteral("'><soap:Header><tem:MyHeader><tem:Account>") +
        account.toHtmlEscaped() + QStringLiteral("</tem:Account><tem:Password>") +
        password.toHtmlEscaped() +
        QStringLiteral("</tem:Password></tem:MyHeader></soap:Header><soap:Body>"
                       "<tem:GetRecordFilePath><tem:Rc_SavePath><tem:string>") +
        fileName.toHtmlEscaped() +
        QStringLiteral("</tem:string></tem:Rc_SavePath></tem:GetRecordFilePath></soap:Body>"
                       "</soap:Envelope>");
    return text.toUtf8();
}

QString recordServiceDownloadPath(const QByteArray &replyBody)
{
    QXmlStreamReader xml(replyBody);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement &&
            xml.name() == QLatin1String("Rc_DownloadFilePath")) {
            xml.readNext();
            return xml.isCharacters() ? xml.text().toString() : QString();
        }
    }
    return QString();
}
