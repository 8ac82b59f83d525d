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
