#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QUrl;
class QWidget;

namespace trp {

// Every modal message of the program goes through here, so that tests can read and answer them.
class MessageBox {
public:
    enum class Icon { None, Warning };
    // The buttons of a box that offers a choice besides "OK".
    enum class Choice { Ok, StopAppending, IgnoreAll, ShowRefusedRows };
    struct Shown {
        QString text;
        QString title;
        Icon icon = Icon::None;
        bool offers_stop = false;  // it had the "Stop Appending" button
        QString informative;       // the smaller text below the message, if any
        QStringList buttons;       // the captions of its buttons, "OK" first
    };
    using Recorder = std::function<void(const Shown&)>;
    // Opens a folder's address in the desktop's file manager; false when that failed.
    using UrlOpener = std::function<bool(const QUrl&)>;

    // A modal box with one OK button over `parent` (its screen; the active window when none is
    // given); returns when it is closed. Without a title of its own the box shows the
    // application title.
    static void Show(const QString& text, Icon icon = Icon::None, const QString& title = {},
                     QWidget* parent = nullptr);
    // The report of a refused row: the same with two more buttons, "Stop Appending" and
    // "Ignore All". "OK" is the default; Escape and the box's close button count as "OK".
    static Choice ShowOfferingStop(const QString& text, Icon icon, const QString& title,
                                   QWidget* parent = nullptr);
    // The last message of a run that refused rows: `text` as Show shows it, `informative` below
    // it, and a second button, "Show Refused Rows", that closes the box as "OK" does and opens
    // `folder` in the desktop's file manager. "OK" is the default and the Escape answer.
    static Choice ShowWithRefusedRows(const QString& text, const QString& informative,
                                      const QString& folder, QWidget* parent = nullptr);

    // While a recorder is set, boxes are handed to it instead of being shown, and count as
    // answered at once. An empty recorder restores real boxes.
    static void SetRecorder(Recorder recorder);
    // The answer the next recorded box with a choice gets (afterwards "OK" again); a choice the
    // box does not offer counts as "OK".
    static void SetNextChoice(Choice choice);
    // Takes the place of the desktop's file manager (for tests); an empty opener restores it.
    static void SetUrlOpener(UrlOpener opener);
};

// The application title, "Tessaline Row Porter" once SetAppTitle has run at start-up.
QString AppTitle();
void SetAppTitleText(const QString& title);

}  // namespace trp
