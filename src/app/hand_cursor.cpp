#include "app/hand_cursor.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPixmap>
#include <stdexcept>

namespace trp {
namespace {

quint16 ReadLittleEndian16(const QByteArray& bytes, int offset) {
    return static_cast<quint16>(static_cast<unsigned char>(bytes[offset]) |
                                (static_cast<unsigned char>(bytes[offset + 1]) << 8));
}

}  // namespace

QString ApplicationFolder() {
    return QCoreApplication::applicationDirPath();
}

bool FileExists(const QString& path) {
    return QFileInfo(path).isFile();
}

QString HandCursorPath() {
    return ApplicationFolder() + QStringLiteral("/HAND-M.CUR");
}

QCursor LoadCursorFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) throw std::runtime_error("File not found");
    const QByteArray bytes = file.readAll();

    // A .CUR file starts with reserved 0, type 2 and the image count; the first directory entry
    // (from byte 6) holds the hot spot at bytes 4 to 7 of the entry.
    const bool is_cur = bytes.size() >= 22 && ReadLittleEndian16(bytes, 0) == 0 &&
                        ReadLittleEndian16(bytes, 2) == 2 && ReadLittleEndian16(bytes, 4) >= 1;

    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, is_cur ? QByteArray("cur") : QByteArray());
    const QImage image = reader.read();
    if (image.isNull()) throw std::runtime_error("Invalid picture");

    if (!is_cur) return QCursor(QPixmap::fromImage(image));
    const int x = ReadLittleEndian16(bytes, 10);
    const int y = ReadLittleEndian16(bytes, 12);
    return QCursor(QPixmap::fromImage(image), qMin(x, image.width() - 1),
                   qMin(y, image.height() - 1));
}

}  // namespace trp
