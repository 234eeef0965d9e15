#include "screens/CsvExport.h"

#include "screens/MessageBoxes.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QSaveFile>
#include <QStandardPaths>
#include <memory>

ExportActivity& ExportActivity::Instance()
{
    static ExportActivity activity;
    return activity;
}

void ExportActivity::SetRunning(bool now)
{
    if (running == now)
        return;
    running = now;
    emit RunningChanged(running);
}

namespace CsvExport {

namespace {
int progressDelayMs = 1000;
// Rows between two looks at the clock and the Cancel button.
const int kRowsPerCheck = 256;

bool NeedsQuotes(const QString& field)
{
    for (const QChar c : field) {
        if (c == QLatin1Char(',') || c == QLatin1Char('"') || c == QLatin1Char('\n') ||
            c == QLatin1Char('\r'))
            return true;
    }
    return false;
}

// As OWASP advises against formula injection.
QString Inert(const QString& field)
{
    static const QString kFormulaStarts = QStringLiteral("=+-@\t\r");
    return !field.isEmpty() && kFormulaStarts.contains(field.front()) ? QLatin1Char('\'') + field
                                                                      : field;
}

QByteArray Line(const QStringList& fields, const QSet<int>& textColumns = {})
{
    QString line;
    for (int column = 0; column < fields.size(); ++column) {
        const QString field = textColumns.contains(column) ? Inert(fields[column]) : fields[column];
        if (column > 0)
            line += QLatin1Char(',');
        if (NeedsQuotes(field))
            line += QLatin1Char('"') +
                    QString(field).replace(QLatin1Char('"'), QLatin1String("\"\"")) +
                    QLatin1Char('"');
        else
            line += field;
    }
    return line.toUtf8() + "\r\n";
}

void Fail(QWidget* parent, const QString& reason)
{
    MessageBoxes::Information(parent, QStringLiteral("Quorrin1009"),
                              QStringLiteral("导出失败\n") + reason);
}
} // namespace

void Run(QWidget* parent, const QString& caption, const QString& fileName,
         const QStringList& header, const QSet<int>& textColumns, const Reader& read)
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString path = MessageBoxes::SaveFileName(
        parent, caption, QDir(documents).filePath(fileName), QStringLiteral("csv"));
    if (path.isEmpty())
        return;
    // Without the direct-write fallback a file that cannot be written beside
    // its final name fails instead of overwriting the old one in place.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        Fail(parent, file.errorString());
        return;
    }
    file.write("\xEF\xBB\xBF");
    file.write(Line(header));

    qint64 rows = 0;
    bool cancelled = false;
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QProgressDialog> progress;
    ExportActivity::Instance().SetRunning(true);
    const bool readAll = read([&](const QStringList& fields) {
        file.write(Line(fields, textColumns));
        if (++rows % kRowsPerCheck != 0)
            return true;
        if (!progress && clock.elapsed() >= progressDelayMs) {
            progress = std::make_unique<QProgressDialog>(parent);
            progress->setWindowTitle(caption);
            progress->setCancelButtonText(QStringLiteral("取消"));
            progress->setRange(0, 0);
            progress->setWindowModality(Qt::WindowModal);
            progress->show();
        }
        if (progress) {
            progress->setLabelText(QStringLiteral("正在导出，已写入 %1 行").arg(rows));
            QCoreApplication::processEvents();
            cancelled = progress->wasCanceled();
        }
        return !cancelled && file.error() == QFileDevice::NoError;
    });
    progress.reset();
    ExportActivity::Instance().SetRunning(false);
    if (cancelled) {
        file.cancelWriting();
        return;
    }
    if (!readAll) {
        Fail(parent, stockDb.LastReadFailed() ? stockDb.ReadErrorText() : stockDb.OpenErrorText());
        return;
    }
    if (!file.commit()) {
        Fail(parent, file.errorString());
        return;
    }
    MessageBoxes::Information(parent, QStringLiteral("Quorrin1009"),
                              QStringLiteral("导出成功\n共 %1 行").arg(rows));
}

void SetProgressDelay(int ms)
{
    progressDelayMs = ms;
}

} // namespace CsvExport
