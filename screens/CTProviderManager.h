#pragma once

#include <QDialog>
#include <QPoint>

class QAction;
class QMenu;
class QStandardItemModel;

namespace Ui {
class provider;
}

// The provider list with its entry form; new providers are what the
// stock-in screen books purchases against.
class CTProviderManager : public QDialog
{
    Q_OBJECT
public:
    explicit CTProviderManager(QWidget* parent = nullptr);
    ~CTProviderManager() override;

    // Fills the list from the store, replacing what it showed.
    void LoadProviders();

private slots:
    void OnAddItemClick(bool bChecked);
    void RightMenuQpoint(const QPoint& pos);
    void MenuChoice(QAction* pAction);

private:
    Ui::provider* ui;
    QStandardItemModel* model = nullptr;
    QMenu* contextMenu = nullptr;
    QAction* deleteAction = nullptr;
    int menuRow = -1;
};
