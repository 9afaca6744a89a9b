#pragma once
// One G-code export: the scene's triangles go to a binary STL file
// "stl2gcode.stl" in a fresh work folder (with the XY calibration applied as
// they are written), the slicer turns it into G-code in the same folder, and
// the G-code replaces the chosen file only when the slicer succeeded. The
// work folder is removed at the end of every run.
//
// Success means: the slicer started, exited normally with code 0, and its
// output is whole (installGcode: every layer its header counts, unless the
// slicer reported it empty, and the end mark), and the copy with the real header reached the target. Every other
// end shows a message with the last lines of the slicer's error output; a
// cancelled run ends quietly. The target is replaced only on success.
//
// While the slicer runs, a timer reports a simulated percentage (2, 3, ... 97)
// through the program's progress report; every end reports -1, which closes
// the progress dialog. Everything runs on the GUI thread without blocking it.
#include "export/SceneExport.h"
#include "export/SlicerProcess.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <functional>

class QTimer;

namespace gcodeexport {

struct GcodeExportRequest {
    // The application folder: it holds "definitions/norvane_tarn.def.json"
    // and maybe the slicer (see findSlicer).
    QString applicationDir;
    QString profilePath;     // the slicer profile (".vfg")
    QString calibrationPath; // the calibration profile (".vcp"); empty: none
    QString targetPath;      // the G-code file to write
};

struct GcodeExportResult {
    bool success = false;
    QString message;     // what went wrong (empty on success)
    qint64 bytes = -1;   // size of the G-code the slicer wrote (-1: none)
    int layerCount = 0;  // its ";LAYER_COUNT:" value
    qint64 totalMs = 0;  // from start() to the end of the run
    qint64 slicerMs = 0; // from starting the slicer to its end
};

class GcodeExport : public QObject {
    Q_OBJECT
public:
    // Shows a message to the user (the panel shows a box titled "error").
    using MessageHandler = std::function<void(const QString& text)>;

    explicit GcodeExport(QObject* parent = nullptr);
    ~GcodeExport() override;

    // Default: the scene host's message box.
    void setMessageHandler(MessageHandler handler);

    // Starts a run. The slicer profile is read first: a profile that cannot be
    // read, an empty scene or a run already going end here with a message,
    // before anything is written or started (false). A calibration profile
    // that cannot be used is reported and the export goes on without it.
    // Otherwise true, and finished() follows once. The scene's pointers are
    // used only during this call.
    bool start(const GcodeExportRequest& request, const ExportScene& scene);
    bool isRunning() const { return m_running; }
    // Stops a running export (the slicer is killed, the target stays as it
    // was); finished() follows with the failure "The export was cancelled.".
    void cancel();
    // The slicer process, for its silence limit.
    SlicerProcess* slicer() const { return m_slicer; }
    // Whether the last start applied its calibration profile.
    bool calibrationApplied() const { return m_calibrationApplied; }
    const GcodeExportResult& lastResult() const { return m_result; }

    // The progress timer's interval for a run: triangles x 0.0000728 x layers
    // / 100 ms, truncated, kept between 50 and 2000 ms.
    static int progressInterval(int triangles, int layers);

    // <applicationDir>/definitions/norvane_tarn.def.json
    static QString definitionPath(const QString& applicationDir);
    // The profile named in the panel's lists: <applicationDir>/profile/<name>.vfg
    // and <applicationDir>/calib/<name>.vcp.
    static QString profilePath(const QString& applicationDir, const QString& name);
    static QString calibrationPath(const QString& applicationDir, const QString& name);

signals:
    void finished(const gcodeexport::GcodeExportResult& result);

private slots:
    void onProgressTick();
    void onSlicerFinished(gcodeexport::SlicerProcess::End end, int exitCode);

private:
    // Ends a run (failure empty: success): closes the progress, removes the
    // work folder, logs, and shows and keeps a failure's message.
    void finish(const QString& failure);
    void removeWorkDir();

    MessageHandler m_showMessage;
    SlicerProcess* m_slicer = nullptr;
    QTimer* m_progressTimer = nullptr;
    int m_progressValue = 0;
    bool m_running = false;
    bool m_calibrationApplied = false;
    bool m_cancelled = false;
    QString m_workDir;
    QString m_gcodeWorkPath;
    QString m_targetPath;
    QElapsedTimer m_total;
    QElapsedTimer m_slicerClock;
    GcodeExportResult m_result;
};

} // namespace gcodeexport
