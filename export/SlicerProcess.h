#pragma once
// One run of the external slicer as a child process. The run never blocks the
// calling (GUI) thread: the process is started asynchronously, its standard
// output and error output are written to the log line by line as they arrive,
// and finished() reports the end exactly once, also when the program could
// not be started at all.
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <deque>

namespace gcodeexport {

// What the slicer left: the G-code file's size and whether it holds the
// header ";LAYER_COUNT:" (with its number) and at least one ";LAYER:" line.
struct GcodeFileCheck {
    qint64 bytes = -1; // -1 when the file is missing
    bool hasLayerCount = false;
    int layerCount = 0;
    bool hasLayer = false;
};

// Reads the file only as far as needed to find both marks.
GcodeFileCheck checkGcodeFile(const QString& path);

// Where the slicer is: the override in VELAR_CURAENGINE when set (tests),
// else <applicationDir>/CuraEngine when it is an executable, else
// "CuraEngine" on the PATH. Empty when none is found.
QString findSlicer(const QString& applicationDir);

class SlicerProcess : public QObject {
    Q_OBJECT
public:
    // How a run ended. Only Finished with exit code 0 can be a success; the
    // caller judges the output file.
    enum class End { Finished, Crashed, FailedToStart };

    explicit SlicerProcess(QObject* parent = nullptr);
    ~SlicerProcess() override;

    // Starts program with arguments; finished() follows (queued) in every case.
    // Only one run at a time: false when one is running.
    bool start(const QString& program, const QStringList& arguments);
    bool isRunning() const { return m_running; }

    // The last lines of the error output (at most kTailLines, each cut to
    // kTailLineLength characters), for messages after a failure.
    QString errorTail() const;
    // The process's error text after FailedToStart.
    QString startError() const { return m_startError; }
    static constexpr int kTailLines = 8;
    static constexpr int kTailLineLength = 300;

signals:
    void finished(gcodeexport::SlicerProcess::End end, int exitCode);

private slots:
    void onReadyReadOutput();
    void onReadyReadError();
    void onFinished(int exitCode, QProcess::ExitStatus status);
    void onErrorOccurred(QProcess::ProcessError error);

private:
    // Logs every complete line of the new bytes (kept in pending until their
    // line end arrives); with tail, keeps the last lines too.
    void takeLines(const QByteArray& bytes, QByteArray& pending, bool tail);
    void flushPending();
    void end(End how, int exitCode);

    QProcess* m_process = nullptr;
    bool m_running = false;
    QByteArray m_pendingOutput;
    QByteArray m_pendingError;
    std::deque<QString> m_tail;
    QString m_startError;
};

} // namespace gcodeexport
