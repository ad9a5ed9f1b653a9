#pragma once

#include <QWidget>

class QTimer;

// Animated channel panel shown over the video area while nothing plays.
class IdleBrandPanel : public QWidget
{
public:
    explicit IdleBrandPanel(QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QTimer *animTimer = nullptr;
    double phase = 0.0;
};
