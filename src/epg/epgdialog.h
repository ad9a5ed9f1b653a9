#pragma once

#include "epgtypes.h"

#include <QDialog>

class QLabel;
class QScrollArea;
class QVBoxLayout;

// The full programme guide: what is on air, one table per broadcast day.
class EpgDialog : public QDialog
{
    Q_OBJECT

public:
    explicit EpgDialog(QWidget *parent);

    void clearSchedule();

signals:
    void refreshRequested();

public slots:
    void applyPayload(const EpgPayload &payload);

private:
    QLabel *liveTitleLabel = nullptr;
    QScrollArea *scrollArea = nullptr;
    QWidget *scheduleHost = nullptr;
    QVBoxLayout *scheduleLayout = nullptr;
};
