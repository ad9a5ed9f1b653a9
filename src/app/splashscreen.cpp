#include "splashscreen.h"

#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

SplashScreen::SplashScreen(QWidget *parent) : QWidget(parent), loadingStep(0)
{
    // Translucent ground so only the backdrop's rounded corners show.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(800, 450);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);

    auto *container = new QWidget(this);
    container->setObjectName(QStringLiteral("splashContainer"));
    container->setStyleSheet(QStringLiteral(
        "QWidget#splashContainer { border-image: url(:/splash.png); border-radius: 8px; }"));

    auto *inner = new QVBoxLayout(container);
    inner->setContentsMargins(40, 40, 40, 40);

    // A blank title still reserves the top line.
    titleLabel = new QLabel(QStringLiteral(" "), container);
    titleLabel->setObjectName(QStringLiteral("titleText"));
    titleLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    loadingLabel = new QLabel(QStringLiteral("Жүктелуде..."), container);
    loadingLabel->setObjectName(QStringLiteral("loadingText"));
    loadingLabel->setAlignment(Qt::AlignLeft | Qt::AlignBottom);

    inner->addWidget(titleLabel);
    inner->addStretch(0);
    inner->addWidget(loadingLabel);
    outer->addWidget(container);

    loadingSteps << QStringLiteral("Негізгі модульдерді жүктеу...")
                 << QStringLiteral("Qt Мультимедиасын Инициализациялау...")
                 << QStringLiteral("Тарату серверіне қосылу...")
                 << QStringLiteral("HLS ағынын шешу...") << QStringLiteral("Буферлік медиа...")
                 << QStringLiteral("Дайын.");

    loadingTimer = new QTimer(this);
    connect(loadingTimer, &QTimer::timeout, this, &SplashScreen::simulateLoading);
    loadingTimer->start(350);
}

void SplashScreen::simulateLoading()
{
    // One tick past the last text ends the sequence; closing is up to the caller.
    if (loadingStep >= loadingSteps.size()) {
        loadingTimer->stop();
        emit loadingFinished();
        return;
    }
    loadingLabel->setText(loadingSteps.at(loadingStep));
    ++loadingStep;
}
