#pragma once

#include <QString>

// One rate in Mbit/s as the speed read-out shows it ("12.3 Мбит/с").
// Always a point as decimal separator, whatever the locale.
QString formatBitrateMbps(double mbps);
