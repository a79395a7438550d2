#include "provisioning/DiskSpace.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace DiskSpace {

qint64 needed(const QList<Pending>& archives) {
    qint64 total = dataPartitionBytes;
    for (const Pending& archive : archives)
        total += archive.downloadBytes +
                 archive.unpackedBytes.value_or(qint64(double(archive.listedBytes) * unpackFactorEstimate));
    return total;
}

std::optional<qint64> freeBytes(const QString& folder) {
    // The runtime folder may not exist yet; its file system is that of the nearest parent that does.
    QFileInfo existing(folder);
    while (!existing.exists() && !existing.isRoot() && existing.absoluteFilePath() != existing.absolutePath())
        existing = QFileInfo(existing.absolutePath());
    const QStorageInfo storage(existing.absoluteFilePath());
    if (!storage.isValid() || !storage.isReady()) return std::nullopt;
    return storage.bytesAvailable();
}

std::optional<QString> shortfall(qint64 need, qint64 free, const QString& folder) {
    if (free >= need) return std::nullopt;
    // Tenths of a gigabyte, the need rounded up and the free space down, so the two never read alike.
    const auto gigabytes = [](qint64 bytes, double (*round)(double)) {
        return QString::number(round(double(bytes) / 1e8) / 10.0, 'f', 1);
    };
    return u"Android needs about %1 GB free in %2; %3 GB are free."_s.arg(
        gigabytes(need, std::ceil), folder, gigabytes(std::max<qint64>(free, 0), std::floor));
}

} // namespace DiskSpace
