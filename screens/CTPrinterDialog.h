// The till's receipt printer: where it is, its paper and code page, what to
// print around the sale, with a preview and a test print.
#pragma once

#include "app/AppContext.h"

#include <QDialog>
#include <memory>

class PrintQueue;
namespace Ui {
class printer;
}

class CTPrinterDialog : public QDialog
{
    Q_OBJECT
public:
    // Shows current; OK writes the entries into <appDir>/plconfig.ini.
    CTPrinterDialog(const QString& appDir, const PrinterSettings& current,
                    QWidget* parent = nullptr);
    ~CTPrinterDialog() override;

    // What the entries say now.
    PrinterSettings Settings() const;

public slots:
    void accept() override;

private:
    void ShowPreview();
    void TestPrint();
    void ShowTestResult(const QString& reason);

    std::unique_ptr<Ui::printer> ui;
    QString appDir;
    PrintQueue* queue;
};
