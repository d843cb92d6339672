#include "console/cli/status_commands.h"

#include "console/cli/servant.h"
#include "console/remote/admin_settings.h"
#include "core/options/core_options.h"
#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"
#include "overlay/gateway/flock_gateway.h"
#include "transfer/options/transfer_options.h"
#include "v4ada/file/fs.h"

void vo_command(char*) {
    UIGateway* ui = currentUI();
    CoreOptions* options = coreOptions();
    TransferOptions* transfer = transferOptions();
    if (!ui || !options) return;
    FlockGateway* overlay = flockGateway();
    AdminSettings* admin = adminSettings();
    Servant* servant = consoleServant.load();
    OwnedString name = options->nickname();
    OwnedString adminName = admin ? admin->name() : OwnedString("");
    OwnedString adminPass = admin ? admin->pass() : OwnedString("");
    ui->print("Name:\t\t\t%s", name.c_str() ? name.c_str() : "");
    ui->print("Max Download Speed:\t%.2f", options->downloadLimit());
    ui->print("Max Upload Speed:\t%.2f", options->uploadLimit());
    ui->print("Line Speed Down:\t%.2f", options->lineSpeedDown());
    ui->print("TCP Port:\t\t%d", transfer ? transfer->doorPort() : kDefaultDoorPort);
    ui->print("UDP Port:\t\t%d", overlay ? overlay->self().udpPort() : 0);
    ui->print("Admin Port:\t\t%d", admin ? admin->controlPort() : kDefaultAdminDoorPort);
    ui->print("Admin Name:\t\t%s", adminName.c_str() ? adminName.c_str() : "");
    ui->print("Admin Pass:\t\t%s", adminPass.c_str() ? adminPass.c_str() : "");
    ui->print("Verbose:\t\t%d", ui->isVerbose() ? 1 : 0);
    ui->print("SaveCorrupted:\t\t%d", transfer ? transfer->saveCor() : 1);
    ui->print("MaxConnections:\t\t%d", options->maxConnections());
    ui->print("ScreenLines:\t\t%d", servant ? servant->pager()->linesPerPage() : options->screenLines());
    ui->print("Allow Private Messages:\t\t%d", transfer ? transfer->pmAllow() : 0);
    ui->print("Allow Viewing of Files:\t\t%d", transfer ? transfer->frAllow() : 0);
}

void space_command(char*) {
    UIGateway* ui = currentUI();
    TransferOptions* transfer = transferOptions();
    if (!ui || !transfer) return;
    OwnedString temp = transfer->tempDir();
    OwnedString incoming = transfer->incomingDir();
    ui->print("%s:     %.2fMB", uiText("freeTempPartition", "Space free on temp partion").c_str(),
              static_cast<double>(fs_free_space(temp.c_str())) / kBytesPerMiB);
    ui->print("%s: %.2fMB", uiText("freeIncomingPartition", "Space free on incoming partion").c_str(),
              static_cast<double>(fs_free_space(incoming.c_str())) / kBytesPerMiB);
}

void sup_command(char*) {
    if (UIGateway* ui = currentUI()) ui->print("%s", kNotImplementedText);
}
