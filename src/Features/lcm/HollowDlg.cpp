#include "src/Features/lcm/HollowDlg.h"

#include "app/Log.h"
#include "app/ProgressReport.h"
#include "app/Settings.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/SceneCommands.h"
#include "scene/SceneHost.h"
#include "src/Features/lcm/HollowContext.h"
#include "topolib/MeshBoolean.h"
#include "topolib/StlObject.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDoubleSpinBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QStringList>
#include <QVBoxLayout>

#include <cmath>

namespace {

QDoubleSpinBox* numberBox(QWidget* parent, const char* name, double lo, double hi, double value) {
    auto* box = new QDoubleSpinBox(parent);
    box->setObjectName(name);
    box->setRange(lo, hi);
    box->setSingleStep(0.1);
    box->setDecimals(2);
    box->setButtonSymbols(QAbstractSpinBox::NoButtons);
    box->setValue(value);
    return box;
}

// A row: a label, a number box and, when unitName is given, a unit label.
QHBoxLayout* numberRow(QWidget* parent, const char* labelName, const QString& text, QDoubleSpinBox* box,
                       const char* unitName) {
    auto* row = new QHBoxLayout();
    auto* label = new QLabel(text, parent);
    label->setObjectName(labelName);
    row->addWidget(label);
    row->addWidget(box);
    if (unitName) {
        auto* unit = new QLabel(QObject::tr("mm"), parent);
        unit->setObjectName(unitName);
        row->addWidget(unit);
    }
    return row;
}

QFrame* line(QWidget* parent, const char* name) {
    auto* f = new QFrame(parent);
    f->setObjectName(name);
    f->setFrameShape(QFrame::HLine);
    f->setFrameShadow(QFrame::Sunken);
    return f;
}

// What the user learns before a preview is computed: a wall thinner than the
// hollowing can make for this object, and (once per opening) open edges.
QStringList noticesBeforePreview(const ObjectEx& obj, double offset, bool tellOpenEdges) {
    QStringList notices;
    const double thinnest = lcm::thinnestHollowWall(obj);
    if (offset < thinnest)
        notices << QString::fromStdString(lcm::thinWallNotice(offset, thinnest));
    const std::size_t open = tellOpenEdges ? topolib::countUnpairedEdges(obj) : 0;
    if (open > 0)
        notices << QObject::tr("This object is not closed: %1 of its edges are open. The hollowing reads its "
                               "holes as if they were capped, so the inside it finds may not be the one you "
                               "expect: pockets behind the holes can come out filled. You can go on.")
                       .arg(open);
    return notices;
}

// The supports of the source do not fit its hollowed copy (they hold the
// source's facets, and drain holes may open where a cone stands), so the copy
// has none. Raised to its supports' height, it would float over the platform:
// it is set down onto it. Returns what the user is told (empty when the
// source had no supports).
QString restWithoutSupports(const ObjectEx& source, ObjectEx& copy) {
    if (source.supportAreaCount() == 0)
        return QString();
    const double lowest = copy.bboxMin()[2];
    if (std::isfinite(lowest) && lowest > 0.0 && !ObjectTable::restsOnPlatform(lowest)) {
        const double down[3] = {0.0, 0.0, -lowest};
        copy.translate(down);
        return QObject::tr(
                   "The supports do not come with the hollowed copy: it now rests on the platform (it stood "
                   "%1 mm above it on its supports). Generate supports again before printing; Undo gives "
                   "back the object with its supports.")
            .arg(lowest, 0, 'f', 2);
    }
    return QObject::tr(
        "The supports do not come with the hollowed copy. Generate supports again before printing; "
        "Undo gives back the object with its supports.");
}

} // namespace

HollowDlg::HollowDlg(QWidget* parent) : VlrBaseWidget(parent) {
    buildForm();
    panelWidth = scaledToTextUnit(219);
    panelHeight = scaledToTextUnit(331);
    m_fullHeight = panelHeight;
    m_holeGroupHeight = scaledToTextUnit(80);
    resize(panelWidth, panelHeight);
    move(54, 150);
    _holeParameters->hide();
    connect(_checkMakeHoles, SIGNAL(clicked(bool)), this, SLOT(onCheckBoxMakeHoleClicked(bool)));
    connect(_sliderDensity, SIGNAL(sliderMoved(int)), this, SLOT(changeDensityValue(int)));
    connect(_dsbHoleSize, SIGNAL(valueChanged(double)), this, SLOT(onHoleRadiusValueChanged(double)));
    connect(_dsbHoleTaper, SIGNAL(valueChanged(double)), this, SLOT(onHoleTaperValueChanged(double)));
    connect(_btnUpdate, SIGNAL(clicked()), this, SLOT(onBtnUpdateClicked()));
    connect(_btnOk, SIGNAL(clicked()), this, SLOT(onBtnOKClicked()));
    connect(_btnCancel, SIGNAL(clicked()), this, SLOT(onBtnCancelClicked()));
}

HollowDlg::~HollowDlg() = default;

void HollowDlg::buildForm() {
    setWindowTitle(QStringLiteral("HollowDlg"));
    auto* layout = new QVBoxLayout(this);
    _dsbOffset = numberBox(this, "_dsbOffset", 0.1, 10.0, 2.0);
    layout->addLayout(numberRow(this, "label", tr("Offset"), _dsbOffset, "label_2"));
    _labelDensity = new QLabel(tr("Mesh Density: 50"), this);
    _labelDensity->setObjectName("_labelDensity");
    layout->addWidget(_labelDensity);
    _sliderDensity = new QSlider(Qt::Horizontal, this);
    _sliderDensity->setObjectName("_sliderDensity");
    _sliderDensity->setRange(1, 100);
    _sliderDensity->setValue(50);
    layout->addWidget(_sliderDensity);
    layout->addWidget(line(this, "line_2"));
    _checkMakeHoles = new QCheckBox(tr("Make Holes"), this);
    _checkMakeHoles->setObjectName("_checkMakeHoles");
    _checkMakeHoles->setChecked(true);
    layout->addWidget(_checkMakeHoles);

    _holeParameters = new QWidget(this);
    _holeParameters->setObjectName("_holeParameters");
    auto* holes = new QVBoxLayout(_holeParameters);
    holes->setContentsMargins(0, 0, 0, 0);
    _dsbHoleSize = numberBox(_holeParameters, "_dsbHoleSize", 0.1, 5.0, 1.5);
    holes->addLayout(numberRow(_holeParameters, "label_4", tr("size"), _dsbHoleSize, "label_5"));
    _dsbHoleTaper = numberBox(_holeParameters, "_dsbHoleTaper", -2.0, 2.0, 0.0);
    holes->addLayout(numberRow(_holeParameters, "label_6", tr("Taper"), _dsbHoleTaper, nullptr));
    layout->addWidget(_holeParameters);

    layout->addWidget(line(this, "line"));
    _btnUpdate = new QPushButton(tr("Update"), this);
    _btnUpdate->setObjectName("_btnUpdate");
    layout->addWidget(_btnUpdate);
    auto* buttons = new QHBoxLayout();
    _btnOk = new QPushButton(tr("Ok"), this);
    _btnOk->setObjectName("_btnOk");
    _btnCancel = new QPushButton(tr("Cancel"), this);
    _btnCancel->setObjectName("_btnCancel");
    buttons->addWidget(_btnOk);
    buttons->addWidget(_btnCancel);
    layout->addLayout(buttons);
}

HollowDlg* HollowDlg::ifShown(QWidget* panel) {
    auto* dlg = qobject_cast<HollowDlg*>(panel);
    return dlg && !dlg->isHidden() ? dlg : nullptr;
}

void HollowDlg::setViewMode(ViewMode mode) {
    if (m_setViewMode)
        m_setViewMode(mode);
}

void HollowDlg::setObject(ObjectEx* object) {
    m_object = object;
    m_objectSerial = object ? object->serial() : 0;
}

ObjectEx* HollowDlg::object() const {
    if (!m_object)
        return nullptr;
    // Only an object found in the list is dereferenced; its serial tells a new
    // object at a reused address from the one the panel was given.
    for (ObjectEx* o : ObjectTable::instance()->objects())
        if (o == m_object)
            return o->serial() == m_objectSerial ? o : nullptr;
    return nullptr;
}

void HollowDlg::closeIfObjectGone() {
    if (m_object && !object() && !isHidden())
        close();
}

bool HollowDlg::openTool() {
    ObjectTable* table = ObjectTable::instance();
    const int selected = table->selectedObjectCount();
    if (selected != 1) {
        sceneHost()->showMessage(
            selected > 1 ? tr("There are more than one object were selected! \nPlease select one object to do Hollow!")
                         : tr("There aren't any object were selected! \nPlease select one object to do Hollow!"),
            QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok);
        return false;
    }
    ObjectEx* obj = table->firstSelectedObject();
    if (!obj)
        return false;
    obj->setTransparent(true); // alpha 0.35 by default; the hollowing shows 0.3
    obj->setTransparentValue(0.3f);
    setObject(obj);
    createContext();
    show();
    onCheckBoxMakeHoleClicked(_checkMakeHoles->isChecked());
    sceneHost()->updateGLView();
    return true;
}

void HollowDlg::createContext() {
    m_context = std::make_unique<lcm::HollowContext>();
    m_openEdgesTold = false;
    m_previewPositions.clear();
    m_previewNormals.clear();
    onBtnUpdateClicked();
}

int HollowDlg::hiddenHoleGroupHeight() const { return _checkMakeHoles->isChecked() ? 0 : m_holeGroupHeight; }

void HollowDlg::onCheckBoxMakeHoleClicked(bool) {
    if (_checkMakeHoles->isChecked()) {
        _holeParameters->show();
        setFixedHeight(m_fullHeight);
        setViewMode(ViewMode::PlaceHoles);
    } else {
        _holeParameters->hide();
        setFixedHeight(m_fullHeight - m_holeGroupHeight);
        setViewMode(ViewMode::Hollowing);
    }
}

void HollowDlg::changeDensityValue(int val) {
    _labelDensity->setText(QString("%1%2").arg(tr("Mesh Density: ")).arg(val));
}

void HollowDlg::onHoleRadiusValueChanged(double val) {
    if (!m_context)
        return;
    // Committed holes follow the box as a diameter, like a new hole.
    m_context->setHolesRadius(val / 2.0);
    sceneHost()->updateGLView();
    setGeneralDouble(GENERAL_CREATE_HOLE_RADIUS, val);
}

void HollowDlg::onHoleTaperValueChanged(double val) {
    if (!m_context)
        return;
    m_context->setHolesTaper(val);
    sceneHost()->updateGLView();
    setGeneralDouble(GENERAL_CREATE_HOLE_TAPER, val);
}

void HollowDlg::onBtnUpdateClicked() {
    const double offset = _dsbOffset->value();
    const int density = _sliderDensity->value();
    if (density == m_lastDensity && std::fabs(offset - m_lastOffset) <= 1e-6)
        return;
    m_lastOffset = offset;
    m_lastDensity = density;
    ObjectEx* obj = object();
    if (obj && m_context) {
        obj->waitForJobs();
        for (const QString& notice : noticesBeforePreview(*obj, offset, !m_openEdgesTold))
            sceneHost()->showMessage(notice, QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok);
        m_openEdgesTold = true;
        m_context->setModel(obj);
        const lcm::HollowStatus status = m_context->createPreview(offset, density, ProgressSink());
        ++m_previewCount;
        rebuildPreviewArrays();
        if (status != lcm::HollowStatus::Ok && status != lcm::HollowStatus::Stopped)
            sceneHost()->showMessage(QString::fromStdString(m_context->message()), QMessageBox::Warning,
                                     QMessageBox::Ok, QMessageBox::Ok);
        sceneHost()->updateGLView();
    }
    setGeneralDouble(GENERAL_HOLLOW_OFFSET, offset);
    setGeneralInt(GENERAL_HOLLOW_DENSITY, density);
}

void HollowDlg::onBtnOKClicked() {
    if (ObjectEx* obj = object()) {
        // The preview is brought up to date first: the hollowing uses the
        // offset and density the panel shows.
        onBtnUpdateClicked();
        // The source leaves the list with the command (and comes back on
        // undo): it gets its normal look while the panel may still touch it.
        obj->setTransparent(false);
        obj->setTransparentValue(1.0f);
        // The panel computes the copy; the command only puts it in the
        // source's place (and back on undo).
        ObjectEx* source = nullptr;
        ObjectEx* hollowed = nullptr;
        if (createHollowedObject(&source, &hollowed))
            sceneHost()->pushCommand(new HollowCreationCmd(source, hollowed), true);
    }
    close();
}

void HollowDlg::onBtnCancelClicked() { close(); }

void HollowDlg::closeEvent(QCloseEvent* event) {
    _checkMakeHoles->setChecked(false);
    _holeParameters->hide();
    setFixedHeight(m_fullHeight - m_holeGroupHeight);
    setViewMode(ViewMode::Hollowing);
    m_context.reset();
    m_previewPositions.clear();
    m_previewNormals.clear();
    if (ObjectEx* obj = object()) {
        obj->setTransparent(false);
        obj->setTransparentValue(1.0f);
    }
    m_object = nullptr;
    m_objectSerial = 0;
    m_lastDensity = -1;
    VlrBaseWidget::closeEvent(event);
    if (m_closeHook)
        m_closeHook();
}

void HollowDlg::placeHole(const double position[3], const double direction[3]) {
    if (!m_context)
        return;
    m_context->setPendingHole(position, direction, _dsbHoleSize->value() / 2.0, _dsbOffset->value(),
                              _dsbHoleTaper->value());
}

void HollowDlg::commitHole() {
    if (m_context)
        m_context->commitPendingHole();
}

void HollowDlg::dropHole() {
    if (m_context)
        m_context->dropPendingHole();
}

bool HollowDlg::createHollowedObject(ObjectEx** source, ObjectEx** hollowed) {
    ObjectEx* obj = object();
    if (!obj || !m_context)
        return false;
    // The preview first, with the values the panel shows: its inner surface
    // sizes the copy's arrays.
    onBtnUpdateClicked();
    // The copy is the scene object's clone (its look, name and place); the
    // hollowing is the driver's, as for every other caller.
    lcm::HollowStatus status = lcm::HollowStatus::Ok;
    std::unique_ptr<topolib::StlObject> made = m_context->hollowedCopy(
        [obj](const topolib::StlObject&, const topolib::AppendRoom& room) {
            return std::unique_ptr<topolib::StlObject>(obj->clone(0, true, true, room));
        },
        &status);
    QStringList notes;
    for (const std::string& w : m_context->warnings())
        notes << QString::fromStdString(w);
    if (!made) {
        if (status != lcm::HollowStatus::Stopped) {
            QString text = QString::fromStdString(m_context->message());
            if (text.isEmpty())
                text = tr("Not enough memory to hollow this object.");
            notes.prepend(text);
            sceneHost()->showMessage(notes.join('\n'), QMessageBox::Warning, QMessageBox::Ok,
                                     QMessageBox::Ok);
        }
        return false;
    }
    // The maker above made an ObjectEx.
    auto* copy = static_cast<ObjectEx*>(made.release());
    copy->setTransparent(false);
    copy->setTransparentValue(1.0f);
    const QString supportsNote = restWithoutSupports(*obj, *copy);
    if (!supportsNote.isEmpty())
        notes << supportsNote;
    // Without drain holes the hollowing leaves the copy without an octree: it
    // is built on the copy's worker, as after an import.
    if (copy->octree() == nullptr)
        copy->startJob(ObjectCalcThread::Job::BuildOctree, false);
    *source = obj;
    *hollowed = copy;
    // The hollowing went through, but holes that end in the wall (or a cut
    // that failed) leave the cavity closed, and supports do not come along:
    // the user must know.
    if (!notes.isEmpty())
        sceneHost()->showMessage(notes.join('\n'), QMessageBox::Warning, QMessageBox::Ok, QMessageBox::Ok);
    return true;
}

void HollowDlg::rebuildPreviewArrays() {
    m_previewPositions.clear();
    m_previewNormals.clear();
    const lcm::ZMapSurface* s = m_context ? m_context->previewSurface() : nullptr;
    if (!s)
        return;
    m_previewPositions.reserve(s->triangles.size() * 9);
    m_previewNormals.reserve(s->triangles.size() * 9);
    for (const auto& t : s->triangles) {
        const topolib::Vector3D& a = s->points[t[0]];
        const topolib::Vector3D& b = s->points[t[1]];
        const topolib::Vector3D& c = s->points[t[2]];
        topolib::Vector3D n = (b - a).cross(c - a);
        const double len = std::sqrt(n.dot(n));
        if (len > 0.0)
            n = n / len;
        for (const topolib::Vector3D* p : {&a, &b, &c})
            for (int k = 0; k < 3; ++k) {
                m_previewPositions.push_back(static_cast<float>((*p)[static_cast<std::size_t>(k)]));
                m_previewNormals.push_back(static_cast<float>(n[static_cast<std::size_t>(k)]));
            }
    }
}
