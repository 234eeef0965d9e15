#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>
#include <functional>

// Every message box and file dialog of the program goes through here, so tests can answer
// the next box in advance and check what it said instead of racing a timer.
class MessageBoxes
{
public:
    // Information box with one button.
    static void Information(QWidget* parent, const QString& title, const QString& text,
                            QMessageBox::StandardButton button = QMessageBox::Ok);

    // Yes/No question. With chineseButtons the buttons read "是" and "否".
    // Text that comes from outside is passed with Qt::PlainText.
    // Returns the button pressed (NoButton when the box was closed otherwise).
    static QMessageBox::StandardButton Ask(QWidget* parent, QMessageBox::Icon icon,
                                           const QString& title, const QString& text,
                                           bool chineseButtons,
                                           Qt::TextFormat textFormat = Qt::AutoText);

    // The same question, asked without being asked for: the box leaves the
    // keyboard where it is (a scanner's Return must not answer it) and the
    // window usable; answered gets the button once the box is closed. The
    // box stays above window and goes with it.
    static void AskAside(QWidget* window, QMessageBox::Icon icon, const QString& title,
                         const QString& text, bool chineseButtons, Qt::TextFormat textFormat,
                         std::function<void(QMessageBox::StandardButton)> answered);
    // Masked one-line entry, for a passphrase. False when cancelled.
    static bool AskSecret(QWidget* parent, const QString& title, const QString& label,
                          QString& entered);
    // The file dialog that asks where to save: proposed is the folder and
    // name offered; files ending in "." + suffix are listed, and a name typed
    // without a suffix gets it. Returns the chosen path, empty when cancelled.
    static QString SaveFileName(QWidget* parent, const QString& caption, const QString& proposed,
                                const QString& suffix);

    struct Shown
    {
        QMessageBox::Icon icon;
        QString title;
        QString text;
        Qt::TextFormat textFormat = Qt::AutoText;
    };

    // Test hooks. Once test mode is on no box is ever shown: each box takes
    // the next queued answer, or Ok for information, No for questions and
    // Cancel for entries.
    static void SetTestMode(bool on);
    static void SetNextAnswer(QMessageBox::StandardButton answer);
    // The next entry is answered with `text` and Ok.
    static void SetNextEntry(const QString& text);
    // The next file dialog chooses path (empty: cancelled); it is listed as
    // shown with its caption as title and the proposed path as text.
    static void SetNextFileName(const QString& path);
    static QList<Shown> TakeShown();
};
