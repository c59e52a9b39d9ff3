#pragma once

#include <QString>
#include <functional>

namespace trp {

// Every modal message of the program goes through here, so that tests can read and answer them.
class MessageBox {
public:
    enum class Icon { None, Warning };
    struct Shown {
        QString text;
        QString title;
        Icon icon = Icon::None;
    };
    using Recorder = std::function<void(const Shown&)>;

    // A modal box with one OK button over the active window; returns when it is closed.
    // Without a title of its own the box shows the application title.
    static void Show(const QString& text, Icon icon = Icon::None, const QString& title = {});

    // While a recorder is set, boxes are handed to it instead of being shown, and count as
    // answered at once. An empty recorder restores real boxes.
    static void SetRecorder(Recorder recorder);
};

// The application title, "Tessaline Row Porter" once SetAppTitle has run at start-up.
QString AppTitle();
void SetAppTitleText(const QString& title);

}  // namespace trp
