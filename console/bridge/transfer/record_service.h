#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

// The record web service that tells where a recording can be downloaded:
// SOAP 1.2 over a plain HTTP POST. Its host and XML namespace belong to the
// deployment; port, path and content type are fixed.
struct RecordService {
    // config.ini keys the page object reads; a missing host falls back to the
    // host of the dispatcher page's address.
    static constexpr const char *HostKey = "/network/record_host";
    static constexpr const char *NamespaceKey = "/network/record_namespace";
    static constexpr quint16 Port = 9014;
    static constexpr const char *Path = "/RecordWebService.asmx";
    // Written so (sic) in the deployed service's contract.
    static constexpr const char *ContentType = "text/xml;charst=utf-8";
    static constexpr const char *DefaultNamespace = "http://tempuri.org/";

    QString host;
    quint16 port = Port;
    QString ns = QString::fromLatin1(DefaultNamespace);

    // Settings as read from config.ini (null when missing) and the page's address.
    static RecordService fromSettings(const QString &hostValue, const QString &nsValue,
                                      const QUrl &pageUrl);
    QUrl url() const;

    // The request body: no XML declaration, no blanks between elements; the
    // three values are escaped as XML text.
    QByteArray requestBody(const QString &fileName, const QString &account,
                           const QString &password) const;
};

// The text of the first "Rc_DownloadFilePath" element of a reply, or an empty
// string when there is none.
QString recordServiceDownloadPath(const QByteArray &replyBody);
