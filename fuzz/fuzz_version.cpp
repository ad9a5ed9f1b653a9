#include "fuzzcheck.h"
#include "updatemanifest.h"
#include "versioncompare.h"

#include <QStringList>

#include <cstddef>
#include <cstdint>

namespace {

int sign(int value)
{
    return (value > 0) - (value < 0);
}

bool allNumeric(const QString &version)
{
    const QStringList parts = version.trimmed().split(QLatin1Char('.'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        bool ok = false;
        part.toInt(&ok);
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

// Three versions, separated by line breaks.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input =
        QString::fromUtf8(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    const QStringList parts = input.split(QLatin1Char('\n'));
    const QString a = parts.value(0);
    const QString b = parts.value(1);
    const QString c = parts.value(2);

    const int ab = compareVersions(a, b);
    check(ab == -1 || ab == 0 || ab == 1, "result outside -1, 0, 1");
    check(compareVersions(a, a) == 0, "not reflexive");
    check(sign(compareVersions(b, a)) == -sign(ab), "not antisymmetric");

    // Missing parts read as zero.
    if (a == a.trimmed())
        check(compareVersions(a + QStringLiteral(".0"), b) == ab, "a trailing .0 counts");

    // Pure numbers order like tuples, transitively. (Mixed text and numbers
    // need not: "9" < "10" < "1a" < "9".)
    if (allNumeric(a) && allNumeric(b) && allNumeric(c)) {
        const int bc = compareVersions(b, c);
        if (ab <= 0 && bc <= 0)
            check(compareVersions(a, c) <= 0 && (ab < 0 || bc < 0) == (compareVersions(a, c) < 0),
                  "numeric order not transitive");
    }

    UpdateManifest manifest;
    manifest.version = b;
    check(offersUpdate(a, manifest) == (ab < 0), "update offered against the order");
    return 0;
}
