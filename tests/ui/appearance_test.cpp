#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRadioButton>
#include <QTemporaryDir>
#include <stdexcept>

#include "ui/form_colors.h"
#include "ui/pointer_state.h"
#include "ui/push_button.h"
#include "ui/skin_engine.h"

namespace trp {
namespace {

QColor Face() {
    return QApplication::palette().color(QPalette::Active, QPalette::Button);
}
QColor Background(const QWidget* w) {
    return w->palette().color(QPalette::Window);
}

TEST(SetFormColors, TheScreenAndItsStaticControlsTakeTheButtonFaceColour) {
    ASSERT_NE(Face(), QColor(Qt::white));  // otherwise the test proves nothing
    QWidget screen;
    auto* frame = new QGroupBox("Frame", &screen);
    auto* label = new QLabel("Label", frame);
    auto* option = new QRadioButton("Option", frame);
    auto* check = new QCheckBox("Check", &screen);
    auto* field = new QLineEdit(frame);
    auto* button = new PushButton("Button", &screen);
    const QPalette field_before = field->palette();
    const QPalette button_before = button->palette();

    SetFormColors(screen);

    for (QWidget* w : std::initializer_list<QWidget*>{&screen, frame, label, option, check}) {
        EXPECT_EQ(Background(w), Face()) << w->metaObject()->className();
        EXPECT_TRUE(w->autoFillBackground()) << w->metaObject()->className();
    }
    EXPECT_FALSE(field->autoFillBackground());
    EXPECT_EQ(field->palette().color(QPalette::Base), field_before.color(QPalette::Base));
    EXPECT_FALSE(button->autoFillBackground());
    EXPECT_EQ(button->palette().color(QPalette::Button), button_before.color(QPalette::Button));
}

TEST(SetFormColors, AScreenWithoutStaticControlsChangesOnlyItsOwnBackground) {
    QWidget screen;
    auto* field = new QLineEdit(&screen);
    SetFormColors(screen);
    EXPECT_EQ(Background(&screen), Face());
    EXPECT_FALSE(field->autoFillBackground());
}

class SkinTest : public ::testing::Test {
protected:
    void WriteSkin(const QString& relative, const QByteArray& sheet) {
        QDir(dir_.path()).mkpath(QFileInfo(dir_.filePath(relative)).path());
        QFile file(dir_.filePath(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(sheet);
    }

    QTemporaryDir dir_;
    QWidget screen_;
    QLabel* label_ = new QLabel("Server:", &screen_);
    SkinEngine engine_;
    const QByteArray sheet_ = "QPushButton { color: rgb(1, 2, 3); }";
};

TEST_F(SkinTest, APresentSkinColoursTheScreenThenLoadsAndAppliesTheStyleSheet) {
    WriteSkin("x/o.cjs", sheet_);
    ApplySkin(screen_, engine_, dir_.path());
    EXPECT_EQ(Background(&screen_), Face());
    EXPECT_EQ(Background(label_), Face());
    EXPECT_EQ(screen_.styleSheet(), QString::fromUtf8(sheet_));

    // Windows shown later get the skin as well.
    QWidget later;
    later.show();
    EXPECT_EQ(later.styleSheet(), QString::fromUtf8(sheet_));
}

TEST_F(SkinTest, AMissingHiddenOrNonRegularSkinFileMeansNoSkinAndNoColours) {
    ApplySkin(screen_, engine_, dir_.path());  // missing
    WriteSkin("x/.hidden.cjs", sheet_);        // a hidden file linked under the skin's name
    ASSERT_TRUE(QFile::link(dir_.filePath("x/.hidden.cjs"), dir_.filePath("x/o.cjs")));
    ApplySkin(screen_, engine_, dir_.path());
    QFile::remove(dir_.filePath("x/o.cjs"));
    QDir(dir_.path()).mkpath("x/o.cjs");  // a folder of that name
    ApplySkin(screen_, engine_, dir_.path());

    EXPECT_FALSE(engine_.Loaded());
    EXPECT_FALSE(screen_.autoFillBackground());
    EXPECT_FALSE(label_->autoFillBackground());
    EXPECT_TRUE(screen_.styleSheet().isEmpty());
}

TEST_F(SkinTest, TheEngineRejectsUnknownWindowsAndUnreadableSkins) {
    EXPECT_THROW(engine_.LoadSkin(dir_.filePath("none.cjs"), ""), std::runtime_error);
    EXPECT_THROW(engine_.ApplyWindow(screen_.winId()), std::runtime_error);  // nothing loaded
    WriteSkin("s.cjs", sheet_);
    engine_.LoadSkin(dir_.filePath("s.cjs"), "");
    EXPECT_THROW(engine_.ApplyWindow(WId(0x7fffffff)), std::runtime_error);
    engine_.ApplyWindow(screen_.winId());  // without option bit 1 the window stays as it is
    EXPECT_TRUE(screen_.styleSheet().isEmpty());
}

void MoveOnto(QWidget* widget) {
    QMouseEvent move(QEvent::MouseMove, QPointF(3, 3), widget->mapToGlobal(QPointF(3, 3)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
}

TEST(HoverRule, HandOverButtonsDefaultElsewhereAndTheBusyPointerStays) {
    QWidget screen;
    auto* button = new PushButton("Next >", &screen);
    auto* frame = new QGroupBox("Frame", &screen);
    PointerState pointer(screen);
    pointer.WatchPushButton(button);
    pointer.WatchResetElement(frame);

    MoveOnto(button);
    EXPECT_EQ(pointer.value(), PointerState::kCustom);
    MoveOnto(frame);
    EXPECT_EQ(pointer.value(), PointerState::kDefault);

    pointer.Set(PointerState::kBusy);
    MoveOnto(button);
    MoveOnto(frame);
    EXPECT_EQ(pointer.value(), PointerState::kBusy);
    EXPECT_EQ(screen.cursor().shape(), Qt::WaitCursor);

    pointer.Set(PointerState::kDefault);
    MoveOnto(button);
    EXPECT_EQ(pointer.value(), PointerState::kCustom);
    // Without a hand image the custom state shows the default pointer.
    EXPECT_EQ(screen.cursor().shape(), Qt::ArrowCursor);
}

}  // namespace
}  // namespace trp
