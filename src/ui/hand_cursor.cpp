// The application folder, the file test for optional files beside the program, and the hand
// cursor: Qt's icon format reads the picture of a Windows cursor file; only the hotspot, which
// Qt does not report, is read from the file's directory here.
#include "ui/hand_cursor.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPixmap>
#include <QtEndian>
#include <algorithm>
#include <stdexcept>

namespace trp {
namespace {

QString& FolderOverride() {
    static QString folder;
    return folder;
}

constexpr qint64 kMaxCursorFile = 4 * 1024 * 1024;

[[noreturn]] void InvalidPicture() {
    throw std::runtime_error("Invalid picture");
}

// The hotspot of image `index` as the file's directory records it: the 16-byte entries follow
// the 6-byte header, the hotspot at bytes 4 to 7 of an entry. Icons (type 1) have none; their
// pointer's tip is the top left corner.
QPoint RecordedHotSpot(const QByteArray& file, int index) {
    const qsizetype entry = 6 + qsizetype{16} * index;
    if (file.size() < entry + 8) InvalidPicture();
    const auto u16 = [&](qsizetype at) {
        return qFromLittleEndian<quint16>(file.constData() + at);
    };
    if (u16(2) != 2) return QPoint(0, 0);
    return QPoint(u16(entry + 4), u16(entry + 6));
}

}  // namespace

QString ApplicationFolder() {
    if (!FolderOverride().isEmpty()) return FolderOverride();
    return QCoreApplication::applicationDirPath();
}

void OverrideApplicationFolder(const QString& folder) {
    FolderOverride() = folder;
}

QString HandCursorPath() {
    return ApplicationFolder() + QStringLiteral("/HAND-M.CUR");
}

bool FileExists(const QString& path) {
    if (path.isEmpty() || path.contains(QChar(u'\0'))) return false;
    const QFileInfo info(path);
    return info.exists() && info.lastModified().isValid();
}

QCursor LoadCursorFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxCursorFile) InvalidPicture();
    QByteArray data = file.readAll();
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    reader.setDecideFormatFromContent(false);

    // The largest image of the file; the platform scales cursors itself where it must.
    QImage image;
    int chosen = -1;
    for (int index = 0; index < reader.imageCount(); ++index) {
        if (!reader.jumpToImage(index)) break;
        QImage candidate = reader.read();
        if (!candidate.isNull() && candidate.width() > image.width()) {
            image = std::move(candidate);
            chosen = index;
        }
    }
    if (image.isNull()) InvalidPicture();
    QPoint hot = RecordedHotSpot(data, chosen);
    hot.setX(std::min(hot.x(), image.width() - 1));
    hot.setY(std::min(hot.y(), image.height() - 1));
    return QCursor(QPixmap::fromImage(image), hot.x(), hot.y());
}

}  // namespace trp
