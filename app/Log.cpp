#include "app/Log.h"

#include <QString>
#include <locale>

RunLog::RunLog() {
    // Numbers always use the C notation, whatever locale the process runs in.
    _file.imbue(std::locale::classic());
}

RunLog::~RunLog() {
    close();
}

bool RunLog::open(const std::string& path) {
    std::lock_guard<std::mutex> lock(_mutex);
    if (_file.is_open())
        return false;
    _file.open(path, std::ios::out | std::ios::app);
    if (!_file.is_open()) {
        _file.setstate(std::ios::failbit);
        return false;
    }
    // Writes attempted before the log was open must not block it.
    _file.clear();
    return true;
}

bool RunLog::isOpen() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _file.is_open();
}

void RunLog::close() {
    std::lock_guard<std::mutex> lock(_mutex);
    if (_file.is_open())
        _file.close();
}

void RunLog::writeName(const char* name) {
    if (name)
        _file << name << '=';
}

void RunLog::lineEnd(bool flush) {
    _file << '\n';
    if (flush)
        _file.flush();
}

void RunLog::writeDouble(double value) {
    // The default stream format: general notation, 6 significant digits.
    _file << value;
}

void RunLog::text(const char* text, bool endLine) {
    std::lock_guard<std::mutex> lock(_mutex);
    if (!_file.is_open())
        return;
    if (text)
        _file << text;
    if (endLine)
        lineEnd(true);
}

void RunLog::string(const std::string& text, bool endLine) {
    std::lock_guard<std::mutex> lock(_mutex);
    if (!_file.is_open())
        return;
    _file << text.c_str();
    if (endLine)
        lineEnd(true);
}

void RunLog::wstring(const std::wstring& text, bool endLine) {
    const QByteArray utf8 = QString::fromStdWString(text).toUtf8();
    std::lock_guard<std::mutex> lock(_mutex);
    if (!_file.is_open())
        return;
    _file.write(utf8.constData(), utf8.size());
    if (endLine)
        lineEnd(true);
}

void RunLog::integer(int value, const char* name, bool endLine) {
    std::lock_guard<std::mutex> lock(_mutex);
    if (!_file.is_open())
        return;
    writeName(name);
    _file << value;
    if (endLine)
        lineEnd(true);
}

void RunLog::real(double value, const char* name) {
    std::lock_guard<std::mutex> lock(_mutex);
    if (!_file.is_open())
        return;
    writeName(name);
    writeDouble(value);
    lineEnd(true);
}

void RunLog::point(const double point[3], const char* name, bool endLine) {
    std::lock_guard<std::mutex> lock(_mutex);
    if (!_file.is_open())
        return;
    writeName(name);
    writeDouble(point[0]);
    _file << ", ";
    writeDouble(point[1]);
    _file << ", ";
    writeDouble(point[2]);
    if (endLine)
        lineEnd(false);
}

RunLog& logStream() {
    static RunLog log;
    return log;
}

bool logOpen(const std::string& path) {
    return logStream().open(path);
}

void logText(const char* text, bool endLine) {
    logStream().text(text, endLine);
}

void logString(const std::string& text, bool endLine) {
    logStream().string(text, endLine);
}

void logWString(const std::wstring& text, bool endLine) {
    logStream().wstring(text, endLine);
}

void logInt(int value, const char* name, bool endLine) {
    logStream().integer(value, name, endLine);
}

void logDouble(double value, const char* name) {
    logStream().real(value, name);
}

void logPoint(const double point[3], const char* name, bool endLine) {
    logStream().point(point, name, endLine);
}
