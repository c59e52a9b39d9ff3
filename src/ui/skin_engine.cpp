#include "ui/skin_engine.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <stdexcept>

#include "ui/form_colors.h"

namespace trp {

void SkinEngine::LoadSkin(const QString& path, const QString& /*ini_name*/) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("The skin file could not be loaded: " + path.toStdString());
    style_sheet_ = QString::fromUtf8(file.readAll());
    loaded_ = true;
}

void SkinEngine::SetAutoApplyNewWindows(bool on) {
    if (on == auto_new_windows_) return;
    auto_new_windows_ = on;
    if (on)
        qApp->installEventFilter(this);
    else
        qApp->removeEventFilter(this);
}

void SkinEngine::ApplyWindow(WId window) {
    QWidget* widget = QWidget::find(window);
    if (!widget) throw std::runtime_error("Invalid window handle");
    if (!loaded_) throw std::runtime_error("No skin is loaded");
    if (options_ & kApplySkin) Apply(*widget);
}

void SkinEngine::Apply(QWidget& window) {
    if (window.property("trpSkinned").toBool()) return;
    window.setStyleSheet(style_sheet_);
    window.setProperty("trpSkinned", true);
}

bool SkinEngine::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && loaded_ && (options_ & kApplySkin)) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->isWindow()) Apply(*widget);
    }
    return QObject::eventFilter(watched, event);
}

bool IsNormalSkinFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile() || !info.isReadable() || info.isHidden()) return false;
    if (info.isSymLink() && QFileInfo(info.symLinkTarget()).fileName().startsWith(u'.'))
        return false;
    return true;
}

void ApplySkin(QWidget& screen, SkinEngine& engine, const QString& folder) {
    const QString path = folder + QStringLiteral("/x/o.cjs");
    if (!IsNormalSkinFile(path)) return;
    SetFormColors(screen);
    engine.LoadSkin(path, QString());
    engine.SetApplyOptions(engine.ApplyOptions() | 1);
    engine.SetAutoApplyNewWindows(true);
    engine.SetAutoApplyNewThreads(true);
    engine.ApplyWindow(screen.winId());
}

}  // namespace trp
