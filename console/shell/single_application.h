// The single-instance guard: the first instance listens on a local socket
// named after its executable's file name and its user; a later one of the
// same user that reaches it within 500 ms says so on standard error and ends,
// and the first comes to the front. The socket lives in the temporary folder
// (Qt's choice for a plain name), which needs no XDG_RUNTIME_DIR.
#pragma once

#include <QApplication>
#include <QPointer>
#include <QString>
#include <QWidget>

class QLocalServer;

// "<program>-<uid>": each user of the machine has a guard of their own.
QString single_application_server_name(const QString &program, uint uid);

class SingleApplication : public QApplication
{
    Q_OBJECT
  public:
    SingleApplication(int &argc, char **argv);
    bool isRunning() const
    {
        return m_isRunning;
    }
    // Not owned: the window to bring to the front when another instance knocks.
    void setWindow(QWidget *window)
    {
        m_window = window;
    }
    QString serverName() const
    {
        return m_serverName;
    }
    // True while this instance answers later ones.
    bool isGuarding() const;

  private slots:
    void _newLocalConnection();

  private:
    QPointer<QWidget> m_window;
    bool m_isRunning = false;
    QLocalServer *m_localServer = nullptr;
    QString m_serverName;
};
