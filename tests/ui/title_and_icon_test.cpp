#include "ui/title_and_icon.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>
#include <filesystem>
#include <stdexcept>

#include "ui/message_box.h"

namespace trp {
namespace {

QString SourceFile(const char* relative) {
    return QString::fromStdString(
        (std::filesystem::path(__FILE__).parent_path() / "../.." / relative).lexically_normal());
}

TEST(SetAppTitle, CutsAtTheLastBlankAtLeastOnceThenWhileLongerThanForty) {
    EXPECT_EQ(ShortenTitle("Tessaline Row Porter Suite"), "Tessaline Row Porter");
    EXPECT_EQ(ShortenTitle("Short Name"), "Short");
    // 50 characters: cut twice, until the title fits in 40.
    EXPECT_EQ(ShortenTitle("Alpha Beta Gamma Delta Epsilon Zeta Eta Theta Iota"),
              "Alpha Beta Gamma Delta Epsilon Zeta Eta");
    EXPECT_EQ(ShortenTitle("a  b"), "a ");  // exact blank match, nothing trimmed
    EXPECT_THROW(ShortenTitle("Nameless"), std::invalid_argument);
    EXPECT_THROW(ShortenTitle(QString(50, u'x') + " y"), std::invalid_argument);  // no endless loop

    SetAppTitle();
    EXPECT_EQ(AppTitle(), "Tessaline Row Porter");
}

TEST(FileExists, TrueExactlyWhenTheModificationTimeCanBeRead) {
    QTemporaryDir dir;
    const QString file = dir.filePath("HAND-M.CUR");
    EXPECT_FALSE(FileExists(file));
    QFile(file).open(QIODevice::WriteOnly);
    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(FileExists(dir.path()));
    EXPECT_FALSE(FileExists(""));
    EXPECT_FALSE(FileExists(dir.filePath("missing/HAND-M.CUR")));
    EXPECT_FALSE(FileExists(file + QChar(u'\0') + "x"));
}

TEST(ApplicationFolder, FollowsTheOverrideAndFallsBackToTheProgramsFolder) {
    OverrideApplicationFolder("/somewhere");
    EXPECT_EQ(HandCursorPath(), "/somewhere/HAND-M.CUR");
    OverrideApplicationFolder("");
    EXPECT_EQ(ApplicationFolder(), QCoreApplication::applicationDirPath());
    EXPECT_FALSE(ApplicationIcon().isNull());
}

TEST(HandCursor, TheShippedFileLoadsWithItsHotspotAtTheFingertip) {
    const QCursor cursor = LoadCursorFile(SourceFile("resources/HAND-M.CUR"));
    EXPECT_EQ(cursor.shape(), Qt::BitmapCursor);
    EXPECT_EQ(cursor.hotSpot(), QPoint(12, 1));
    const QImage image = cursor.pixmap().toImage();
    ASSERT_EQ(image.size(), QSize(32, 32));
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);                   // transparent corner
    EXPECT_EQ(image.pixel(12, 5) | 0xff000000u, 0xffffffffu);  // white finger
    EXPECT_EQ(qAlpha(image.pixel(12, 5)), 255);
}

// A 2 x 2 one-bit cursor: black and white pixels, the right column masked out.
QByteArray TinyMonochromeCursor() {
    QByteArray image;
    auto u16 = [&](int v) { image.append(char(v & 0xff)).append(char(v >> 8 & 0xff)); };
    auto u32 = [&](uint32_t v) { u16(v & 0xffff), u16(v >> 16); };
    u32(40), u32(2), u32(4), u16(1), u16(1), u32(0), u32(0), u32(0), u32(0), u32(2), u32(0);
    u32(0x00000000), u32(0x00ffffff);  // palette: black, white
    image += QByteArray::fromHex(
        "80000000"
        "40000000");  // colour rows, bottom row first
    image += QByteArray::fromHex(
        "40000000"
        "40000000");  // mask rows: right column transparent
    QByteArray file;
    const QByteArray header = QByteArray::fromHex("000002000100") + QByteArray::fromHex(
                                                                        "02020000"
                                                                        "0100"
                                                                        "0100");
    file = header;
    const uint32_t size = image.size(), offset = 22;
    for (uint32_t v : {size, offset})
        for (int i = 0; i < 4; ++i) file.append(char(v >> (8 * i) & 0xff));
    return file + image;
}

TEST(HandCursor, ReadsPalettedImagesWithTheirMask) {
    QTemporaryDir dir;
    QFile file(dir.filePath("tiny.cur"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(TinyMonochromeCursor());
    file.close();
    const QCursor cursor = LoadCursorFile(file.fileName());
    EXPECT_EQ(cursor.hotSpot(), QPoint(1, 1));
    const QImage image = cursor.pixmap().toImage();
    EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));  // top row stored last
    EXPECT_EQ(image.pixel(0, 1), qRgb(255, 255, 255));
    EXPECT_EQ(qAlpha(image.pixel(1, 0)), 0);
}

TEST(HandCursor, DamagedFilesFailAsInvalidPicturesWithoutReadingPastTheirEnd) {
    QTemporaryDir dir;
    QFile good(SourceFile("resources/HAND-M.CUR"));
    ASSERT_TRUE(good.open(QIODevice::ReadOnly));
    const QByteArray bytes = good.readAll();
    const QString path = dir.filePath("bad.cur");
    auto attempt = [&](const QByteArray& content) {
        QFile out(path);
        out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        out.write(content);
        out.close();
        try {
            LoadCursorFile(path);
            return true;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Invalid picture");
            return false;
        }
    };
    for (qsizetype length = 0; length < 70; ++length) EXPECT_FALSE(attempt(bytes.left(length)));
    EXPECT_FALSE(attempt("not a cursor at all"));
    QByteArray huge_offset = bytes;
    huge_offset[18] = char(0xff), huge_offset[19] = char(0x7f);
    EXPECT_FALSE(attempt(huge_offset));
    // A bitmap header that claims 4096 pixels against the directory's 32: read no further than
    // the file holds, whichever of the two is believed.
    QByteArray wide = bytes;
    wide[22 + 4] = char(0x00), wide[22 + 5] = char(0x10);
    if (attempt(wide)) {
        EXPECT_EQ(LoadCursorFile(path).pixmap().size(), QSize(32, 32));
    }
    EXPECT_THROW(LoadCursorFile(dir.filePath("missing.cur")), std::runtime_error);
}

}  // namespace
}  // namespace trp
