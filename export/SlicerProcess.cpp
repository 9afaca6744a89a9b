#include "export/SlicerProcess.h"

#include "app/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

namespace gcodeexport {

QString findSlicer(const QString& applicationDir) {
    const QString override = qEnvironmentVariable("VELAR_CURAENGINE");
    if (!override.isEmpty())
        return override;
    const QFileInfo beside(QDir(applicationDir).filePath(QStringLiteral("CuraEngine")));
    if (beside.isFile() && beside.isExecutable())
        return beside.absoluteFilePath();
    return QStandardPaths::findExecutable(QStringLiteral("CuraEngine"));
}

SlicerProcess::SlicerProcess(QObject* parent) : QObject(parent) {
    m_silence = new QTimer(this);
    m_silence->setSingleShot(true);
    connect(m_silence, &QTimer::timeout, this, &SlicerProcess::onSilent);
}

SlicerProcess::~SlicerProcess() {
    if (m_process) {
        // The process dies with the owner rather than outliving the program.
        m_process->disconnect(this);
        m_process->kill();
        m_process->waitForFinished(2000);
    }
}

bool SlicerProcess::start(const QString& program, const QStringList& arguments) {
    if (m_running)
        return false;
    m_running = true;
    m_pendingOutput = Pending();
    m_pendingError = Pending();
    m_tail.clear();
    m_logReader.clear();
    m_loggedBytes = m_logTailBytes = m_droppedBytes = m_droppedLines = 0;
    m_logTail.clear();
    m_endText.clear();
    if (m_process) {
        // This may run inside the old process's own finished signal.
        m_process->disconnect(this);
        m_process->deleteLater();
    }
    m_process = new QProcess(this);
    m_process->setProgram(program);
    m_process->setArguments(arguments);
    connect(m_process, &QProcess::readyReadStandardOutput, this, &SlicerProcess::onReadyReadOutput);
    connect(m_process, &QProcess::readyReadStandardError, this, &SlicerProcess::onReadyReadError);
    connect(m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &SlicerProcess::onFinished);
    connect(m_process, &QProcess::errorOccurred, this, &SlicerProcess::onErrorOccurred);
    if (program.isEmpty()) {
        // Nothing to start: end as a failed start, from the event loop like
        // every other end.
        m_endText = tr("No slicer program was found.");
        QTimer::singleShot(0, this, [this] { end(End::FailedToStart, -1); });
        return true;
    }
    m_process->start(QIODevice::ReadOnly);
    m_silence->start(m_silenceLimitMs);
    return true;
}

void SlicerProcess::stop() {
    if (m_running)
        kill(End::Stopped);
}

void SlicerProcess::onSilent() {
    if (!m_running)
        return;
    m_endText = tr("The slicer wrote nothing for %1 minutes and was stopped.").arg(m_silenceLimitMs / 60000.0);
    kill(End::Silent);
}

void SlicerProcess::kill(End how) {
    // The process's own end must not report a second time.
    m_process->disconnect(this);
    m_process->kill();
    m_process->waitForFinished(2000);
    takeLines(m_process->readAllStandardOutput(), m_pendingOutput, false);
    takeLines(m_process->readAllStandardError(), m_pendingError, true);
    flushPending();
    end(how, -1);
}

void SlicerProcess::takeLine(QByteArray line, bool tail) {
    if (line.endsWith('\r'))
        line.chop(1);
    logLine(line);
    m_logReader.addLine(line);
    if (tail && !line.trimmed().isEmpty()) {
        m_tail.push_back(QString::fromLocal8Bit(line.left(kTailLineLength)));
        if (m_tail.size() > static_cast<size_t>(kTailLines))
            m_tail.pop_front();
    }
}

void SlicerProcess::takeLines(const QByteArray& bytes, Pending& pending, bool tail) {
    if (bytes.isEmpty())
        return;
    m_silence->start(m_silenceLimitMs);
    pending.bytes += bytes;
    // Only the new bytes are searched for line ends.
    int from = 0;
    for (int nl = pending.bytes.indexOf('\n', pending.scanned); nl >= 0; nl = pending.bytes.indexOf('\n', from)) {
        takeLine(pending.bytes.mid(from, nl - from), tail);
        from = nl + 1;
    }
    while (pending.bytes.size() - from >= kMaxLineBytes) {
        takeLine(pending.bytes.mid(from, kMaxLineBytes), tail);
        from += kMaxLineBytes;
    }
    pending.bytes.remove(0, from);
    pending.scanned = pending.bytes.size();
}

void SlicerProcess::flushPending() {
    for (Pending* p : {&m_pendingOutput, &m_pendingError}) {
        if (!p->bytes.isEmpty())
            takeLine(p->bytes, p == &m_pendingError);
        *p = Pending();
    }
    flushLogTail();
}

void SlicerProcess::logLine(const QByteArray& line) {
    const qint64 bytes = line.size() + 1;
    if (m_logTail.empty() && m_loggedBytes + bytes <= kLogHeadBytes) {
        logString(line.toStdString());
        m_loggedBytes += bytes;
        return;
    }
    m_logTail.push_back(line);
    m_logTailBytes += bytes;
    while (m_logTailBytes > kLogTailBytes && m_logTail.size() > 1) {
        m_logTailBytes -= m_logTail.front().size() + 1;
        m_droppedBytes += m_logTail.front().size() + 1;
        ++m_droppedLines;
        m_logTail.pop_front();
    }
}

void SlicerProcess::flushLogTail() {
    if (m_droppedLines > 0)
        logString(QStringLiteral("[... %1 lines (%2 bytes) of the slicer's output left out ...]")
                      .arg(m_droppedLines)
                      .arg(m_droppedBytes)
                      .toStdString());
    for (const QByteArray& line : m_logTail)
        logString(line.toStdString());
    m_logTail.clear();
    m_logTailBytes = m_droppedBytes = m_droppedLines = 0;
}

void SlicerProcess::onReadyReadOutput() {
    takeLines(m_process->readAllStandardOutput(), m_pendingOutput, false);
}

void SlicerProcess::onReadyReadError() {
    takeLines(m_process->readAllStandardError(), m_pendingError, true);
}

void SlicerProcess::onFinished(int exitCode, QProcess::ExitStatus status) {
    // Output still buffered in the process object arrives before the end.
    takeLines(m_process->readAllStandardOutput(), m_pendingOutput, false);
    takeLines(m_process->readAllStandardError(), m_pendingError, true);
    flushPending();
    end(status == QProcess::NormalExit ? End::Finished : End::Crashed, exitCode);
}

void SlicerProcess::onErrorOccurred(QProcess::ProcessError error) {
    // Every other error is followed by finished(); a failed start is not.
    if (error != QProcess::FailedToStart)
        return;
    m_endText = m_process->errorString();
    end(End::FailedToStart, -1);
}

void SlicerProcess::end(End how, int exitCode) {
    if (!m_running)
        return;
    m_running = false;
    m_silence->stop();
    emit finished(how, exitCode);
}

QString SlicerProcess::errorTail() const {
    QStringList lines;
    for (const QString& line : m_tail)
        lines << line;
    return lines.join(QLatin1Char('\n'));
}

} // namespace gcodeexport
