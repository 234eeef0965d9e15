#include "app/AppContext.h"
#include "app/BackupScheduler.h"
#include "app/CopyToServer.h"
#include "app/Pellory.h"
#include "screens/CTPasswordDialog.h"
#include "screens/MessageBoxes.h"
#include "store/StockDb.h"

#include <QApplication>
#include <QDebug>
#include <QTimer>

namespace {
// What every start does before the store is opened; returns the program's folder.
QString SetUp()
{
    const QString dir = QCoreApplication::applicationDirPath();

    const QString plugins = AppendUtf8(dir, "/sqldrivers/");
    QCoreApplication::addLibraryPath(plugins);
    qDebug() << plugins;

    LoadClientUuid(dir);
    LoadStoreSettings(dir);
    appContext.InitLog(dir, false);
    return dir;
}
} // namespace

int main(int argc, char* argv[])
{
    // Decided before any application object exists: this mode has no window
    // and runs where there is no display (over SSH, on the server itself).
    if (argc == 2 && qstrcmp(argv[1], "--copy-to-server") == 0) {
        QCoreApplication app(argc, argv);
        return CopyToServer(SetUp());
    }
    QApplication app(argc, argv);
    const QString dir = SetUp();
    stockDb.OpenStockDb(QString());
    const QString keyRefusal = CTPasswordDialog::UnlockStore();

    Pellory window(dir, nullptr);
    window.setWindowTitle(QStringLiteral("Quorrin1009"));
    window.setWindowIcon(QIcon::fromTheme("select", QIcon(":/Pellory/images/exe.png")));
    window.show();
    BackupScheduler backups(dir);
    QObject::connect(&backups, &BackupScheduler::BackupDone, &window, &Pellory::ShowBackupResult);
    QObject::connect(&window, &Pellory::StoreKeyChanging, &backups, &BackupScheduler::DropRunning);
    QObject::connect(&window, &Pellory::StoreKeyChanged, &backups, &BackupScheduler::RekeyCopies);
    QObject::connect(&backups, &BackupScheduler::CopiesRekeyed, &window,
                     &Pellory::ShowCopiesRekeyed);
    backups.Start();

    // A store that did not open, or opened without its tables, would look to
    // the shopkeeper like lost data and silently drop every sale: say so once
    // the window is up.
    if (!stockDb.IsOpen() || !stockDb.OpenErrorText().isEmpty()) {
        QTimer::singleShot(0, &window, [keyRefusal] {
            MessageBoxes::Information(nullptr, "Quorrin1009",
                                      !keyRefusal.isEmpty()
                                          ? keyRefusal
                                          : QStringLiteral("数据库打开失败，数据将无法保存\n") +
                                                stockDb.OpenErrorText());
        });
    }
    return app.exec();
}
