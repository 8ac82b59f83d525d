#pragma once

#include <QObject>
#include <QString>

// The three quality labels the page may rename: high ("480p"), standard
// ("360p") and fluent ("240p"). One per process, never freed; the page
// object writes the labels directly.
class TableData : public QObject
{
    Q_OBJECT
  public:
    static TableData *instance();

    QString high;
    QString standard;
    QString fluent;

  private:
    TableData();
};
