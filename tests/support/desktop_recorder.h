#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>
#include <vector>

namespace trp::test {

// A session bus of the test's own: a dbus-daemon with a configuration in a temporary folder,
// killed when the object goes. Nothing on it can be started on demand.
class SessionBus {
public:
    SessionBus();
    ~SessionBus();
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    // The value for DBUS_SESSION_BUS_ADDRESS; empty when the daemon did not start.
    QString Address() const { return address_; }

private:
    QTemporaryDir folder_;
    QProcess daemon_;
    QString address_;
};

// Listens on a bus as a desktop does: serves org.freedesktop.Notifications (unless told not to),
// answering each Notify with the next id from 1 on, and hears every
// com.canonical.Unity.LauncherEntry Update, keeping both in the order they came.
class DesktopRecorder : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Heard {
        bool notify = false;  // a Notify call, else a launcher's Update
        QString app;          // Notify's app_name, Update's application id
        uint replaces = 0;
        uint id = 0;  // the id Notify was answered with
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap map;  // Notify's hints, Update's properties
    };

    DesktopRecorder(const QString& address, bool serve_notifications = true);
    ~DesktopRecorder() override;

    // Takes in everything sent to the bus before this call.
    void Settle();
    // What a click on notification `id` sends.
    void InvokeAction(uint id, const QString& action);
    std::vector<Heard> Notifications() const;
    std::vector<QVariantMap> LauncherUpdates() const;

    std::vector<Heard> heard;

public slots:
    Q_SCRIPTABLE uint Notify(const QString& app_name, uint replaces_id, const QString& app_icon,
                             const QString& summary, const QString& body,
                             const QStringList& actions, const QVariantMap& hints,
                             int expire_timeout);
    Q_SCRIPTABLE QStringList GetCapabilities() const;
    void Update(const QString& app_uri, const QVariantMap& properties);

private:
    QDBusConnection bus_;
    uint next_id_ = 1;
};

}  // namespace trp::test
