#include "support/desktop_recorder.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QFile>
#include <QUuid>
#include <algorithm>

namespace trp::test {
namespace {

const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");
const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");

}  // namespace

SessionBus::SessionBus() {
    if (!folder_.isValid()) return;
    const QString config = folder_.filePath(QStringLiteral("session.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write(
        QStringLiteral(
            R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
            .arg(folder_.filePath(QStringLiteral("bus")))
            .toUtf8());
    file.close();
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                   QStringLiteral("--print-address")});
    if (!daemon_.waitForStarted(10000)) return;
    while (!daemon_.canReadLine() && daemon_.waitForReadyRead(10000)) {
    }
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
}

SessionBus::~SessionBus() {
    if (daemon_.state() == QProcess::NotRunning) return;
    daemon_.kill();
    daemon_.waitForFinished(10000);
}

DesktopRecorder::DesktopRecorder(const QString& address, bool serve_notifications)
    : bus_(QDBusConnection::connectToBus(
          address, QStringLiteral("recorder-") + QUuid::createUuid().toString())) {
    if (serve_notifications) {
        bus_.registerObject(kNotificationsPath, this, QDBusConnection::ExportScriptableSlots);
        bus_.registerService(kNotifications);
    }
    bus_.connect({}, {}, QStringLiteral("com.canonical.Unity.LauncherEntry"),
                 QStringLiteral("Update"), this, SLOT(Update(QString, QVariantMap)));
    Settle();
}

DesktopRecorder::~DesktopRecorder() {
    const QString name = bus_.name();
    bus_ = QDBusConnection(QString());
    QDBusConnection::disconnectFromBus(name);
}

void DesktopRecorder::Settle() {
    // The bus answers in order: what was sent before the ping is here once the answer is.
    bus_.call(QDBusMessage::createMethodCall(
                  QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                  QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")),
              QDBus::Block, 10000);
    QCoreApplication::processEvents();
}

void DesktopRecorder::InvokeAction(uint id, const QString& action) {
    QDBusMessage signal =
        QDBusMessage::createSignal(kNotificationsPath, kNotifications, "ActionInvoked");
    signal << id << action;
    bus_.send(signal);
}

uint DesktopRecorder::Notify(const QString& app_name, uint replaces_id, const QString& /*icon*/,
                             const QString& summary, const QString& body,
                             const QStringList& actions, const QVariantMap& hints,
                             int /*expire_timeout*/) {
    const uint id = replaces_id ? replaces_id : next_id_++;
    heard.push_back({true, app_name, replaces_id, id, summary, body, actions, hints});
    return id;
}

QStringList DesktopRecorder::GetCapabilities() const {
    return {QStringLiteral("actions"), QStringLiteral("body"), QStringLiteral("body-markup")};
}

void DesktopRecorder::Update(const QString& app_uri, const QVariantMap& properties) {
    heard.push_back({false, app_uri, 0, 0, {}, {}, {}, properties});
}

std::vector<DesktopRecorder::Heard> DesktopRecorder::Notifications() const {
    std::vector<Heard> notes;
    std::copy_if(heard.begin(), heard.end(), std::back_inserter(notes),
                 [](const Heard& one) { return one.notify; });
    return notes;
}

std::vector<QVariantMap> DesktopRecorder::LauncherUpdates() const {
    std::vector<QVariantMap> updates;
    for (const Heard& one : heard)
        if (!one.notify) updates.push_back(one.map);
    return updates;
}

}  // namespace trp::test
