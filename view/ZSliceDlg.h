#pragma once
// The slice preview's side panel: a slider and a number box for the height, a
// button that shows or hides the fill and one that keeps the part below or
// above the height. It owns the renderer and the slicing thread.
//
// Scene changes: whoever changes meshes or the object list while the panel
// exists brackets the change with beginSceneChange / endSceneChange (or a
// SceneChange guard): slicing pauses and the shown cross-section is dropped
// first, and afterwards the scene is read again and cut at the current height.
#include "app/VlrBaseWidget.h"

#include <memory>

class QDoubleSpinBox;
class QPushButton;
class QSlider;
class QTimer;
class SliceRender;
class SlicingThread;

class ZSliceDlg : public VlrBaseWidget {
    Q_OBJECT
public:
    explicit ZSliceDlg(QWidget* parent = nullptr);
    // Stops the slicing thread before the renderer it uses goes away.
    ~ZSliceDlg() override;

    // The 3D view that shows the preview (repainted on changes; not owned).
    void setView(QWidget* view) { _view = view; }

    // Makes the renderer and the thread; the main window then hands renderer()
    // to the view. Called once, right after construction.
    void startPreview();
    // Opens the preview (tool button checked): reads the scene's height range
    // and cuts at its middle. With no visible object nothing runs.
    void initSlicing();
    // Closes the preview (tool button unchecked): stops the thread (cooperatively)
    // and disables the renderer.
    void stopSlicing();
    // Re-reads the height range after a scene change; an empty scene stops the
    // thread. The height stays where it was.
    void updateRange();

    // Pause slicing and drop the shown cross-section before the scene changes;
    // after it, read the scene again and cut it at the current height. Calls
    // nest; only the outermost end recomputes.
    void beginSceneChange();
    void endSceneChange();

    // Brackets one scene change; a null panel does nothing.
    class SceneChange {
    public:
        explicit SceneChange(ZSliceDlg* panel) : _panel(panel) {
            if (_panel)
                _panel->beginSceneChange();
        }
        ~SceneChange() {
            if (_panel)
                _panel->endSceneChange();
        }
        SceneChange(const SceneChange&) = delete;
        SceneChange& operator=(const SceneChange&) = delete;

    private:
        ZSliceDlg* _panel;
    };

    SliceRender* renderer() const { return _renderer.get(); }
    SlicingThread* thread() const { return _thread.get(); }
    QSlider* slider() const { return _slider; }
    QDoubleSpinBox* heightBox() const { return _heightBox; }
    float currentHeight() const { return _currentHeight; }
    double lowestZ() const { return _lowestZ; }
    double highestZ() const { return _highestZ; }
    double step() const { return _step; }

public slots:
    void onBtnShowHatchingClicked();
    void onBtnShowHidePartClicked();
    void onZSliderValueChanged(int value);
    void onZValueChanged(double value);

private:
    // The visible, ready objects, handed to the renderer (no computation runs).
    void refreshSources();
    // Reads the z range of the visible objects; false when there is none.
    bool readRange();
    // Shows the range on the slider and the box without running their handlers.
    void showRange();
    // No visible object: slider at 50 of 100, height 0, no thread, renderer off.
    void showEmptyScene();
    // Starts the thread and enables the renderer.
    void run();
    void requestHeight(float z);
    void repaintView();

    QPushButton* _btnShowHatching = nullptr;
    QPushButton* _btnHidePart = nullptr;
    QSlider* _slider = nullptr;
    QDoubleSpinBox* _heightBox = nullptr;

    bool _updatingFromSlider = false;
    bool _updatingFromBox = false;
    float _currentHeight = 0.0f;
    double _step = 0.05;
    double _lowestZ = 0.0;
    double _highestZ = 0.0;
    bool _open = false;
    int _sceneChangeDepth = 0;
    QWidget* _view = nullptr;
    QTimer* _finishPoll = nullptr; // repaints after finished cuts while slicing runs
    int _finishedShown = 0;
    // The thread is declared after the renderer so that it is destroyed
    // (stopped) first.
    std::unique_ptr<SliceRender> _renderer;
    std::unique_ptr<SlicingThread> _thread;
};
