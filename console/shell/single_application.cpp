#include "single_application.h"

#include "qtlog.h"

#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>
#include <cstdio>
#include <unistd.h>

QString single_application_server_name(const QString &program, uint uid)
{
    return program + QLatin1Char('-') + QString::number(uid);
}

SingleApplication::SingleApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    // applicationFilePath resolves symbolic links: every name of one program
    // shares one guard.
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    m_serverName = single_application_server_name(program, getuid());

    QLocalSocket probe;
    probe.connectToServer(m_serverName, QIODevice::ReadWrite);
    if (probe.waitForConnected(500)) {
        fprintf(stderr, "%s already running.\n", program.toLocal8Bit().constData());
        fflush(stderr);
        m_isRunning = true;
        return;
    }
    m_localServer = new QLocalServer(this);
    // Only this user's own later instances may knock.
    m_localServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_localServer, &QLocalServer::newConnection, this,
            &SingleApplication::_newLocalConnection);
    if (!m_localServer->listen(m_serverName) &&
        m_localServer->serverError() == QAbstractSocket::AddressInUseError) {
        // The socket of an instance that crashed: nobody answered on it.
        QLocalServer::removeServer(m_serverName);
        if (!m_localServer->listen(m_serverName))
            SHELL_LOG() << "single instance guard off:" << m_localServer->errorString();
    }
}

bool SingleApplication::isGuarding() const
{
    return m_localServer != nullptr && m_localServer->isListening();
}

void SingleApplication::_newLocalConnection()
{
    QLocalSocket *socket = m_localServer->nextPendingConnection();
    if (socket != nullptr) {
        socket->waitForReadyRead(500);
        delete socket;
    }
    if (m_window) {
        m_window->show();
        m_window->raise();
        m_window->activateWindow();
    }
}
