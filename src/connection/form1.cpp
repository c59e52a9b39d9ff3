#include "connection/form1.h"

#include <QApplication>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>
#include <stdexcept>
#include <utility>

#include "app/activity.h"
#include "app/error_report.h"
#include "app/error_trap.h"
#include "app/pointer_state.h"
#include "app/push_button.h"
#include "app/screen_font.h"
#include "app/screen_host.h"
#include "app/skin_engine.h"
#include "append/form2.h"
#include "connection/profile_store.h"

namespace trp {
namespace {

constexpr int kClientWidth = 536;
constexpr int kClientHeight = 502;

// A profile field: its whole text is selected whenever it receives the focus, so that typing
// replaces it. A click may afterwards place the caret where it landed, as the platform does.
class ProfileField : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void focusInEvent(QFocusEvent* event) override {
        QLineEdit::focusInEvent(event);
        setSelection(0, static_cast<int>(text().size()));
    }
};

template <typename T, typename... Args>
T* Named(const char* name, Args&&... args) {
    T* widget = new T(std::forward<Args>(args)...);
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLineEdit* Field(const char* name, bool password = false) {
    QLineEdit* field = Named<ProfileField>(name);
    if (password) {
        field->setEchoMode(QLineEdit::Password);
        // One "*" per character, whatever the desktop's own mask character is.
        field->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    }
    return field;
}

QString Text(const char* text) {
    return QString::fromUtf8(text);
}

}  // namespace

Form1::Form1(ProfileStore& store, QWidget* parent) : QWidget(parent), store_(store) {
    setObjectName(QStringLiteral("Form1"));
    pointer_ = new PointerState(*this);
    skin_ = new SkinEngine(this);
    skin_->setObjectName(QStringLiteral("SkinFramework1"));
    host_ = std::make_unique<ScreenHost>(*this, *pointer_);

    CreateControls();
    ArrangeControls();
    WireControls();

    // Fixed single border with minimize and close boxes, no maximize box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);

    // Design colours: white screen; frames and labels show it through.
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);
    setAutoFillBackground(true);
}

Form1::~Form1() = default;

void Form1::CreateControls() {
    setFont(ScreenFont(9));  // frames, labels and fields; the push buttons carry their own font

    Frame1 = Named<QGroupBox>("Frame1", Text("PostgreSQL Database #1"), this);
    Label2 = Named<QLabel>("Label2", Text("Server:"));
    Text1 = Field("Text1");
    Label3 = Named<QLabel>("Label3", Text("Port:"));
    Text2 = Field("Text2");
    Label1 = Named<QLabel>("Label1", Text("Username:"));
    Text3 = Field("Text3");
    Label4 = Named<QLabel>("Label4", Text("Password:"));
    Text4 = Field("Text4", true);
    Label6 = Named<QLabel>("Label6", Text("Database:"));
    Text5 = Field("Text5");
    PushButton3 = Named<PushButton>("PushButton3", Text("Test Connection"));
    PushButton5 = Named<PushButton>("PushButton5", Text("Help"));

    Frame2 = Named<QGroupBox>(
        "Frame2", Text("PostgreSQL Database #2 (Note: Login can be the same as #1)"), this);
    Label7 = Named<QLabel>("Label7", Text("Server:"));
    Text6 = Field("Text6");
    Label9 = Named<QLabel>("Label9", Text("Port:"));
    Text7 = Field("Text7");
    Label5 = Named<QLabel>("Label5", Text("Username:"));
    Text8 = Field("Text8");
    Label8 = Named<QLabel>("Label8", Text("Password:"));
    Text9 = Field("Text9", true);
    Label10 = Named<QLabel>("Label10", Text("Database:"));
    Text10 = Field("Text10");
    PushButton6 = Named<PushButton>("PushButton6", Text("Test Connection"));
    PushButton1 = Named<PushButton>("PushButton1", Text("Help"));

    Frame3 = Named<QGroupBox>("Frame3", Text("Other Software"), this);
    PushButton4 = Named<PushButton>("PushButton4", Text(kLinkCaption));
    PushButton2 = Named<PushButton>("PushButton2", Text("Next >"), this);

    // Each label names its field, for the keyboard and for assistive technology.
    const std::pair<QLabel*, QLineEdit*> buddies[] = {
        {Label2, Text1}, {Label3, Text2}, {Label1, Text3}, {Label4, Text4}, {Label6, Text5},
        {Label7, Text6}, {Label9, Text7}, {Label5, Text8}, {Label8, Text9}, {Label10, Text10}};
    for (const auto& [label, field] : buddies) {
        label->setBuddy(field);
        field->setAccessibleName(label->text().chopped(1));
    }
}

void Form1::ArrangeControls() {
    const auto profile_frame = [](QGroupBox* frame, QLabel* server_label, QLineEdit* server,
                                  QLabel* port_label, QLineEdit* port, QLabel* user_label,
                                  QLineEdit* user, QLabel* password_label, QLineEdit* password,
                                  QLabel* database_label, QLineEdit* database, PushButton* test,
                                  PushButton* help) {
        auto* grid = new QGridLayout(frame);
        grid->setHorizontalSpacing(8);
        grid->setVerticalSpacing(6);
        port->setFixedWidth(64);
        grid->addWidget(server_label, 0, 0);
        grid->addWidget(server, 0, 1);
        grid->addWidget(port_label, 0, 2);
        grid->addWidget(port, 0, 3);
        grid->addWidget(user_label, 1, 0);
        grid->addWidget(user, 1, 1, 1, 3);
        grid->addWidget(password_label, 2, 0);
        grid->addWidget(password, 2, 1, 1, 3);
        grid->addWidget(database_label, 3, 0);
        grid->addWidget(database, 3, 1, 1, 3);
        grid->setColumnStretch(1, 1);
        auto* buttons = new QHBoxLayout;
        buttons->addWidget(test, 1);
        buttons->addWidget(help, 1);
        grid->addLayout(buttons, 4, 0, 1, 4);
    };
    profile_frame(Frame1, Label2, Text1, Label3, Text2, Label1, Text3, Label4, Text4, Label6, Text5,
                  PushButton3, PushButton5);
    profile_frame(Frame2, Label7, Text6, Label9, Text7, Label5, Text8, Label8, Text9, Label10,
                  Text10, PushButton6, PushButton1);

    auto* link = new QHBoxLayout(Frame3);
    link->addWidget(PushButton4);

    auto* screen = new QVBoxLayout(this);
    screen->setContentsMargins(10, 8, 10, 10);
    screen->setSpacing(8);
    screen->addWidget(Frame1);
    screen->addWidget(Frame2);
    screen->addWidget(Frame3);
    screen->addStretch(1);
    screen->addWidget(PushButton2);
    PushButton2->setMinimumHeight(36);

    // The focus cycle: the ten fields, then the buttons of both frames, "Next >", the link.
    QWidget* const order[] = {Text1,       Text2,       Text3,       Text4,
                              Text5,       Text6,       Text7,       Text8,
                              Text9,       Text10,      PushButton3, PushButton5,
                              PushButton6, PushButton1, PushButton2, PushButton4};
    for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

void Form1::WireControls() {
    WireField(Text1, "Server");
    WireField(Text2, "Port");
    WireField(Text3, "User");
    WireField(Text4, "Password");
    WireField(Text5, "Database");
    WireField(Text6, "Server2");
    WireField(Text7, "Port2");
    WireField(Text8, "User2");
    WireField(Text9, "Password2");
    WireField(Text10, "Database2");

    // Every command of this screen starts an operation or a modal box: while a listing or an
    // append is processing events, a press is ignored rather than run inside it.
    const std::pair<PushButton*, void (Form1::*)()> commands[] = {
        {PushButton1, &Form1::PushButton1_Click}, {PushButton2, &Form1::PushButton2_Click},
        {PushButton3, &Form1::PushButton3_Click}, {PushButton4, &Form1::PushButton4_Click},
        {PushButton5, &Form1::PushButton5_Click}, {PushButton6, &Form1::PushButton6_Click}};
    for (const auto& [button, handler] : commands) {
        connect(button, &PushButton::clicked, this, [this, handler = handler] {
            if (!ActivityScope::AnyRunning()) (this->*handler)();
        });
    }

    // The hover rule: the hand over every push button, the default pointer over the screen,
    // its frames and five of the fields; never over a busy pointer.
    for (PushButton* button :
         {PushButton1, PushButton2, PushButton3, PushButton4, PushButton5, PushButton6})
        pointer_->WatchPushButton(button);
    for (QWidget* element : std::initializer_list<QWidget*>{this, Frame1, Frame2, Frame3, Text1,
                                                            Text2, Text5, Text6, Text10})
        pointer_->WatchResetElement(element);
}

void Form1::WireField(QLineEdit* field, const char* key) {
    const QString name = QString::fromLatin1(key);
    // Every change, typed or set by start-up, is stored at once.
    connect(field, &QLineEdit::textChanged, this, [this, field, name](const QString& text) {
        if (store_.Save(name, text)) {
            settings_failure_reported_ = false;
            return;
        }
        // Reported once, not at every keystroke, until a change can be written again.
        if (std::exchange(settings_failure_reported_, true)) return;
        ErrorTrap trap(LocationText("Form1", field->objectName().toStdString() + "_Change"),
                       *host_);
        trap.Step(0, [&] {
            throw std::runtime_error("The settings could not be saved in " +
                                     store_.FilePath().toStdString() +
                                     ". Changes to the profiles will be lost when the program "
                                     "ends.");
        });
    });
}

Profile Form1::Profile1() const {
    return Profile{Text1->text().toStdString(), Text2->text().toStdString(),
                   Text3->text().toStdString(), Text4->text().toStdString(),
                   Text5->text().toStdString()};
}

Profile Form1::Profile2() const {
    return Profile{Text6->text().toStdString(), Text7->text().toStdString(),
                   Text8->text().toStdString(), Text9->text().toStdString(),
                   Text10->text().toStdString()};
}

Form2& Form1::form2() {
    if (!form2_) {
        form2_ = std::make_unique<Form2>(*this);
        form2_->Form_Load();
    }
    return *form2_;
}

void Form1::showEvent(QShowEvent* event) {
    if (!shown_before_ && !event->spontaneous()) {
        shown_before_ = true;
        if (const QScreen* screen = QApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    QWidget::showEvent(event);
}

}  // namespace trp
