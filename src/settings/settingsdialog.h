#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;

// Picks the screenshot folder. The choice is pending until OK stores it.
class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    static const QString kSettingsKey;

    explicit SettingsDialog(QWidget *parent = nullptr);

    // The stored folder, or the Pictures folder while nothing is stored. A
    // stored empty string stays empty. Neither creates nor checks the folder.
    static QString getScreenshotPath();

private slots:
    void browsePath();
    void resetToDefault();
    void saveAndClose();

private:
    QLineEdit *pathEdit = nullptr;
};
