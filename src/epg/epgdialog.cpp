#include "epgdialog.h"

EpgDialog::EpgDialog(QWidget *parent) : QDialog(parent) {}

void EpgDialog::clearSchedule() {}

void EpgDialog::applyPayload(const EpgPayload &) {}
