// The table selection screen: its controls, their look, layout and keyboard order, and the wiring
// of their notifications. The handlers themselves are in form2_handlers.cpp.
#include "ui/form2.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QVBoxLayout>
#include <QWindow>
#include <iterator>
#include <tuple>

#include "base/activity.h"
#include "ui/pointer_state.h"
#include "ui/progress_bar.h"
#include "ui/push_button.h"
#include "ui/run_presence.h"
#include "ui/screen_desktop.h"
#include "ui/screen_font.h"
#include "ui/screen_host.h"

namespace trp {
namespace {

// The client area: 6360 × 6900 twips at 15 twips per pixel.
constexpr int kClientWidth = 424;
constexpr int kClientHeight = 460;

template <typename T>
T* Named(T* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QListWidget* TableList(QWidget* parent, const char* name, const QString& heading) {
    auto* list = Named(new QListWidget(parent), name);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSortingEnabled(true);
    list->setAccessibleName(heading);
    return list;
}

}  // namespace

Form2::Form2(const ProfileSource& profiles, Navigator& navigator, QWidget* parent)
    : QWidget(parent), profiles_(profiles), navigator_(navigator) {
    setObjectName(QStringLiteral("Form2"));
    // The screen's font; the push buttons carry their larger one.
    setFont(ScreenFont(9));

    CreateControls();
    ArrangeControls();
    SetTabOrder();

    pointer_ = new PointerState(*this);
    desktop_ = std::make_unique<ScreenDesktop>(*this, *ProgressBar1);
    presence_ = std::make_unique<RunPresence>(*desktop_);
    host_ = std::make_unique<ScreenHost>(*this, *pointer_, ProgressBar1, presence_.get());
    WireHandlers();
}

Form2::~Form2() = default;

void Form2::CreateControls() {
    const QString heading = QStringLiteral("Select Similar Table to Append");

    Frame3 = Named(new QGroupBox(QStringLiteral("PostgreSQL Database #1"), this), "Frame3");
    Label2 = Named(new QLabel(heading, Frame3), "Label2");
    List1 = TableList(Frame3, "List1", QStringLiteral("PostgreSQL Database #1"));
    Label2->setBuddy(List1);

    Frame1 = Named(new QGroupBox(QStringLiteral("PostgreSQL Database #2"), this), "Frame1");
    Label1 = Named(new QLabel(heading, Frame1), "Label1");
    List2 = TableList(Frame1, "List2", QStringLiteral("PostgreSQL Database #2"));
    Label1->setBuddy(List2);
    List1->setAccessibleDescription(heading);
    List2->setAccessibleDescription(heading);

    Frame2 = Named(new QGroupBox(QStringLiteral("Options"), this), "Frame2");
    Option1 = Named(new QRadioButton(QStringLiteral("Append to Table in Database #1"), Frame2),
                    "Option1");
    Option2 = Named(new QRadioButton(QStringLiteral("Append to Table in Database #2"), Frame2),
                    "Option2");
    Option1->setAccessibleName(Option1->text());
    Option2->setAccessibleName(Option2->text());
    Option1->setChecked(true);
    Label5 =
        Named(new QLabel(QStringLiteral("Duplicate field names will have this text added to end:"),
                         Frame2),
              "Label5");
    Text1 = Named(new QLineEdit(QStringLiteral("1"), Frame2), "Text1");
    Text1->setFixedWidth(36);
    Text1->setAccessibleName(Label5->text());
    Label5->setBuddy(Text1);

    PushButton2 = Named(new PushButton(QStringLiteral("Start Appending"), this), "PushButton2");
    PushButton5 =
        Named(new PushButton(QStringLiteral("Switch PostgreSQL DB"), this), "PushButton5");
    PushButton2->setAccessibleName(PushButton2->text());
    PushButton5->setAccessibleName(PushButton5->text());

    ProgressBar1 = Named(new ProgressBar(this), "ProgressBar1");
    ProgressBar1->setAccessibleName(QStringLiteral("Progress Bar"));
}

void Form2::ArrangeControls() {
    auto* screen = new QVBoxLayout(this);
    screen->setContentsMargins(8, 6, 8, 8);
    screen->setSpacing(6);

    for (auto [frame, label, list] : {std::tuple{Frame3, Label2, List1}, {Frame1, Label1, List2}}) {
        auto* inside = new QVBoxLayout(frame);
        inside->setContentsMargins(8, 4, 8, 8);
        inside->setSpacing(3);
        inside->addWidget(label);
        inside->addWidget(list);
        screen->addWidget(frame, 1);
    }

    auto* options = new QVBoxLayout(Frame2);
    options->setContentsMargins(8, 4, 8, 6);
    options->setSpacing(3);
    options->addWidget(Option1);
    options->addWidget(Option2);
    auto* suffix = new QHBoxLayout;
    suffix->setSpacing(6);
    suffix->addWidget(Label5, 1);
    suffix->addWidget(Text1);
    options->addLayout(suffix);
    screen->addWidget(Frame2);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    buttons->addWidget(PushButton2, 1);
    buttons->addWidget(PushButton5, 1);
    for (PushButton* button : {PushButton2, PushButton5}) button->setMinimumHeight(32);
    screen->addLayout(buttons);

    ProgressBar1->setFixedHeight(22);
    screen->addWidget(ProgressBar1);

    setFixedSize(kClientWidth, kClientHeight);
}

void Form2::SetTabOrder() {
    // Frames, labels and the progress bar take no focus; the rest in the screen's keyboard order.
    QWidget* const order[] = {List1, List2, Option1, Text1, Option2, PushButton2, PushButton5};
    for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
}

void Form2::WireHandlers() {
    // Hover rule: the hand over the push buttons, the default pointer over the screen's surface,
    // its frames and List1; neither replaces the busy pointer of a running append.
    for (PushButton* button : {PushButton2, PushButton5}) pointer_->WatchPushButton(button);
    for (QWidget* element :
         {static_cast<QWidget*>(this), static_cast<QWidget*>(Frame3), static_cast<QWidget*>(Frame1),
          static_cast<QWidget*>(Frame2), static_cast<QWidget*>(List1), List1->viewport()})
        pointer_->WatchResetElement(element);

    // A listing or an append processes events, so the buttons can be pressed meanwhile: no
    // second append starts, and the screen is not left while its lists are being filled
    // (leaving it during an append is fine: the run goes on).
    connect(PushButton2, &PushButton::clicked, this, [this] {
        if (!ActivityScope::AnyRunning()) PushButton2_Click();
    });
    connect(PushButton5, &PushButton::clicked, this, [this] {
        if (!ActivityScope::Running(Activity::Listing)) PushButton5_Click();
    });

    // The user is back in the window: a box that waits from now on may be told again.
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this] {
        if (desktop_->WindowActive()) presence_->WindowActivated();
    });
}

}  // namespace trp
