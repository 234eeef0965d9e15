#pragma once

#include <QDialog>

namespace Ui {
class password;
}

// Sets, changes or removes the shop's passphrase on the store. Without one
// the store has the program's key, which every copy of the program knows.
class CTPasswordDialog : public QDialog
{
    Q_OBJECT
public:
    explicit CTPasswordDialog(QWidget* parent = nullptr);
    ~CTPasswordDialog() override;

    // At start, when the store did not open with the program's key: asks for
    // the shop's passphrase, up to three tries, unless the file never had
    // one. Returns what to tell once the window is up when the store stayed
    // closed, with the restore steps; empty otherwise.
    static QString UnlockStore();

public slots:
    void accept() override;

signals:
    // Just before the store is re-encrypted: whatever reads the file on a
    // connection of its own must let go of it.
    void KeyAboutToChange();
    // The store now has the new key; copies made under the old one are
    // still to be brought over.
    void KeyChanged();

private:
    // Why the entries cannot be taken, or empty.
    QString Refusal() const;

    Ui::password* ui;
};
