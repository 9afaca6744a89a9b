#pragma once
// The file dialogs the main window asks: the real ones by default, a stand-in
// in tests (which answer without a user).
#include <QString>
#include <QStringList>

class QWidget;

class FileDialogProvider {
public:
    virtual ~FileDialogProvider() = default;
    // QFileDialog::getOpenFileNames; an empty list when cancelled.
    virtual QStringList openFileNames(QWidget* parent, const QString& caption, const QString& dir,
                                      const QString& filter) = 0;
    // QFileDialog::getSaveFileName; selectedFilter is read (the initial filter)
    // and written (the chosen one). Empty when cancelled.
    virtual QString saveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                 const QString& filter, QString* selectedFilter) = 0;
};

// The Qt dialogs.
class QtFileDialogProvider : public FileDialogProvider {
public:
    QStringList openFileNames(QWidget* parent, const QString& caption, const QString& dir,
                              const QString& filter) override;
    QString saveFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter,
                         QString* selectedFilter) override;
};
