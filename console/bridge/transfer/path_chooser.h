#pragma once

#include <QString>

// Where the transfers ask the dispatcher for a path. The console uses modal
// file dialogs; tests answer with a fixed path or a cancel (null string).
class PathChooser
{
  public:
    virtual ~PathChooser() = default;
    // A null result means cancelled.
    virtual QString saveFileName(const QString &caption, const QString &proposed,
                                 const QString &filter) = 0;
    virtual QString openFileName(const QString &caption, const QString &dir,
                                 const QString &filter) = 0;
};

// Modal QFileDialog without parent.
class DialogPathChooser : public PathChooser
{
  public:
    QString saveFileName(const QString &caption, const QString &proposed,
                         const QString &filter) override;
    QString openFileName(const QString &caption, const QString &dir,
                         const QString &filter) override;
};

// Asks the chooser it is routed to, or the dialogs while routed nowhere, so
// an owner can replace the dialogs after its transfers were made.
class RoutedPathChooser : public PathChooser
{
  public:
    void route(PathChooser *to); // not owned; null: the dialogs
    QString saveFileName(const QString &caption, const QString &proposed,
                         const QString &filter) override;
    QString openFileName(const QString &caption, const QString &dir,
                         const QString &filter) override;

  private:
    PathChooser *target();
    DialogPathChooser m_dialogs;
    PathChooser *m_to = nullptr;
};
