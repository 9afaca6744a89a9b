#pragma once
// One run of the external slicer as a child process. The run never blocks the
// calling (GUI) thread: the process is started asynchronously, its standard
// output and error output are written to the log line by line as they arrive,
// and finished() reports the end exactly once, also when the program could
// not be started at all, was stopped, or fell silent for too long.
//
// Reading and logging are bounded: a line without end is taken in pieces of
// kMaxLineBytes, and a run logs at most the first kLogHeadBytes and the last
// kLogTailBytes of the slicer's output, with a line that says how much was
// left out between them.
#include "export/GcodeOutput.h"

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <deque>

class QTimer;

namespace gcodeexport {

// Where the slicer is: the override in VELAR_CURAENGINE when set (tests),
// else <applicationDir>/CuraEngine when it is an executable, else
// "CuraEngine" on the PATH. Empty when none is found.
QString findSlicer(const QString& applicationDir);

class SlicerProcess : public QObject {
    Q_OBJECT
public:
    // How a run ended. Only Finished with exit code 0 can be a success; the
    // caller judges the output file.
    enum class End { Finished, Crashed, FailedToStart, Stopped, Silent };

    explicit SlicerProcess(QObject* parent = nullptr);
    ~SlicerProcess() override;

    // Starts program with arguments; finished() follows (queued) in every case.
    // Only one run at a time: false when one is running.
    bool start(const QString& program, const QStringList& arguments);
    bool isRunning() const { return m_running; }
    // Ends a running slicer: the process is killed and finished() reports
    // Stopped. Nothing happens when none runs.
    void stop();
    // A slicer that writes nothing on either stream for this long is killed and
    // reported as Silent (default ten minutes).
    void setSilenceLimit(int ms) { m_silenceLimitMs = ms; }
    // The header the slicer printed after slicing and the layers it reported
    // empty (see SlicerLogReader).
    const QStringList& slicedHeader() const { return m_logReader.headerLines(); }
    const std::vector<bool>& emptyLayers() const { return m_logReader.emptyLayers(); }

    // The last lines of the error output (at most kTailLines, each cut to
    // kTailLineLength characters), for messages after a failure.
    QString errorTail() const;
    // Why the run ended as it did: the process's error text after
    // FailedToStart, the silence limit after Silent; empty otherwise.
    QString endText() const { return m_endText; }
    static constexpr int kTailLines = 8;
    static constexpr int kTailLineLength = 300;
    // Output without a line end is logged in pieces of this many bytes, so a
    // slicer that floods one endless line costs linear time and bounded memory.
    static constexpr int kMaxLineBytes = 64 * 1024;
    static constexpr qint64 kLogHeadBytes = 1024 * 1024;
    static constexpr qint64 kLogTailBytes = 256 * 1024;

signals:
    void finished(gcodeexport::SlicerProcess::End end, int exitCode);

private slots:
    void onReadyReadOutput();
    void onReadyReadError();
    void onFinished(int exitCode, QProcess::ExitStatus status);
    void onErrorOccurred(QProcess::ProcessError error);
    void onSilent();

private:
    // Bytes of one stream that wait for their line end.
    struct Pending {
        QByteArray bytes;
        int scanned = 0; // bytes already known to hold no line end
    };
    // Logs every complete line of the new bytes (kept in pending until their
    // line end arrives); with tail, keeps the last lines too.
    void takeLines(const QByteArray& bytes, Pending& pending, bool tail);
    void takeLine(QByteArray line, bool tail);
    void flushPending();
    // Writes line to the run log within the bounds above; flushLogTail
    // writes the kept last part at the end of the run.
    void logLine(const QByteArray& line);
    void flushLogTail();
    void kill(End how);
    void end(End how, int exitCode);

    QProcess* m_process = nullptr;
    QTimer* m_silence = nullptr;
    int m_silenceLimitMs = 10 * 60 * 1000;
    bool m_running = false;
    Pending m_pendingOutput;
    Pending m_pendingError;
    std::deque<QString> m_tail;
    SlicerLogReader m_logReader;
    qint64 m_loggedBytes = 0;
    std::deque<QByteArray> m_logTail;
    qint64 m_logTailBytes = 0;
    qint64 m_droppedBytes = 0;
    qint64 m_droppedLines = 0;
    QString m_endText;
};

} // namespace gcodeexport
