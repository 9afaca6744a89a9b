#pragma once
// The run's text log: one file per run, written from the GUI thread and from
// worker threads. Every writer takes the log's lock for its own output, so
// lines written by one call never interleave with another thread's; a line
// assembled from several calls (endLine false) may.
//
// The file is narrow UTF-8: narrow texts are written byte for byte, wide texts
// are converted to UTF-8. Until logOpen succeeds every write is dropped.
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>

class RunLog {
public:
    RunLog();
    ~RunLog();
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    // Opens path (UTF-8) for appending, so a second run started within the
    // same second continues the first run's file instead of truncating it.
    // Fails when a file is already open or the file cannot be opened.
    bool open(const std::string& path);
    bool isOpen() const;
    // Closes the file; later writes are dropped until the next open.
    void close();

    void text(const char* text, bool endLine);
    void string(const std::string& text, bool endLine);
    void wstring(const std::wstring& text, bool endLine);
    void integer(int value, const char* name, bool endLine);
    void real(double value, const char* name);
    void point(const double point[3], const char* name, bool endLine);

private:
    void writeName(const char* name);
    void lineEnd(bool flush);
    void writeDouble(double value);

    mutable std::mutex _mutex;
    std::ofstream _file;
};

// The program's one log, built on first use and closed at exit.
RunLog& logStream();

// Writers over logStream(). A line end is a newline followed by a flush.
bool logOpen(const std::string& path);
// text; a line end when endLine.
void logText(const char* text, bool endLine = true);
// text up to its first NUL byte; a line end when endLine.
void logString(const std::string& text, bool endLine = true);
// every character of text, as UTF-8; a line end when endLine.
void logWString(const std::wstring& text, bool endLine = true);
// "name=" when name is not null, then the value; a line end when endLine.
void logInt(int value, const char* name = nullptr, bool endLine = true);
// "name=" when name is not null, then the value (6 significant digits); always a line end.
void logDouble(double value, const char* name = nullptr);
// "name=" when name is not null, then "x, y, z"; with endLine a newline
// without a flush (the line reaches the file with the next flush).
void logPoint(const double point[3], const char* name = nullptr, bool endLine = true);
