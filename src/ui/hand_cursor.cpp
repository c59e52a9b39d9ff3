// The application folder, the file test for optional files beside the program, and the reading
// of the Windows cursor format: an icon directory (type 2 carries a hotspot per image)
// pointing at either a PNG or a BMP without its file header, whose height counts the colour
// bitmap and the 1-bit AND mask below it. Every offset is checked against the file's size.
#include "ui/hand_cursor.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPixmap>
#include <algorithm>
#include <cstdint>
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

class Bytes {
public:
    explicit Bytes(const QByteArray& data) : data_(data) {}

    uint32_t U8(qsizetype at) const { return static_cast<uint8_t>(data_.at(Check(at, 1))); }
    uint32_t U16(qsizetype at) const { return U8(at) | U8(at + 1) << 8; }
    uint32_t U32(qsizetype at) const { return U16(at) | U16(at + 2) << 16; }
    int32_t S32(qsizetype at) const { return static_cast<int32_t>(U32(at)); }
    qsizetype size() const { return data_.size(); }
    QByteArray Slice(qsizetype at, qsizetype length) const {
        return data_.mid(Check(at, length), length);
    }

private:
    qsizetype Check(qsizetype at, qsizetype length) const {
        if (at < 0 || length < 0 || at > data_.size() || length > data_.size() - at)
            InvalidPicture();
        return at;
    }
    QByteArray data_;  // implicitly shared: a slice keeps its own bytes
};

qsizetype RowBytes(int width, int bits) {
    return ((qsizetype{width} * bits + 31) / 32) * 4;
}

// A BMP image as icons and cursors store it: BITMAPINFOHEADER, palette, colour rows, mask rows.
QImage DecodeBitmap(const Bytes& bytes, qsizetype start) {
    const uint32_t header_size = bytes.U32(start);
    const int32_t width = bytes.S32(start + 4);
    const int32_t double_height = bytes.S32(start + 8);
    const uint32_t bits = bytes.U16(start + 14);
    const uint32_t compression = bytes.U32(start + 16);
    uint32_t colours_used = bytes.U32(start + 32);
    if (header_size < 40 || header_size > 1024 || compression != 0) InvalidPicture();
    if (width <= 0 || width > 256 || double_height <= 0 || double_height > 512) InvalidPicture();
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) InvalidPicture();
    const int height = double_height / 2;
    if (height == 0) InvalidPicture();

    QList<QRgb> palette;
    qsizetype at = start + header_size;
    if (bits <= 8) {
        if (colours_used == 0 || colours_used > (1u << bits)) colours_used = 1u << bits;
        for (uint32_t i = 0; i < colours_used; ++i, at += 4)
            palette.append(qRgb(bytes.U8(at + 2), bytes.U8(at + 1), bytes.U8(at)));
    }
    const qsizetype colour_row = RowBytes(width, static_cast<int>(bits));
    const qsizetype mask_row = RowBytes(width, 1);
    const qsizetype mask_start = at + colour_row * height;
    // Without a mask (some writers leave it out of 32-bit images) every pixel counts as opaque.
    const bool has_mask = mask_start + mask_row * height <= bytes.size();
    if (mask_start > bytes.size()) InvalidPicture();

    QImage image(width, height, QImage::Format_ARGB32);
    if (image.isNull()) InvalidPicture();
    bool any_alpha = false;
    for (int y = 0; y < height; ++y) {
        const qsizetype row = at + colour_row * (height - 1 - y);  // stored bottom-up
        for (int x = 0; x < width; ++x) {
            QRgb colour = 0;
            if (bits == 32 || bits == 24) {
                const qsizetype px = row + qsizetype{x} * (bits / 8);
                const uint32_t alpha = bits == 32 ? bytes.U8(px + 3) : 255;
                any_alpha = any_alpha || (bits == 32 && alpha != 0);
                colour = qRgba(bytes.U8(px + 2), bytes.U8(px + 1), bytes.U8(px), alpha);
            } else {
                const qsizetype bit = qsizetype{x} * bits;
                const uint32_t byte = bytes.U8(row + bit / 8);
                const uint32_t index = (byte >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                colour =
                    index < static_cast<uint32_t>(palette.size()) ? palette[index] : qRgb(0, 0, 0);
            }
            image.setPixel(x, y, colour);
        }
    }
    // The AND mask decides transparency unless the colour bitmap carries an alpha channel.
    if (bits == 32 && any_alpha) return image;
    for (int y = 0; y < height; ++y) {
        const qsizetype row = mask_start + mask_row * (height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const QRgb colour = image.pixel(x, y);
            const bool transparent = has_mask && ((bytes.U8(row + x / 8) >> (7 - x % 8)) & 1);
            image.setPixel(x, y, transparent ? qRgba(0, 0, 0, 0) : (colour | 0xff000000u));
        }
    }
    return image;
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
    const QByteArray data = file.readAll();
    const Bytes bytes(data);

    const uint32_t type = bytes.U16(2);
    const uint32_t count = bytes.U16(4);
    if (bytes.U16(0) != 0 || (type != 1 && type != 2) || count == 0) InvalidPicture();

    // The largest image of the file; the platform scales cursors itself where it must.
    qsizetype best = -1;
    int best_size = -1;
    for (uint32_t i = 0; i < count; ++i) {
        const qsizetype entry = 6 + qsizetype{i} * 16;
        const int size = bytes.U8(entry) == 0 ? 256 : static_cast<int>(bytes.U8(entry));
        if (size > best_size) {
            best_size = size;
            best = entry;
        }
    }
    const uint32_t length = bytes.U32(best + 8);
    const uint32_t offset = bytes.U32(best + 12);
    const Bytes image_bytes(bytes.Slice(offset, length));

    QImage image;
    static const QByteArray kPngSignature("\x89PNG\r\n\x1a\n", 8);
    if (image_bytes.size() >= 8 && image_bytes.Slice(0, 8) == kPngSignature) {
        image = QImage::fromData(image_bytes.Slice(0, image_bytes.size()), "PNG");
        if (image.isNull()) InvalidPicture();
    } else {
        image = DecodeBitmap(image_bytes, 0);
    }
    // Icons have no hotspot; their pointer's tip is the top left corner.
    int hot_x = type == 2 ? static_cast<int>(bytes.U16(best + 4)) : 0;
    int hot_y = type == 2 ? static_cast<int>(bytes.U16(best + 6)) : 0;
    hot_x = std::min(hot_x, image.width() - 1);
    hot_y = std::min(hot_y, image.height() - 1);
    return QCursor(QPixmap::fromImage(image), hot_x, hot_y);
}

}  // namespace trp
