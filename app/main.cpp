#include "app/AppContext.h"
#include "app/BackupScheduler.h"
#include "app/Pellory.h"
#include "screens/CTPasswordDialog.h"
#include "screens/MessageBoxes.h"
#include "store/StockDb.h"

#include <QApplication>
#include <QDebug>
#include <QTimer>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QString dir = QCoreApplication::applicationDirPath();

    const QString plugins = AppendUtf8(dir, "/sqldrivers/");
    QCoreApplication::addLibraryPath(plugins);
    qDebug() << plugins;

    LoadClientUuid(dir);
    LoadStoreSettings(dir);
    appContext.InitLog(dir, false);
    stockDb.OpenStockDb(QString());
    CTPasswordDialog::UnlockStore();

    Pellory window(dir, nullptr);
    window.setWindowTitle(QStringLiteral("Quorrin1009"));
    window.setWindowIcon(QIcon::fromTheme("select", QIcon(":/Pellory/images/exe.png")));
    window.show();
    BackupScheduler backups(dir);
    QObject::connect(&backups, &BackupScheduler::BackupDone, &window, &Pellory::ShowBackupResult);
    QObject::connect(&window, &Pellory::StoreKeyChanging, &backups, &BackupScheduler::DropRunning);
    backups.Start();

    // A store that did not open, or opened without its tables, would look to
    // the shopkeeper like lost data and silently drop every sale: say so once
    // the window is up.
    if (!stockDb.IsOpen() || !stockDb.OpenErrorText().isEmpty()) {
        QTimer::singleShot(0, &window, [] {
            MessageBoxes::Information(nullptr, "Quorrin1009",
                                      QStringLiteral("数据库打开失败，数据将无法保存\n") +
                                          stockDb.OpenErrorText());
        });
    }
    return app.exec();
}
