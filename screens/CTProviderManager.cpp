#include "screens/CTProviderManager.h"

#include "screens/MessageBoxes.h"
#include "screens/TableSupport.h"
#include "store/RecordId.h"
#include "store/StockDb.h"
#include "ui_provider.h"

#include <QAction>
#include <QMenu>

namespace {
const int kGuidColumn = 6;
const QString kTitle = QStringLiteral("Quorrin1009");

// Goods are booked in against a provider picked by name: a namesake, or one
// that differs only in blanks, could not be told apart there.
bool NameTaken(const QString& name)
{
    const QString wanted = name.trimmed();
    for (const ProviderInfo& provider : stockDb.QueryAllProviders(0, 100)) {
        if (provider.provider_name.trimmed() == wanted)
            return true;
    }
    return false;
}
} // namespace

CTProviderManager::CTProviderManager(QWidget* parent) : QDialog(parent), ui(new Ui::provider)
{
    ui->setupUi(this);
    ui->pb_AddItem->setIcon(QIcon::fromTheme("select", QIcon(":/Pellory/images/addprovider.png")));
    ui->pb_AddItem->setIconSize(QSize(24, 24));

    model = TableSupport::CreateModel(this, ui->tableView,
                                      {tr("供应商名称"), tr("联系方式"), tr("地址"), tr("营业执照"),
                                       tr("食品流通证"), tr("主营业务"), tr("供应商GUID")},
                                      QHeaderView::ResizeToContents);
    TableSupport::MakeReadOnlyRowSelection(ui->tableView);

    connect(ui->pb_AddItem, SIGNAL(clicked(bool)), this, SLOT(OnAddItemClick(bool)));
    ui->LE_PGUID->setText(NewRecordIdText());
    LoadProviders();

    contextMenu = TableSupport::CreateDeleteMenu(this, ui->tableView, deleteAction);
}

CTProviderManager::~CTProviderManager()
{
    delete ui;
}

void CTProviderManager::LoadProviders()
{
    TableSupport::ClearRows(model);
    for (const ProviderInfo& provider : stockDb.QueryAllProviders(0, 100))
        model->appendRow(TableSupport::MakeItems(
            {provider.provider_name, provider.provider_phone, provider.provider_address,
             provider.provider_license, provider.provider_foodlicense, provider.provider_business,
             provider.provider_guid}));
}

void CTProviderManager::OnAddItemClick(bool /*bChecked*/)
{
    const QString guid = ui->LE_PGUID->text();
    const QString name = ui->le_pname->text();
    const QString address = ui->le_paddr->text();
    const QString phone = ui->le_pphone->text();
    const QString license = ui->le_plicense->text();
    const QString foodLicense = ui->le_pflicense->text();
    const QString business = ui->le_pbusiniess->toPlainText();

    if (name.isEmpty()) {
        MessageBoxes::Information(nullptr, kTitle, QStringLiteral("供应商名称不能为空"));
        return;
    }
    if (NameTaken(name)) {
        MessageBoxes::Information(nullptr, kTitle, QStringLiteral("供应商名称已存在"));
        return;
    }

    const bool added =
        stockDb.InsertProvider(guid, name, phone, address, license, foodLicense, business);
    if (added)
        model->appendRow(
            TableSupport::MakeItems({name, phone, address, license, foodLicense, business, guid}));
    MessageBoxes::Information(nullptr, kTitle,
                              added ? QStringLiteral("添加成功") : QStringLiteral("添加失败"));
    // A refused identifier is not offered again either.
    ui->LE_PGUID->setText(NewRecordIdText());
}

void CTProviderManager::RightMenuQpoint(const QPoint& pos)
{
    TableSupport::PopupRowMenu(ui->tableView, pos, contextMenu, menuRow);
}

void CTProviderManager::MenuChoice(QAction* pAction)
{
    if (!TableSupport::ConfirmDelete(QStringLiteral("是否删除本行数据?")) ||
        pAction->text() != QStringLiteral("删除"))
        return;
    const bool deleted =
        stockDb.DeleteProvider(TableSupport::CellText(model, menuRow, kGuidColumn));
    TableSupport::FinishDelete(model, menuRow, deleted);
}
