#pragma once

#include <QString>
#include <QtGlobal>

// Directory of cslog.txt; empty until AppContext::InitLog.
extern QString logDir;

void LogMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

// One line as the handler writes it, without the line end.
QString FormatLogLine(QtMsgType type, const QMessageLogContext& context, const QString& message);
