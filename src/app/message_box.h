#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace trp {

// Every modal message of the program goes through here, so that tests can read and answer them.
class MessageBox {
public:
    enum class Icon { None, Warning };
    // The buttons of a box that offers to stop an append.
    enum class Choice { Ok, StopAppending };
    struct Shown {
        QString text;
        QString title;
        Icon icon = Icon::None;
        bool offers_stop = false;  // it had the "Stop Appending" button
    };
    using Recorder = std::function<void(const Shown&)>;

    // A modal box with one OK button over `parent` (its screen; the active window when none is
    // given); returns when it is closed. Without a title of its own the box shows the
    // application title.
    static void Show(const QString& text, Icon icon = Icon::None, const QString& title = {},
                     QWidget* parent = nullptr);
    // The same with a second button, "Stop Appending". "OK" is the default; Escape and the box's
    // close button count as "OK".
    static Choice ShowOfferingStop(const QString& text, Icon icon, const QString& title,
                                   QWidget* parent = nullptr);

    // While a recorder is set, boxes are handed to it instead of being shown, and count as
    // answered at once. An empty recorder restores real boxes.
    static void SetRecorder(Recorder recorder);
    // The answer the next recorded box with a choice gets (afterwards "OK" again).
    static void SetNextChoice(Choice choice);
};

// The application title, "Tessaline Row Porter" once SetAppTitle has run at start-up.
QString AppTitle();
void SetAppTitleText(const QString& title);

}  // namespace trp
