#include "app/DiagnosticLog.h"

#include "app/AppContext.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QTextStream>

QString logDir;

QString FormatLogLine(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    QString typeText;
    switch (type) {
    case QtDebugMsg:
        typeText = "Debug:";
        break;
    case QtWarningMsg:
        typeText = "Warning:";
        break;
    case QtCriticalMsg:
        typeText = "Critical:";
        break;
    case QtFatalMsg:
        typeText = "Fatal:";
        break;
    default:
        break;
    }
    const QString contextText = QString("File:(%1) Line:(%2)")
                                    .arg(QString::fromUtf8(context.file ? context.file : ""))
                                    .arg(context.line);
    const QString timeText =
        QString("(%1)").arg(QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss ddd"));
    // One multi-argument pass, so markers inside the message are written as they are.
    return QString("%1 %2 %3 %4").arg(typeText, contextText, message, timeText);
}

void LogMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    // Function-local static: created once, thread-safely, on first use.
    static QMutex mutex;
    QMutexLocker locker(&mutex);

    QFile file(AppendUtf8(logDir + PathSeparator(), "cslog.txt"));
    // A log that cannot be opened loses the line: reporting it would re-enter here.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QTextStream stream(&file);
    stream << FormatLogLine(type, context, message) << "\r\n";
    stream.flush();
    file.flush();
    file.close();
}
