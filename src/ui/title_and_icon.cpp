#include "ui/title_and_icon.h"

#include <stdexcept>

#include "ui/message_box.h"

// The resources live in the static library; naming their initialiser keeps the linker from
// dropping them. Q_INIT_RESOURCE must be used outside any namespace.
static void InitialiseResources() {
    Q_INIT_RESOURCE(resources);
}

namespace trp {

QString ShortenTitle(const QString& name) {
    QString title = name;
    do {
        const qsizetype blank = title.lastIndexOf(QChar(u' '));
        if (blank < 0) throw std::invalid_argument("Invalid procedure call or argument");
        title.truncate(blank);
    } while (title.size() > 40);
    return title;
}

void SetAppTitle() {
    SetAppTitleText(ShortenTitle(QString::fromUtf8(kProductName)));
}

QIcon ApplicationIcon() {
    static const bool initialised = (InitialiseResources(), true);
    (void)initialised;
    return QIcon(QStringLiteral(":/tessaline-icon.png"));
}

}  // namespace trp
