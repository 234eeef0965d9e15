#include "screens/MessageBoxes.h"

#include <QFileDialog>
#include <QPushButton>
#include <QQueue>

namespace {
bool testMode = false;
QQueue<QMessageBox::StandardButton> answers;
QQueue<QString> fileNames;
QList<MessageBoxes::Shown> shown;

QMessageBox::StandardButton TestAnswer(QMessageBox::StandardButton fallback)
{
    return answers.isEmpty() ? fallback : answers.dequeue();
}
} // namespace

void MessageBoxes::Information(QWidget* parent, const QString& title, const QString& text,
                               QMessageBox::StandardButton button)
{
    if (testMode) {
        shown.append({QMessageBox::Information, title, text});
        TestAnswer(button);
        return;
    }
    QMessageBox::information(parent, title, text, button);
}

QMessageBox::StandardButton MessageBoxes::Ask(QWidget* parent, QMessageBox::Icon icon,
                                              const QString& title, const QString& text,
                                              bool chineseButtons, Qt::TextFormat textFormat)
{
    if (testMode) {
        shown.append({icon, title, text, textFormat});
        return TestAnswer(QMessageBox::No);
    }
    QMessageBox box(icon, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setTextFormat(textFormat);
    if (chineseButtons) {
        box.button(QMessageBox::Yes)->setText(QStringLiteral("是"));
        box.button(QMessageBox::No)->setText(QStringLiteral("否"));
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString MessageBoxes::SaveFileName(QWidget* parent, const QString& caption, const QString& proposed,
                                   const QString& suffix)
{
    if (testMode) {
        shown.append({QMessageBox::NoIcon, caption, proposed});
        return fileNames.isEmpty() ? QString() : fileNames.dequeue();
    }
    // The dialog adds the suffix itself, before it asks whether to replace
    // a file of that name.
    QFileDialog dialog(parent, caption, proposed, QStringLiteral("*.") + suffix);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(suffix);
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

void MessageBoxes::SetTestMode(bool on)
{
    testMode = on;
    answers.clear();
    fileNames.clear();
    shown.clear();
}

void MessageBoxes::SetNextAnswer(QMessageBox::StandardButton answer)
{
    testMode = true;
    answers.enqueue(answer);
}

QList<MessageBoxes::Shown> MessageBoxes::TakeShown()
{
    QList<Shown> taken;
    taken.swap(shown);
    return taken;
}

void MessageBoxes::SetNextFileName(const QString& path)
{
    testMode = true;
    fileNames.enqueue(path);
}
