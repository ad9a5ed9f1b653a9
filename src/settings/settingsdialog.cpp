#include "settingsdialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QVBoxLayout>

const QString SettingsDialog::kSettingsKey = QStringLiteral("screenshotPath");

namespace {

// The widths keep the row tidy, but the style sheet's padding may need more
// than that for the Kazakh label: never cut the text.
void setWidthAtLeast(QPushButton *button, int width)
{
    button->ensurePolished();
    button->setFixedWidth(qMax(width, button->sizeHint().width()));
}

QString defaultScreenshotPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
}

} // namespace

SettingsDialog::SettingsDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Баптаулар"));
    setMinimumWidth(450);

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(20);
    layout->setContentsMargins(20, 20, 20, 20);

    auto *caption = new QLabel(QStringLiteral("Скриншоттарды сақтау орны:"), this);
    caption->setStyleSheet(QStringLiteral("font-weight: bold; font-size: 14px;"));

    auto *row = new QHBoxLayout;
    pathEdit = new QLineEdit(this);
    pathEdit->setObjectName(QStringLiteral("screenshotPathEdit"));
    pathEdit->setReadOnly(true);
    pathEdit->setText(getScreenshotPath());
    auto *browseButton = new QPushButton(QStringLiteral("Шолу"), this);
    browseButton->setObjectName(QStringLiteral("browsePathBtn"));
    setWidthAtLeast(browseButton, 80);
    row->addWidget(pathEdit);
    row->addWidget(browseButton);

    auto *resetButton = new QPushButton(QStringLiteral("Стандартты орны"), this);
    resetButton->setObjectName(QStringLiteral("resetPathBtn"));
    setWidthAtLeast(resetButton, 150);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("settingsButtons"));

    layout->addWidget(caption);
    layout->addLayout(row);
    layout->addWidget(resetButton);
    layout->addStretch(0);
    layout->addWidget(buttons);

    connect(browseButton, &QPushButton::clicked, this, &SettingsDialog::browsePath);
    connect(resetButton, &QPushButton::clicked, this, &SettingsDialog::resetToDefault);
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::saveAndClose);
    connect(buttons, &QDialogButtonBox::rejected, this, &SettingsDialog::reject);
}

QString SettingsDialog::getScreenshotPath()
{
    // Opened afresh each time so a value saved elsewhere is seen at once.
    QSettings settings(QStringLiteral("VostanTV"), QStringLiteral("Player"));
    return settings.value(kSettingsKey, defaultScreenshotPath()).toString();
}

void SettingsDialog::browsePath()
{
    const QString chosen = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Папканы таңдау"), pathEdit->text(), QFileDialog::ShowDirsOnly);
    if (!chosen.isEmpty())
        pathEdit->setText(chosen);
}

void SettingsDialog::resetToDefault()
{
    pathEdit->setText(defaultScreenshotPath());
}

void SettingsDialog::saveAndClose()
{
    {
        // Destroyed before accept() so the write is flushed by then.
        QSettings settings(QStringLiteral("VostanTV"), QStringLiteral("Player"));
        settings.setValue(kSettingsKey, pathEdit->text());
    }
    accept();
}
