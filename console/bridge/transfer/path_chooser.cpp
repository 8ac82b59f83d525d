#include "path_chooser.h"

#include <QFileDialog>

QString DialogPathChooser::saveFileName(const QString &caption, const QString &proposed,
                                        const QString &filter)
{
    return QFileDialog::getSaveFileName(nullptr, caption, proposed, filter);
}

QString DialogPathChooser::openFileName(const QString &caption, const QString &dir,
                                        const QString &filter)
{
    return QFileDialog::getOpenFileName(nullptr, caption, dir, filter);
}

void RoutedPathChooser::route(PathChooser *to)
{
    m_to = to;
}

PathChooser *RoutedPathChooser::target()
{
    return m_to ? m_to : &m_dialogs;
}

QString RoutedPathChooser::saveFileName(const QString &caption, const QString &proposed,
                                        const QString &filter)
{
    return target()->saveFileName(caption, proposed, filter);
}

QString RoutedPathChooser::openFileName(const QString &caption, const QString &dir,
                                        const QString &filter)
{
    return target()->openFileName(caption, dir, filter);
}
