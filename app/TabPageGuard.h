#pragma once

#include <QObject>

// The tab pages are dialogs, and a dialog closes itself on Escape: embedded
// in the tab widget that would leave an empty tab until the next switch.
// Installed on each page, this keeps Escape from reaching the dialog.
class TabPageGuard : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
