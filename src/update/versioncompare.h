#pragma once

#include <QString>

// Dotted version comparison: negative when current is lower than remote, 0 when
// equal, positive when current is higher. Parts that both read as int compare
// as numbers, any other pair as case-sensitive strings; missing parts are "0".
int compareVersions(const QString &current, const QString &remote);
