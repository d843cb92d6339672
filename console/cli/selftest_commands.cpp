#include "console/cli/selftest_commands.h"

#include "console/cli/command_output.h"
#include "console/cli/command_words.h"
#include "console/selftest/closer_tester.h"
#include "console/selftest/overlay_testers.h"
#include "console/selftest/publish_tester.h"
#include "console/selftest/router_tester.h"
#include "console/selftest/test_master.h"
#include "console/selftest/transfer_test.h"
#include "core/ui/ui_gateway.h"

void test_command(char*) {
    TestMaster master;
    master.addStandardTests();
    master.add(new TransferTest);
    master.run();
}

void testDrop_command(char*) {
    OverlayTesters* testers = OverlayTesters::instance();
    UIGateway* ui = currentUI();
    if (!testers || !ui) return;
    if (PublishTester* tester = testers->publishTester()) {
        ui->print("Dumping publish test (%d trackers at %d sec intervals)...\n", PublishTester::kTrackers,
                  PublishTester::kIntervalSeconds);
        tester->dump();
        ui->print("done.");
        return;
    }
    testers->makePublishTester();
    ui->print("start publish test\n");
}

void testCloser_command(char*) {
    OverlayTesters* testers = OverlayTesters::instance();
    UIGateway* ui = currentUI();
    if (!testers || !ui) return;
    if (CloserTester* tester = testers->closerTester()) {
        ui->print("Dumping closer test\n");
        tester->dump();
        return;
    }
    testers->makeCloserTester();
    ui->print("start closer test\n");
}

void testRouter_command(char* line) {
    OverlayTesters* testers = OverlayTesters::instance();
    UIGateway* ui = currentUI();
    if (!testers || !ui) return;
    if (RouterTester* tester = testers->routerTester()) {
        ui->print("dumping router test\n");
        tester->dump();
        return;
    }
    CommandWords words(line);
    int port1 = numberOf(words.at(2));
    int port2 = numberOf(words.at(3));
    if (!words.at(1) || port1 == 0 || port2 == 0) return;
    testers->makeRouterTester(words.at(1), port1, port2);
    ui->print("started router test.");
}

void collect_command(char*) {
    OverlayTesters* testers = OverlayTesters::instance();
    if (!testers) return;
    if (testers->collect()) {
        if (UIGateway* ui = currentUI()) ui->print("start collecting stats\n");
    }
}
