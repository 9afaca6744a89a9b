#pragma once
// What scene code needs of the window that shows it: pushing a command onto
// the undo history, message boxes, repaints, the selection box, the build
// volume and the view ray for picking. (What the view alone needs of the
// window is view/ViewHost.h.) The main window implements it; until one is
// installed (tools, tests without a window) a BasicSceneHost answers: it keeps
// its own command manager, logs every message and answers it with the default
// button, repaints nothing and reads the current printer's build volume.
#include <QString>

#include <memory>

class AbtCommand;
class CommandManager;
class QPoint;

// The message icons and the button the scene asks for, with QMessageBox's
// values: the scene links no widget, and the window hands them on unchanged.
namespace SceneMessage {
constexpr int Information = 1;
constexpr int Warning = 2;
constexpr int Critical = 3;
constexpr int Ok = 0x00000400;
} // namespace SceneMessage

class SceneHost {
public:
    virtual ~SceneHost();

    // Executes cmd through the command manager. On success the command is kept
    // (the caller must not touch it again) and, with repaint, the view repaints;
    // true. On refusal (null, execute false, or an exception) a non-null cmd is
    // deleted here and false is returned.
    virtual bool pushCommand(AbtCommand* cmd, bool repaint) = 0;
    // The command manager of the current scene (never null).
    virtual CommandManager* commandManager() = 0;

    // A modal message box titled "Velar3D". icon: QMessageBox::Icon values (1
    // information, 2 warning, 3 critical); buttons and defaultButton:
    // QMessageBox::StandardButton values (SceneMessage names those the scene
    // uses). Returns the pressed button. Safe from
    // any thread; a worker waits for the answer, so a worker must not call it
    // while the GUI thread waits for that worker.
    virtual int showMessage(const QString& text, int icon, int buttons, int defaultButton) = 0;

    // Repaint of the 3D view; the view's selection box follows the selection;
    // the slice preview re-reads the scene's height range when it is shown.
    virtual void updateGLView() = 0;
    virtual void updateSelectionBox() = 0;
    virtual void refreshZSliceView() = 0;

    // Width, depth and height of the printer's build volume in mm.
    virtual void getBuildVolume(double out[3]) = 0;

    // Picking support. The world point under the widget point p: at the depth
    // read from the depth buffer when depth < 0, else at the given window depth
    // (0..1). False when there is no view to ask.
    virtual bool unprojectScreenPoint(const QPoint& p, double depth, double out[3]) = 0;
    // The direction the camera looks along (not necessarily unit).
    virtual void viewAxis(double out[3]) = 0;
};

// The stand-in used when no window is installed; tests derive their fakes from
// it and override what they observe.
class BasicSceneHost : public SceneHost {
public:
    BasicSceneHost();
    ~BasicSceneHost() override;

    bool pushCommand(AbtCommand* cmd, bool repaint) override;
    CommandManager* commandManager() override;
    // Logs "MESSAGE: " and the text; answers defaultButton (Ok when 0).
    int showMessage(const QString& text, int icon, int buttons, int defaultButton) override;
    void updateGLView() override {}
    void updateSelectionBox() override {}
    void refreshZSliceView() override {}
    // The current printer's build volume (currentBuildVolume).
    void getBuildVolume(double out[3]) override;
    bool unprojectScreenPoint(const QPoint&, double, double*) override { return false; }
    void viewAxis(double out[3]) override;

private:
    std::unique_ptr<CommandManager> m_commands;
};

// The installed host, or the process-wide BasicSceneHost when none is. Safe
// from any thread.
SceneHost* sceneHost();
// Installs host (not owned; null restores the stand-in). The caller keeps the
// host alive while it is installed.
void setSceneHost(SceneHost* host);
