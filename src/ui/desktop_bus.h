#pragma once

#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

#include "ui/run_presence.h"

namespace trp {

// The launcher entry's application id: the desktop file the package installs.
QString LauncherAppUri();

// Tells the desktop over D-Bus, in the ways desktops commonly listen: notifications through
// org.freedesktop.Notifications, progress and the urgent mark through the
// com.canonical.Unity.LauncherEntry signal (KDE Plasma, Dash to Dock, Unity). Without a bus or
// a notification service nothing happens and nothing is reported. Calls never wait for the
// desktop, so a run is not slowed by it.
class DesktopBus : public QObject {
    Q_OBJECT
public:
    // `raise` brings the program's window to the front when the user clicks a notification.
    DesktopBus(const QDBusConnection& bus, std::function<void()> raise);
    // Sends a notification still held back, and waits, briefly, until what was sent has left, so
    // that a program that ends at once neither loses its last notification nor leaves the
    // launcher with the last progress it showed.
    ~DesktopBus() override;
    DesktopBus(const DesktopBus&) = delete;
    DesktopBus& operator=(const DesktopBus&) = delete;

    // A notification in the place of the last one shown.
    void Notify(const QString& summary, const QString& body);
    void ShowLauncher(const LauncherState& state);

private slots:
    void ActionInvoked(uint id, const QString& action);

private:
    struct Note {
        QString summary;
        QString body;
    };
    QDBusMessage NotifyCall(const Note& note) const;
    void Send(const Note& note);
    void Answered(const QDBusPendingCall& call);

    QDBusConnection bus_;
    std::function<void()> raise_;
    uint shown_ = 0;  // the server's id of the last notification
    // A Notify whose id is not known yet, and the one to be sent once it is.
    std::optional<QDBusPendingCall> in_flight_;
    std::optional<Note> next_;
    bool sent_ = false;
};

// Clears what a launcher may still show of an earlier run of the program (some docks keep it).
void ClearLauncher(const QDBusConnection& bus);

}  // namespace trp
