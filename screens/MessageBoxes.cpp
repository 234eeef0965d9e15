#include "screens/MessageBoxes.h"

#include <QInputDialog>
#include <QPushButton>
#include <QQueue>

namespace {
struct Answer
{
    QMessageBox::StandardButton button;
    QString entry;
};

bool testMode = false;
QQueue<Answer> answers;
QList<MessageBoxes::Shown> shown;

Answer TestAnswer(QMessageBox::StandardButton fallback)
{
    return answers.isEmpty() ? Answer{fallback, QString()} : answers.dequeue();
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
        return TestAnswer(QMessageBox::No).button;
    }
    QMessageBox box(icon, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setTextFormat(textFormat);
    if (chineseButtons) {
        box.button(QMessageBox::Yes)->setText(QStringLiteral("是"));
        box.button(QMessageBox::No)->setText(QStringLiteral("否"));
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

bool MessageBoxes::AskSecret(QWidget* parent, const QString& title, const QString& label,
                             QString& entered)
{
    if (testMode) {
        shown.append({QMessageBox::NoIcon, title, label});
        const Answer answer = TestAnswer(QMessageBox::Cancel);
        entered = answer.entry;
        return answer.button == QMessageBox::Ok;
    }
    bool ok = false;
    entered = QInputDialog::getText(parent, title, label, QLineEdit::Password, QString(), &ok);
    return ok;
}

void MessageBoxes::SetTestMode(bool on)
{
    testMode = on;
    answers.clear();
    shown.clear();
}

void MessageBoxes::SetNextAnswer(QMessageBox::StandardButton answer)
{
    testMode = true;
    answers.enqueue({answer, QString()});
}

void MessageBoxes::SetNextEntry(const QString& text)
{
    testMode = true;
    answers.enqueue({QMessageBox::Ok, text});
}

QList<MessageBoxes::Shown> MessageBoxes::TakeShown()
{
    QList<Shown> taken;
    taken.swap(shown);
    return taken;
}
