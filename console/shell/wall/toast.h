#pragma once

#include <QWidget>

class QGridLayout;
class QLabel;
class QTimer;

// A short notice: a rounded black plate with white text, centred on the
// primary screen at 70 % of its height, hidden 1000 ms after the last text.
class Toast : public QWidget
{
    Q_OBJECT
  public:
    explicit Toast(QWidget *parent = nullptr);
    ~Toast() override;

    void showText(const QString &text);
    QString text() const;

  public slots:
    void stopAnimation();

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    QGridLayout *m_layout;
    QLabel *m_label;
    QTimer *m_timer;
};
