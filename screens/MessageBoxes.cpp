#include "screens/MessageBoxes.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QPointer>
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
QQueue<QString> fileNames;
QList<MessageBoxes::Shown> shown;

Answer TestAnswer(QMessageBox::StandardButton fallback)
{
    return answers.isEmpty() ? Answer{fallback, QString()} : answers.dequeue();
}

void SetUpQuestion(QMessageBox& box, bool chineseButtons, Qt::TextFormat textFormat)
{
    box.setTextFormat(textFormat);
    if (chineseButtons) {
        box.button(QMessageBox::Yes)->setText(QStringLiteral("是"));
        box.button(QMessageBox::No)->setText(QStringLiteral("否"));
    }
}

// A window system may activate a box that asked not to be; the window that
// had the keyboard then gets it back at once. The buttons still take clicks.
class KeyboardKeeper : public QObject
{
public:
    KeyboardKeeper(QWidget* keeper, QObject* parent) : QObject(parent), keeper(keeper) {}

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::WindowActivate && keeper)
            keeper->activateWindow();
        return false;
    }

private:
    QPointer<QWidget> keeper;
};
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
    SetUpQuestion(box, chineseButtons, textFormat);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void MessageBoxes::AskAside(QWidget* window, QMessageBox::Icon icon, const QString& title,
                            const QString& text, bool chineseButtons, Qt::TextFormat textFormat,
                            std::function<void(QMessageBox::StandardButton)> answered)
{
    if (testMode) {
        shown.append({icon, title, text, textFormat});
        answered(TestAnswer(QMessageBox::No).button);
        return;
    }
    auto* box = new QMessageBox(icon, title, text, QMessageBox::Yes | QMessageBox::No, window);
    SetUpQuestion(*box, chineseButtons, textFormat);
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setAttribute(Qt::WA_ShowWithoutActivating);
    box->setWindowFlag(Qt::WindowDoesNotAcceptFocus);
    if (QWidget* focused = QApplication::focusWidget())
        box->installEventFilter(new KeyboardKeeper(focused->window(), box));
    QObject::connect(box, &QMessageBox::finished, box,
                     [box, answered](int) { answered(box->standardButton(box->clickedButton())); });
    box->show();
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

void MessageBoxes::SetNextFileName(const QString& path)
{
    testMode = true;
    fileNames.enqueue(path);
}
