#include "console/app/app_main.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "console/app/shutdown_step.h"
#include "console/cli/flock_clc.h"
#include "console/remote/admin_settings.h"
#include "console/remote/flock_tcp_ui.h"
#include "console/selftest/overlay_testers.h"
#include "console/ui/fclc_handler.h"
#include "console/ui/fclc_ui.h"
#include "core/bus/message_q.h"
#include "core/startup/core_thread.h"
#include "core/meta/special_tags.h"
#include "core/net/socket_pool.h"
#include "core/options/core_options.h"
#include "core/strings/string_table.h"
#include "core/ui/record_table.h"
#include "core/ui/transfer_ui.h"
#include "downloads/pool/download_pool_install.h"
#include "downloads/sources/peer_sources.h"
#include "overlay/gateway/core_flock_host.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/gateway/peer_link.h"
#include "transfer/friends/friend_list.h"
#include "transfer/hub/transfer_gateway.h"
#include "transfer/messages/message_pool.h"
#include "transfer/options/transfer_options.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/client_source_pool.h"
#include "transfer/peer/pool_peer_link.h"
#include "transfer/uploads/upload_pool.h"
#include "v4ada/error/error.h"
#include "v4ada/file/dir_lock.h"
#include "v4ada/file/fs.h"
#include "v4ada/init/init_class.h"
#include "v4ada/threads/linux/threads.h"
#include "v4ada/time/random.h"

std::vector<OwnedString>* commandLineArgs = nullptr;

namespace {

// The "!" argument and the waits look at keepRunning this often.
constexpr int kIdleStepMs = 100;
// Exit status of a second SIGINT, which ends the process at once.
constexpr int kInterruptedStatus = 130;
// Exit status of a shutdown that could not save pref.met.
constexpr int kNotSavedStatus = 1;

// Shutdown signals received; a second SIGINT ends at once.
std::atomic<int> gSignals{0};

// The console's user interface, and the remote one that the argument "-"
// puts in front of it; main thread only.
FclcUI* gConsoleUI = nullptr;
FlockTcpUI* gRemoteUI = nullptr;

// Remote mode: the remote user interface (which opens the administration
// door) forwards to the console's and takes its place as the gateway and
// the receiver of the notifications.
void start_remote_mode() {
    CoreThread* core = coreThread();
    if (gRemoteUI || !gConsoleUI || !core) return;
    AdminSettings* admin = adminSettings();
    int port = admin ? admin->controlPort() : kDefaultAdminDoorPort;
    auto remote = new FlockTcpUI(currentUI(), core->ui(), gConsoleUI, gConsoleUI, core->socketPool(), port);
    gRemoteUI = remote;
    setCurrentUI(remote);
    core->setUI(remote);
    if (TransferGateway* transfer = transferGateway()) transfer->setUI(remote);
    // The overlay reads its receiver on the task thread, between steps.
    if (FlockGateway* overlay = flockGateway()) core->runExclusive([overlay, remote] { overlay->setUI(remote); });
}

// After the core has stopped (no door, no controller is left): the console
// is the gateway again and the remote interface goes.
void end_remote_mode() {
    if (!gRemoteUI) return;
    setCurrentUI(gConsoleUI);
    if (CoreThread* core = coreThread()) core->setUI(gConsoleUI);
    if (TransferGateway* transfer = transferGateway()) transfer->setUI(gConsoleUI);
    if (FlockGateway* overlay = flockGateway()) overlay->setUI(gConsoleUI);
    delete gRemoteUI;
    gRemoteUI = nullptr;
}

void on_shutdown_signal(int signal) {
    int seen = gSignals.fetch_add(1);
    if (signal == SIGINT && seen > 0) _exit(kInterruptedStatus);
    if (Servant* servant = consoleServant.load()) servant->requestStop();
}

void install_signal_handlers(bool on) {
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = on ? on_shutdown_signal : SIG_DFL;
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed terminal saves the settings too.
    sigaction(SIGHUP, &action, nullptr);
}

bool keep_running() {
    Servant* servant = consoleServant.load();
    return servant && servant->keepRunning();
}

// Sleeps up to ms, in short steps, while the client keeps running.
void idle(long long ms) {
    while (ms > 0 && keep_running()) {
        int step = ms < kIdleStepMs ? static_cast<int>(ms) : kIdleStepMs;
        sleep_ms(step);
        ms -= step;
    }
}

}  // namespace

void set_command_line_args(int argc, char** argv) {
    clear_command_line_args();
    commandLineArgs = new std::vector<OwnedString>();
    for (int i = 0; i < argc; ++i) commandLineArgs->emplace_back(argv[i] ? argv[i] : "");
}

void clear_command_line_args() {
    delete commandLineArgs;
    commandLineArgs = nullptr;
}

bool app_argument(const char* text) {
    if (!text) return false;
    switch (text[0]) {
        case '-':
            start_remote_mode();
            return false;
        case 'w': {
            // The number after the 'w'; none (or no digits) is 0, and a
            // count below 0 waits nothing.
            long value = strtol(text + 1, nullptr, 10);
            int seconds = value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
            debug_printf("Waiting %d\n", seconds);
            if (seconds > 0) idle(static_cast<long long>(seconds) * 1000);
            return false;
        }
        case '!':
            while (keep_running()) sleep_ms(kIdleStepMs);
            return false;
        default:
            return true;
    }
}

int app_main() {
    // Writes to a closed peer fail with an error instead of a signal, and
    // so do writes beyond the file-size limit (EFBIG, reported like a full
    // disk) instead of killing the process.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
    ShutdownStep flushOutput([] { fflush(stdout); });
    // Init classes.
    init_all_classes();
    ShutdownStep uninitClasses(uninit_all_classes);

    // One client per base directory: a second one would delete the first
    // one's temporary files mid-save and truncate its log. Taken before
    // any file there is touched.
    OwnedString baseDir;
    if (!fs_current_dir(baseDir)) baseDir = ".";
    DirectoryLock baseLock;
    switch (baseLock.acquire(baseDir.c_str(), kBaseLockFileName)) {
        case DirectoryLock::Result::kLocked:
            break;
        case DirectoryLock::Result::kHeldElsewhere:
            error_at(__FILE__, __LINE__)("Another tandrel is running in %s (it holds %s); this one ends",
                                         baseDir.c_str(), baseLock.path().c_str());
            break;
        case DirectoryLock::Result::kFailed:
            error_at(__FILE__, __LINE__)("%s cannot be locked (%s)", baseLock.path().c_str(),
                                         baseLock.reason().c_str());
            break;
    }

    // The texts of the default skin (the options may name another one) and
    // the names of the special tags.
    XMLStringTable::createInstance();
    ShutdownStep noStringTable(XMLStringTable::destroyInstance);
    loadUIStrings();
    initSpecialTags();
    ShutdownStep noSpecialTags(resetSpecialTags);

    message_bus_create();
    ShutdownStep noBus(message_bus_destroy);
    CoreOptions::createInstance();
    ShutdownStep noOptions(CoreOptions::destroyInstance);
    AdminSettings::createInstance();
    ShutdownStep noAdminSettings(AdminSettings::destroyInstance);
    // The peer pool and the transfer settings outlive the socket pool.
    ClientPool::createInstance();
    ShutdownStep noClientPool(ClientPool::destroyInstance);
    // Download sources reach peers through the pool's faces; peer sources
    // are FileSources, with the list of users asked for a slot.
    installSourcePeerPool();
    ShutdownStep noSourcePeerPool(uninstallSourcePeerPool);
    installPeerSources();
    ShutdownStep noPeerSources(uninstallPeerSources);
    // The upload pool follows the peers until the socket pool has let the
    // last one go.
    UploadPool::createInstance();
    ShutdownStep noUploads(UploadPool::destroyInstance);
    FriendList::createInstance();
    ShutdownStep noFriends(FriendList::destroyInstance);
    MessagePool::createInstance();
    ShutdownStep noMessages(MessagePool::destroyInstance);
    // The download pool, which the transfer hub drives and shuts down.
    installDownloadPool();
    ShutdownStep noDownloads(uninstallDownloadPool);
    TransferOptions::createInstance();
    ShutdownStep noTransferOptions(TransferOptions::destroyInstance);
    TransferGateway::createInstance();
    ShutdownStep noTransferHub(TransferGateway::destroyInstance);
    TransferGateway* transfer = transferGateway();
    CoreThread::createInstance();
    ShutdownStep noCore(CoreThread::destroyInstance);
    CoreThread* core = coreThread();
    CoreOptions* options = coreOptions();
    // The overlay measurements of the master commands; they go once the
    // task thread has stopped.
    OverlayTesters::createInstance(*core);
    ShutdownStep noOverlayTesters(OverlayTesters::destroyInstance);

    // The console's loads and saves.
    FclcHandler handler;
    handler.subscribe(messageQ);
    // The console user interface receives every printed line.
    auto ui = std::make_unique<FclcUI>();
    setCurrentUI(ui.get());
    ShutdownStep noCurrentUI([] { setCurrentUI(nullptr); });
    // Friends' file lists print as the console's record table.
    setRecordTablePrinter(Servant::printMetaTable);
    ShutdownStep noRecordTable([] { setRecordTablePrinter(nullptr); });
    gConsoleUI = ui.get();
    ShutdownStep noConsoleUI([] { gConsoleUI = nullptr; });
    seed_random();
    // The console hears the notifications.
    core->setUI(ui.get());
    transfer->setUI(ui.get());
    // Hashing of shared files ends when the client quits.
    transfer->setKeepRunning(keep_running);
    ShutdownStep noNotifications([core, transfer] {
        core->setUI(nullptr);
        transfer->setUI(nullptr);
    });

    // The core's start-up steps: pref.met (and the skin it names), the
    // network protocol, filters.txt, the socket pool. An unreadable
    // pref.met ends the start-up here, with nothing written.
    core->build();

    // The command interpreter with its table, whose help texts come from
    // the skin now in force.
    auto client = std::make_unique<FlockCLC>(STDIN_FILENO);
    consoleClient.store(client.get());
    consoleServant.store(client.get());
    ShutdownStep noInterpreter([] {
        consoleServant.store(nullptr);
        consoleClient.store(nullptr);
    });
    ui->setPageSink(client->pager());
    client->setConsoleUI(ui.get());

    // The overlay: one gateway over the program's host, reached by the
    // console and the controller (flockGateway) and by the downloads and
    // the transfer side (networkGateway). It reaches the peer pool through
    // the link, and goes before the interpreter and the user interface.
    PoolPeerLink linkToPeers;
    setPeerLink(&linkToPeers);
    ShutdownStep noPeerLink([] { setPeerLink(nullptr); });
    CoreFlockHost overlayHost;
    auto overlay = std::make_unique<FlockGateway>(overlayHost);
    setFlockGateway(overlay.get());
    setNetworkGateway(overlay.get());
    ShutdownStep noOverlay([&overlay] {
        setNetworkGateway(nullptr);
        setFlockGateway(nullptr);
        overlay.reset();
    });
    overlay->setUI(ui.get());
    install_signal_handlers(true);
    ShutdownStep defaultSignals([] { install_signal_handlers(false); });
    // The remote interface goes once every thread has ended (below).
    ShutdownStep noRemoteMode(end_remote_mode);

    // The task thread. The interpreter takes its lines from the bus.
    client->subscribe(messageQ);
    if (!core->start()) error_at(__FILE__, __LINE__)("Couldn't start the task thread");
    // The transfer hub: its bus codes and the sides it provides. Its
    // shutdown runs once every other thread has ended (below); after a
    // normal shutdown it has nothing left to do.
    transfer->init();
    ShutdownStep hubDown([transfer] { transfer->shutdown(); });
    // The overlay comes up between two steps of the running task thread,
    // whose tasks and handlers it joins. It stops (contact.dat and
    // "annexPort") once every other thread has ended, before the transfer
    // side saves and pref.met is written.
    core->runExclusive([&overlay] { overlay->start(); });
    ShutdownStep overlayDown([&overlay] { overlay->stop(); });
    // Nothing below goes while another thread may still use it.
    ShutdownStep threadsEnded([core, transfer] {
        core->join();
        // Hashing shared files ends by itself only once the user quits.
        transfer->hashThread()->stopAndWait();
        transfer->stopStorageThreads();
        threads_wait_all();
    });
    client->pager()->setLinesPerPage(options->screenLines());
    adminSettings()->load(options);

    // A new log for every run.
    OwnedString logPath;
    logPath.format("%s/%s", options->baseDir().c_str(), kLogFileName);
    fs_remove(logPath.c_str());
    ui->setLogPath(logPath.c_str());
    ui->log("%s", kLogStartLine);

    // The saved state loads on the task thread.
    messageQ->post(MSG_LOAD_STATE, nullptr);

    // The arguments. Command lines queue behind the start-up load on
    // the bus and run on the task thread, each awaited in turn.
    std::vector<OwnedString> arguments;
    if (commandLineArgs) arguments = *commandLineArgs;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const char* text = arguments[i].c_str() ? arguments[i].c_str() : "";
        if (app_argument(text)) client->runAndWait(messageQ, text, false);
        fflush(stdout);
    }


    debug_printf("Welcome to Tandrel command line client %s\n", kClientVersionText);
    debug_printf("Enter commands at any time (type '?' for help)\n");

    // The console loop.
    while (client->keepRunning()) client->readCommand(messageQ);

    // Shutdown: nothing is saved before every other thread has ended.
    core->join();
    transfer->stopStorageThreads();
    threads_wait_all();
    options->setScreenLines(client->pager()->linesPerPage());
    // The remote-control settings, and the transfer side with its files and
    // settings, go into the options record before pref.met is written.
    adminSettings()->save(options);
    overlay->stop();
    transfer->shutdown();
    // pref.met is reported by the options when it cannot be written; the
    // exit status says so too.
    const bool saved = core->stop();
    // The administration door and its controllers went with the pool too.
    end_remote_mode();
    ui->log("%s", kLogEndLine);
    // The shutdown steps above undo the start-up in reverse order.
    return saved ? 0 : kNotSavedStatus;
}
