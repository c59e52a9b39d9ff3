#include "ui/desktop_bus.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>
#include <utility>

#include "base/product_name.h"
#include "ui/title_and_icon.h"

namespace trp {
namespace {

const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");
const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");
// How long an answer of the bus or the notification service may take.
constexpr int kAnswerMilliseconds = 2000;

// The notification's body may hold markup where the server takes it; a table's name is text.
QString BodyText(const QString& text) {
    QString escaped = text;
    escaped.replace(u'&', QStringLiteral("&amp;"));
    escaped.replace(u'<', QStringLiteral("&lt;"));
    escaped.replace(u'>', QStringLiteral("&gt;"));
    return escaped;
}

void SendLauncher(const QDBusConnection& bus, const LauncherState& state) {
    QDBusMessage update = QDBusMessage::createSignal(
        QStringLiteral("/com/canonical/unity/launcherentry/TessalineRowPorter"),
        QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    update << LauncherAppUri()
           << QVariantMap{{QStringLiteral("progress"), state.progress},
                          {QStringLiteral("progress-visible"), state.progress_visible},
                          {QStringLiteral("urgent"), state.urgent}};
    bus.send(update);
}

}  // namespace

QString LauncherAppUri() {
    return QStringLiteral("application://%1.desktop").arg(QLatin1String(kDesktopFileName));
}

DesktopBus::DesktopBus(const QDBusConnection& bus, std::function<void()> raise)
    : bus_(bus), raise_(std::move(raise)) {
    if (bus_.isConnected())
        bus_.connect(kNotifications, kNotificationsPath, kNotifications,
                     QStringLiteral("ActionInvoked"), this, SLOT(ActionInvoked(uint, QString)));
}

DesktopBus::~DesktopBus() {
    if (!sent_ || !bus_.isConnected()) return;
    if (in_flight_ && next_) {
        in_flight_->waitForFinished();
        const QDBusPendingReply<uint> reply = *in_flight_;
        if (!reply.isError()) shown_ = reply.value();
        bus_.send(NotifyCall(*next_));
    }
    // Messages leave in order: once the bus answers, everything sent before has reached it.
    bus_.call(QDBusMessage::createMethodCall(
                  QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                  QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")),
              QDBus::Block, kAnswerMilliseconds);
}

void DesktopBus::Notify(const QString& summary, const QString& body) {
    if (!bus_.isConnected()) return;
    // A second notification before the server named the first would not replace it.
    if (in_flight_) {
        next_ = Note{summary, body};
        return;
    }
    Send({summary, body});
}

QDBusMessage DesktopBus::NotifyCall(const Note& note) const {
    QDBusMessage call = QDBusMessage::createMethodCall(kNotifications, kNotificationsPath,
                                                       kNotifications, QStringLiteral("Notify"));
    // Clicking the notification ("default") raises the window, where the desktop offers that.
    call << ShortenTitle(QString::fromUtf8(kProductName)) << shown_
         << QStringLiteral("tessaline-row-porter") << note.summary << BodyText(note.body)
         << QStringList{QStringLiteral("default"), QStringLiteral("Show")}
         << QVariantMap{{QStringLiteral("desktop-entry"), QLatin1String(kDesktopFileName)}}
         << qint32(-1);
    return call;
}

void DesktopBus::Send(const Note& note) {
    in_flight_ = bus_.asyncCall(NotifyCall(note), kAnswerMilliseconds);
    sent_ = true;
    auto* watcher = new QDBusPendingCallWatcher(*in_flight_, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                Answered(*finished);
            });
}

void DesktopBus::Answered(const QDBusPendingCall& call) {
    in_flight_.reset();
    // Without a notification service there is nothing to replace, nor to tell.
    const QDBusPendingReply<uint> reply = call;
    if (!reply.isError()) shown_ = reply.value();
    if (next_) Send(*std::exchange(next_, std::nullopt));
}

void DesktopBus::ShowLauncher(const LauncherState& state) {
    if (!bus_.isConnected()) return;
    SendLauncher(bus_, state);
    sent_ = true;
}

void DesktopBus::ActionInvoked(uint id, const QString& action) {
    if (id != 0 && id == shown_ && action == QLatin1String("default") && raise_) raise_();
}

void ClearLauncher(const QDBusConnection& bus) {
    if (bus.isConnected()) SendLauncher(bus, {});
}

}  // namespace trp
