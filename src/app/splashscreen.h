#pragma once

#include <QStringList>
#include <QWidget>

class QLabel;
class QTimer;

// Frameless backdrop with a status line that steps through fixed texts while
// the main window is built behind it; a timed sequence, not real progress.
class SplashScreen : public QWidget
{
    Q_OBJECT

public:
    explicit SplashScreen(QWidget *parent = nullptr);

signals:
    void loadingFinished();

private slots:
    void simulateLoading();

private:
    QLabel *loadingLabel = nullptr;
    QLabel *titleLabel = nullptr;
    QTimer *loadingTimer = nullptr;
    int loadingStep;
    QStringList loadingSteps;
};
