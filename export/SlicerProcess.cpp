#include "export/SlicerProcess.h"

#include "app/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

namespace gcodeexport {

GcodeFileCheck checkGcodeFile(const QString& path) {
    GcodeFileCheck check;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return check;
    check.bytes = file.size();
    static const QByteArray countMark(";LAYER_COUNT:");
    static const QByteArray layerMark(";LAYER:");
    // Line by line; both marks stand at the start of their lines near the top
    // of the file, so a good file is read only a little way.
    while (!(check.hasLayerCount && check.hasLayer)) {
        const QByteArray line = file.readLine(4096);
        if (line.isEmpty())
            break;
        if (!check.hasLayerCount && line.startsWith(countMark)) {
            bool ok = false;
            const int n = line.mid(countMark.size()).trimmed().toInt(&ok);
            check.hasLayerCount = true;
            check.layerCount = ok ? n : 0;
        } else if (line.startsWith(layerMark)) {
            check.hasLayer = true;
        }
    }
    return check;
}

QString findSlicer(const QString& applicationDir) {
    const QString override = qEnvironmentVariable("VELAR_CURAENGINE");
    if (!override.isEmpty())
        return override;
    const QFileInfo beside(QDir(applicationDir).filePath(QStringLiteral("CuraEngine")));
    if (beside.isFile() && beside.isExecutable())
        return beside.absoluteFilePath();
    return QStandardPaths::findExecutable(QStringLiteral("CuraEngine"));
}

SlicerProcess::SlicerProcess(QObject* parent) : QObject(parent) {}

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
    m_pendingOutput.clear();
    m_pendingError.clear();
    m_tail.clear();
    m_startError.clear();
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
        m_startError = tr("No slicer program was found.");
        QTimer::singleShot(0, this, [this] { end(End::FailedToStart, -1); });
        return true;
    }
    m_process->start(QIODevice::ReadOnly);
    return true;
}

void SlicerProcess::takeLines(const QByteArray& bytes, QByteArray& pending, bool tail) {
    pending += bytes;
    int from = 0;
    for (int nl = pending.indexOf('\n', from); nl >= 0; nl = pending.indexOf('\n', from)) {
        QByteArray line = pending.mid(from, nl - from);
        if (line.endsWith('\r'))
            line.chop(1);
        from = nl + 1;
        logString(line.toStdString());
        if (tail && !line.trimmed().isEmpty()) {
            m_tail.push_back(QString::fromLocal8Bit(line.left(kTailLineLength)));
            if (m_tail.size() > static_cast<size_t>(kTailLines))
                m_tail.pop_front();
        }
    }
    pending.remove(0, from);
}

void SlicerProcess::flushPending() {
    if (!m_pendingOutput.isEmpty())
        takeLines(QByteArrayLiteral("\n"), m_pendingOutput, false);
    if (!m_pendingError.isEmpty())
        takeLines(QByteArrayLiteral("\n"), m_pendingError, true);
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
    m_startError = m_process->errorString();
    end(End::FailedToStart, -1);
}

void SlicerProcess::end(End how, int exitCode) {
    if (!m_running)
        return;
    m_running = false;
    emit finished(how, exitCode);
}

QString SlicerProcess::errorTail() const {
    QStringList lines;
    for (const QString& line : m_tail)
        lines << line;
    return lines.join(QLatin1Char('\n'));
}

} // namespace gcodeexport
