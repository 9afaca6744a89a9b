#include "export/GcodeExport.h"

#include "app/DataFolders.h"
#include "app/Log.h"
#include "app/ProgressReport.h"
#include "export/SlicerProfile.h"
#include "export/XyCalibrationProfile.h"
#include "scene/SceneHost.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>

#include <algorithm>

namespace gcodeexport {

namespace {

const char* const kStlName = "stl2gcode.stl";
const char* const kGcodeName = "stl2gcode.gcode";
constexpr int kLastProgress = 97;

} // namespace

GcodeExport::GcodeExport(QObject* parent) : QObject(parent) {
    m_showMessage = [](const QString& text) {
        sceneHost()->showMessage(text, QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok);
    };
    m_slicer = new SlicerProcess(this);
    connect(m_slicer, &SlicerProcess::finished, this, &GcodeExport::onSlicerFinished);
    m_progressTimer = new QTimer(this);
    connect(m_progressTimer, &QTimer::timeout, this, &GcodeExport::onProgressTick);
}

GcodeExport::~GcodeExport() {
    // A run cut short by the program's end leaves neither a progress dialog
    // nor a work folder behind.
    if (m_running) {
        m_progressTimer->stop();
        ProgressSink().finish();
        removeWorkDir();
    }
}

void GcodeExport::setMessageHandler(MessageHandler handler) {
    m_showMessage = std::move(handler);
}

QString GcodeExport::definitionPath(const QString& applicationDir) {
    return applicationDir + QStringLiteral("/definitions/norvane_tarn.def.json");
}

QString GcodeExport::profilePath(const QString& applicationDir, const QString& name) {
    return QStringLiteral("%1/%2/%3%4")
        .arg(applicationDir, QStringLiteral("profile"), name, QStringLiteral(".vfg"));
}

QString GcodeExport::calibrationPath(const QString& applicationDir, const QString& name) {
    return QStringLiteral("%1/%2/%3%4")
        .arg(applicationDir, QStringLiteral("calib"), name, QStringLiteral(".vcp"));
}

int GcodeExport::progressInterval(int triangles, int layers) {
    const double ms = static_cast<double>(triangles) * 0.0000728 * static_cast<double>(layers) / 100.0;
    // Compared in double: a huge scene would overflow int before the clamp.
    return static_cast<int>(std::clamp(ms, 50.0, 2000.0));
}

bool GcodeExport::start(const GcodeExportRequest& request, const ExportScene& scene) {
    logText(" ===================== Export to GCODE ==================");
    if (m_running) {
        m_showMessage(tr("A G-code export is already running."));
        return false;
    }
    m_total.start();
    m_result = GcodeExportResult();
    m_calibrationApplied = false;
    m_cancelled = false;
    m_targetPath = request.targetPath;

    // Everything that can stop the run before it writes or starts anything.
    SlicerProfile profile;
    QString error;
    if (!readSlicerProfile(request.profilePath, &profile, &error)) {
        m_result.message = error;
        m_showMessage(error);
        return false;
    }
    if (scene.isEmpty()) {
        m_result.message = tr("There is no object to export.");
        m_showMessage(m_result.message);
        return false;
    }
    XyCalibration calibration;
    if (!request.calibrationPath.isEmpty()) {
        if (XyCalibration::read(request.calibrationPath, &calibration, &error))
            m_calibrationApplied = true;
        else
            m_showMessage(error); // the export goes on without calibration
    }

    m_running = true;
    const ProgressSink progress;
    progress.setText(ProgressText::ExportingGcode);
    progress.setPercent(0);
    m_workDir = createTempWorkDir();
    if (m_workDir.isEmpty()) {
        finish(tr("No work folder could be created for the export."));
        return false;
    }
    const QString stlPath = QDir(m_workDir).filePath(QLatin1String(kStlName));
    if (!writeExportStl(stlPath, scene.pieces, m_calibrationApplied ? &calibration : nullptr, &error)) {
        finish(error);
        return false;
    }
    progress.setPercent(1);

    m_gcodeWorkPath = QDir(m_workDir).filePath(QLatin1String(kGcodeName));
    // The slicer's machine is the current printer: the build volume the scene
    // was placed in overrides the definition's (and the profile's).
    QStringList settings = profile.settingLines;
    double volume[3];
    sceneHost()->getBuildVolume(volume);
    const char* const machineKeys[3] = {"machine_width", "machine_depth", "machine_height"};
    for (int a = 0; a < 3; ++a)
        settings << QStringLiteral("%1=%2").arg(QLatin1String(machineKeys[a])).arg(volume[a]);
    const QStringList args =
        slicerArguments(definitionPath(request.applicationDir), settings, m_gcodeWorkPath, stlPath);
    const double height = scene.hasHeight ? scene.zMax - scene.zMin : 0.0;
    const int layers = static_cast<int>(std::min(height / profile.layerHeight, 1e9));
    logDouble(profile.layerHeight, "layer thickness");
    logInt(layers, "number of layer");
    logDouble(height, "Object height");
    logInt(scene.triangleCount, "Number triangle");

    m_progressValue = 2;
    m_progressTimer->start(progressInterval(scene.triangleCount, layers));
    m_slicerClock.start();
    m_slicer->start(findSlicer(request.applicationDir), args);
    return true;
}

void GcodeExport::onProgressTick() {
    ProgressSink().setPercent(m_progressValue);
    if (m_progressValue < kLastProgress)
        ++m_progressValue;
}

void GcodeExport::cancel() {
    if (!m_running)
        return;
    m_cancelled = true;
    m_slicer->stop();
}

void GcodeExport::onSlicerFinished(SlicerProcess::End end, int exitCode) {
    m_result.slicerMs = m_slicerClock.elapsed();
    QString failure;
    if (end == SlicerProcess::End::FailedToStart)
        failure = tr("The slicer could not be started: %1").arg(m_slicer->endText());
    else if (end == SlicerProcess::End::Stopped)
        failure = tr("The export was cancelled.");
    else if (end == SlicerProcess::End::Silent)
        failure = m_slicer->endText();
    else if (end == SlicerProcess::End::Crashed)
        failure = tr("The slicer stopped abnormally.");
    else if (exitCode != 0)
        failure = tr("The slicer failed with exit code %1.").arg(exitCode);
    GcodeFileCheck check;
    if (failure.isEmpty()) {
        QString error;
        if (!installGcode(m_gcodeWorkPath, m_targetPath, m_slicer->slicedHeader(), m_slicer->emptyLayers(), &check,
                          &error))
            failure = error;
    } else {
        check = checkGcodeFile(m_gcodeWorkPath, m_slicer->emptyLayers());
    }
    m_result.bytes = check.bytes;
    m_result.layerCount = check.layerCount;
    if (!failure.isEmpty() && !m_cancelled) {
        const QString tail = m_slicer->errorTail();
        if (!tail.isEmpty())
            failure += QStringLiteral("\n\n") + tr("Last lines of the slicer's error output:") +
                       QStringLiteral("\n") + tail;
    }
    finish(failure);
    emit finished(m_result);
}

void GcodeExport::finish(const QString& failure) {
    m_progressTimer->stop();
    m_progressValue = 0;
    ProgressSink().finish();
    removeWorkDir();
    logInt(static_cast<int>(m_result.slicerMs), "Export time");
    logText(" ===================== End of export to GCODE ==================");
    m_result.success = failure.isEmpty();
    m_result.message = failure;
    m_result.totalMs = m_total.elapsed();
    m_running = false;
    if (!failure.isEmpty()) {
        logString(failure.toStdString());
        // The user who cancelled needs no message about it.
        if (!m_cancelled)
            m_showMessage(failure);
    }
    m_cancelled = false;
}

void GcodeExport::removeWorkDir() {
    if (!m_workDir.isEmpty())
        QDir(m_workDir).removeRecursively();
    m_workDir.clear();
}

} // namespace gcodeexport
