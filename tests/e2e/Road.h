#pragma once
// The whole road a user takes through the real main window, one step per
// function: the window is built and started as the program's main does, file
// dialogs are answered by a stand-in provider, everything else goes through
// the window's buttons, keys, menus and the 3D view's mouse. The end-to-end
// test checks what each step shows; the road benchmark times them.
#include "scene/ViewMode.h"
#include "ui/FileDialogProvider.h"

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>

class MainWindow;
class QTimer;
class ObjectEx;

namespace road {

// Answers the window's file dialogs with prepared names.
class AnsweringDialogs : public FileDialogProvider {
public:
    QStringList openFileNames(QWidget*, const QString& caption, const QString& start,
                              const QString&) override {
        lastCaption = caption;
        lastStart = start;
        return openAnswer;
    }
    QString saveFileName(QWidget*, const QString& caption, const QString& start, const QString&,
                         QString*) override {
        lastCaption = caption;
        lastStart = start;
        return saveAnswer;
    }
    QStringList openAnswer;
    QString saveAnswer;
    // The caption and the start folder or path of the last dialog asked.
    QString lastCaption;
    QString lastStart;
};

// Pixels of an image region by what a user would call them.
struct ColourCount {
    int cyan = 0;    // the selected object's shade
    int grey = 0;    // an unselected object (mid grey, lit)
    int support = 0; // supports: red and green well above blue
    int section = 0; // the slice preview's cross-section: green
    int total = 0;
};
ColourCount countColours(const QImage& image, const QRect& region);

// Answers modal file dialogs as a user does: types path into the file name
// box and presses Return, as long as the returned timer lives.
QTimer* typeIntoNextFileDialog(const QString& path);

class Road {
public:
    // workDir receives the models, the project and the G-code; the program's
    // data folder (log, parameters) goes to workDir/data.
    explicit Road(const QString& workDir);
    ~Road();

    // Writes the two models: a 20 mm sphere of 1280 facets and a torus of
    // 1,000,000 facets (binary STL).
    void writeModels();
    // The program's start as main does it, the window shown at 1400 x 900.
    bool start();
    // The Import button with both files chosen in the dialog; waits for the
    // batch's end.
    bool importModels();
    // The Import button with files chosen in the dialog; waits until each is
    // loaded. False when the scene did not grow by that many objects.
    bool importFiles(const QStringList& files);
    // A left click on the sphere in the view.
    bool selectSphere();
    // The Orientate button, then a drag of the manipulator's +X arrow by
    // 60 pixels: one move command.
    bool moveSphere();
    // A drag round the manipulator's Z ring by 45 degrees: one rotate command.
    bool rotateSphere();
    // The Scale button, 50 typed into the X factor (the ratio kept), Apply.
    bool scaleSphereHalf();
    // A click on the torus's top, the Hollow button, a 2 mm wall typed into
    // "Offset", "Make Holes" and a click on the torus's top for one drain
    // hole, "Ok": the torus replaced by its hollowed copy.
    bool hollowTorus();
    // The point at the top of the torus's tube on its +X side.
    void torusTop(double out[3]);
    // The Z slice button: the cross-section at the middle of the scene.
    bool openSlicePreview();
    // Moves the slider to value (0..100 of the scene's height); waits for
    // the cross-section at the new height.
    bool moveSliceSlider(int value);
    // The height of the shown cross-section (NaN without one).
    double sliceHeight();
    // A click on the sphere, the "Export to gcode" button, "Selected", the
    // first profile, "Export" with gcodePath typed into the save dialog;
    // waits for the slicer. The run's layer count, or -1 when it failed.
    int exportSphereGcode(const QString& gcodePath);
    // File > Save Project with path given in the save dialog; waits for the
    // file.
    bool saveProject(const QString& path);
    // File > New Project: an empty scene.
    bool newProject();
    // File > Open Project with path chosen; waits until the objects are back.
    bool openProject(const QString& path, int objects);
    // Undo and Redo from the Edit menu.
    void undo();
    void redo();
    // Key G (Auto Support) for the selection.
    bool generateSupports();
    // Key A, then a click on the sphere's side: one cone more.
    bool addSupportPoint();
    // Key D, then a click on one of the sphere's cones: one cone fewer.
    bool deleteSupportPoint();

    // What the user sees and gets.
    QImage screenshot();
    // The screen rectangle of an object's bounding box in the view's pixels.
    QRect screenBox(const ObjectEx* obj);
    // The view pixel of a world point.
    QPoint screenOf(double x, double y, double z);
    QString logText() const;
    int liveCones(const ObjectEx* obj) const;

    // A key pressed and released in the window (its shortcuts act on release).
    void releaseKey(int key);
    // Mouse events at a point of the view as the window system delivers them:
    // through the view's native window, where Qt also derives its context-menu
    // event from the right button, as it does for a real mouse.
    void pressInView(Qt::MouseButton button, const QPoint& p);
    void moveInView(const QPoint& p); // with the buttons pressed before held
    void releaseInView(Qt::MouseButton button, const QPoint& p);

    MainWindow* window = nullptr;
    ObjectEx* sphere = nullptr;
    ObjectEx* torus = nullptr;
    QString spherePath, torusPath, dataDir;
    AnsweringDialogs dialogs;
    // The texts of the message boxes that came up (each answered with its
    // default button).
    QStringList messages;

private:
    // The window as a new one shows it: no slice preview, an untitled empty
    // project with no panel open and an empty history.
    void resetWindow();
    // Triggers a menu action with its file dialog answered by path (through
    // the window's dialog provider, or typed into a real dialog).
    void triggerWithFileAnswer(const char* action, const QString& path);
    // Presses key and checks the view's mode; the sphere's live cones, or -1.
    int enterSupportMode(int key, ViewMode mode);
    void clickView(const QPoint& p);
    void hoverView(const QPoint& p);
    // A left-button drag from a through at(1) .. at(6), released at at(6).
    void dragView(const QPoint& a, const QPoint& b);
    void dragView(const QPoint& a, const std::function<QPoint(int)>& at);
    // How far along the line (dx, dy) from the manipulator's centre, in
    // steps of 0.25 mm, the view first hovers part; -1 when nowhere.
    double findManipulatorPart(int part, double dx, double dy);
    QString _workDir;
    QString _logPath;
    int _shots = 0;
    // Answers message boxes for this road; it reads the road, so it goes with it.
    QTimer* _messageGuard = nullptr;
};

} // namespace road
