#pragma once

#include <QObject>
#include <QString>
#include <QWidget>

namespace trp {

// The skinning engine of the connection screen. A skin file holds a Qt style sheet; the engine
// loads it and applies it to windows. Its members keep the numbers start-up addresses them by:
//   1 ApplyOptions (bit 1: skin the windows handed to ApplyWindow; other bits are kept unused)
//   2 LoadSkin(path, ini_name)
//   3 ApplyWindow(window id)
//   5 AutoApplyNewWindows: windows first shown later (the table selection screen) get the skin too
//  10 AutoApplyNewThreads: kept for the caller; this program draws from one thread only
class SkinEngine : public QObject {
    Q_OBJECT
public:
    enum : int { kApplySkin = 1 };

    explicit SkinEngine(QObject* parent = nullptr) : QObject(parent) {}

    // Reads the style sheet. `ini_name` would pick a section of a multi-skin file; ours hold
    // one skin. Throws std::runtime_error when the file cannot be read.
    void LoadSkin(const QString& path, const QString& ini_name);
    int ApplyOptions() const { return options_; }
    void SetApplyOptions(int options) { options_ = options; }
    bool AutoApplyNewWindows() const { return auto_new_windows_; }
    void SetAutoApplyNewWindows(bool on);
    bool AutoApplyNewThreads() const { return auto_new_threads_; }
    void SetAutoApplyNewThreads(bool on) { auto_new_threads_ = on; }
    // Skins the window with that id. Throws std::runtime_error for an unknown window or when no
    // skin is loaded.
    void ApplyWindow(WId window);

    bool Loaded() const { return loaded_; }
    const QString& StyleSheet() const { return style_sheet_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Apply(QWidget& window);

    QString style_sheet_;
    bool loaded_ = false;
    int options_ = 0;
    bool auto_new_windows_ = false;
    bool auto_new_threads_ = false;
};

// The optional skin of the connection screen: when `folder` + "/x/o.cjs" is a normal file, the
// screen takes the button-face colours and the engine loads the skin and applies it. Failures of
// the engine pass to the caller's error trap, leaving the later steps undone.
void ApplySkin(QWidget& screen, SkinEngine& engine, const QString& folder);

// The skin file counts only as a normal file: a readable regular file (after symbolic links)
// that is not hidden, i.e. neither its name nor the name it links to begins with a dot.
bool IsNormalSkinFile(const QString& path);

}  // namespace trp
