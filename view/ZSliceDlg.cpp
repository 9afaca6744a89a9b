#include "view/ZSliceDlg.h"

#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "view/SliceRender.h"
#include "view/SlicingThread.h"

#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace {

QPushButton* makeToggle(QWidget* parent, const char* name, const char* icon) {
    auto* b = new QPushButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setIcon(QIcon(QString::fromLatin1(icon)));
    b->setIconSize(QSize(28, 28));
    b->setCheckable(true);
    b->setChecked(true);
    b->setText(QString());
    return b;
}

int sliderUnits(double distance, double step) {
    return static_cast<int>(std::lround(distance / step));
}

} // namespace

ZSliceDlg::ZSliceDlg(QWidget* parent) : VlrBaseWidget(parent) {
    setObjectName(QStringLiteral("ZSliceDlg"));
    resize(94, 557);
    setWindowTitle(tr("ZSliceDlg"));
    panelWidth = scaledToTextUnit(44);
    panelHeight = scaledToTextUnit(350);

    auto* vertical = new QVBoxLayout(this);
    vertical->setObjectName(QStringLiteral("verticalLayout"));
    vertical->setSpacing(6);
    vertical->setContentsMargins(1, vertical->contentsMargins().top(), 1,
                                 vertical->contentsMargins().bottom());
    _btnShowHatching =
        makeToggle(this, "_btnShowHatching", ":/Dialog/Resources/Dialog/Slice_ViewHatching.png");
    _btnHidePart = makeToggle(this, "_btnHidePart", ":/Dialog/Resources/Dialog/Slice_ViewPart.png");
    vertical->addWidget(_btnShowHatching);
    vertical->addWidget(_btnHidePart);
    auto* horizontal = new QHBoxLayout();
    horizontal->setObjectName(QStringLiteral("horizontalLayout"));
    _slider = new QSlider(Qt::Vertical, this);
    _slider->setObjectName(QStringLiteral("_ZSlider"));
    horizontal->addWidget(_slider);
    vertical->addLayout(horizontal);
    _heightBox = new QDoubleSpinBox(this);
    _heightBox->setObjectName(QStringLiteral("_dsbZValue"));
    _heightBox->setButtonSymbols(QAbstractSpinBox::NoButtons);
    _heightBox->setMaximum(999.0);
    vertical->addWidget(_heightBox);

    connect(_btnShowHatching, &QPushButton::clicked, this, &ZSliceDlg::onBtnShowHatchingClicked);
    connect(_btnHidePart, &QPushButton::clicked, this, &ZSliceDlg::onBtnShowHidePartClicked);
    connect(_slider, &QSlider::valueChanged, this, &ZSliceDlg::onZSliderValueChanged);
    connect(_heightBox, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            &ZSliceDlg::onZValueChanged);
}

ZSliceDlg::~ZSliceDlg() {
    // The worker uses the renderer: it ends before the renderer is freed.
    if (_thread)
        _thread->stop();
    _thread.reset();
    _renderer.reset();
}

void ZSliceDlg::startPreview() {
    if (_renderer)
        return;
    _renderer = std::make_unique<SliceRender>(_view);
    _renderer->setDrawOutline(true);
    _renderer->setVisibilityTest([](const ObjectEx* o) { return o->isVisible(); });
    _thread = std::make_unique<SlicingThread>();
    _thread->setRenderer(_renderer.get());
    // Finished cuts are noticed by polling the thread's counter on the GUI
    // thread: no event crosses from the worker, so nothing the worker hands
    // over depends on Qt's internal event queue locking.
    _finishPoll = new QTimer(this);
    _finishPoll->setInterval(30);
    connect(_finishPoll, &QTimer::timeout, this, [this] {
        const int finished = _thread->finishedCount();
        if (finished != _finishedShown) {
            _finishedShown = finished;
            _renderer->updateSlice();
        }
    });
    initSlicing();
}

void ZSliceDlg::refreshSources() {
    if (!_renderer)
        return;
    std::vector<SliceRender::Source> sources;
    for (ObjectEx* o : ObjectTable::instance()->objects())
        if (o && o->isReady() && o->isLoaded() && o->isVisible())
            sources.push_back({o, o});
    _renderer->setSources(std::move(sources));
}

bool ZSliceDlg::readRange() {
    double range[2] = {0.0, 0.0};
    if (!ObjectTable::instance()->axisExtent(2, range, false) || !std::isfinite(range[0]) ||
        !std::isfinite(range[1])) {
        return false;
    }
    _lowestZ = range[0];
    _highestZ = range[1];
    return true;
}

void ZSliceDlg::showRange() {
    const QSignalBlocker sliderBlock(_slider);
    const QSignalBlocker boxBlock(_heightBox);
    _slider->setMaximum(sliderUnits(_highestZ - _lowestZ, _step));
    _slider->setSingleStep(1);
    _slider->setValue(sliderUnits(_currentHeight - _lowestZ, _step));
    // The box follows the scene, below the platform too.
    _heightBox->setRange(std::min(_lowestZ, 0.0), std::max(_highestZ, 999.0));
    _heightBox->setValue(_currentHeight);
}

void ZSliceDlg::showEmptyScene() {
    // Nothing to cut: no thread keeps polling an empty scene.
    if (_thread) {
        _thread->stop();
        _finishPoll->stop();
    }
    if (_renderer) {
        _renderer->setEnabled(false);
        _renderer->clearRecords();
    }
    const QSignalBlocker sliderBlock(_slider);
    const QSignalBlocker boxBlock(_heightBox);
    _slider->setMaximum(100);
    _slider->setValue(50);
    _heightBox->setValue(0.0);
}

void ZSliceDlg::run() {
    if (!_thread)
        return;
    refreshSources();
    _renderer->setEnabled(true);
    if (!_thread->isRunning())
        _thread->start(QThread::InheritPriority);
    _finishPoll->start();
}

void ZSliceDlg::initSlicing() {
    _open = true;
    if (!readRange()) {
        showEmptyScene();
        return;
    }
    _currentHeight = static_cast<float>((_lowestZ + _highestZ) / 2.0);
    showRange();
    if (!_thread)
        return;
    _renderer->setHeight(_currentHeight);
    _thread->setHeight(&_currentHeight);
    run();
}

void ZSliceDlg::stopSlicing() {
    _open = false;
    if (_thread) {
        _thread->stop();
        _finishPoll->stop();
    }
    if (_renderer) {
        _renderer->setEnabled(false);
        _renderer->clearRecords();
    }
}

void ZSliceDlg::updateRange() {
    if (!readRange()) {
        showEmptyScene();
        return;
    }
    showRange();
    if (_open)
        run();
}

void ZSliceDlg::beginSceneChange() {
    if (_sceneChangeDepth++ > 0 || !_thread)
        return;
    _thread->pause();
    _renderer->clearRecords();
}

void ZSliceDlg::endSceneChange() {
    if (_sceneChangeDepth == 0 || --_sceneChangeDepth > 0 || !_thread)
        return;
    if (_open)
        updateRange(); // lists the changed scene and starts or stops the thread
    else
        refreshSources();
    _thread->resume();
    repaintView();
}

void ZSliceDlg::requestHeight(float z) {
    _currentHeight = z;
    if (_renderer)
        _renderer->setHeight(z);
    if (_thread)
        _thread->setHeight(&_currentHeight);
    repaintView();
}

void ZSliceDlg::onBtnShowHatchingClicked() {
    if (_renderer)
        _renderer->setDrawFill(_btnShowHatching->isChecked());
    repaintView();
}

void ZSliceDlg::onBtnShowHidePartClicked() {
    if (_renderer)
        _renderer->setKeepBelow(_btnHidePart->isChecked());
    repaintView();
}

void ZSliceDlg::onZSliderValueChanged(int value) {
    if (_updatingFromBox)
        return;
    _slider->setToolTip(QString::number(value));
    const float z = static_cast<float>(value * _step + _lowestZ);
    if (z == _currentHeight)
        return;
    _updatingFromSlider = true;
    _heightBox->setValue(z);
    _updatingFromSlider = false;
    requestHeight(z);
}

void ZSliceDlg::onZValueChanged(double value) {
    if (_updatingFromSlider)
        return;
    _updatingFromBox = true;
    _slider->setValue(sliderUnits(value - _lowestZ, _step));
    _updatingFromBox = false;
    requestHeight(static_cast<float>(value));
}

void ZSliceDlg::repaintView() {
    if (_view)
        _view->update();
}
