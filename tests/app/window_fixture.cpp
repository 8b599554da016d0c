#include "app/window_fixture.h"

#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <chrono>
#include <future>

#include "catalogue/catalogue_builder.h"
#include "packwriter/package_writer.h"

void WindowTest::TearDown() {
    if (setup) {
        EXPECT_TRUE(waitIdle());
    }
    setup.reset();
    rig.stop();
}

void WindowTest::startBench(const std::string& firmwareList) {
    packwriter::Info installed;
    installed.fsn = "FD";
    installed.fln = "Ford passenger cars";
    installed.des = "Installed release";
    installed.firmwareName = "2.18.04";
    installed.firmwareBuild = 1;
    installed.extraNames = {"MANUAL"};
    rig.addFile("ktxFirmwares/900.gfi", packwriter::writeInfo(installed));
    // Release 901: bootloaders the tool already has, and firmware 2.20.01.
    packwriter::Image release;
    release.fsn = "FD";
    release.fln = "Ford passenger cars";
    release.des = "Newest release";
    release.records = {catalogue::bootRecord(0, "1.20"), catalogue::bootRecord(1, "1.20"),
                       catalogue::firmwareRecord({220, "KTX", {2, 20, 1}, 1, 0}, 2048)};
    catalogue::writeRelease(rig.catalogue, 901, release);
    nlohmann::json tool = benchToolRecord();
    tool["firmwareList"] = firmwareList;
    ToolState state = ToolState_default();
    state.firmwareId = 900;
    std::string error;
    ASSERT_TRUE(rig.start(state, {{"tools", {tool}}}, &error)) << error;
    openWindow(rig.link);
}

void WindowTest::openWindow(const LinkSettings& link) {
    setup.reset();
    setup = makeWindowSetup(*rig.session, link);
    setup->ui->answerBox = [this](const QtBox& box) {
        if (QThread::currentThread() != QCoreApplication::instance()->thread()) {
            boxOffMainThread = true;
        }
        boxes.push_back(box);
        if (answers.empty()) return kFirstButton;
        int answer = answers.front();
        answers.pop_front();
        return answer;
    };
    setup->ui->openInBrowser = [this](const std::string& address) { opened.push_back(address); };
}

bool WindowTest::waitFor(const std::function<bool()>& done, int seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    QCoreApplication::processEvents();
    return true;
}

bool WindowTest::waitIdle(int seconds) {
    AppDelegate* d = setup->delegate.get();
    auto idle = std::async(std::launch::async, [d] { d->waitIdle(); });
    return waitFor(
        [&] { return idle.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        seconds);
}

bool WindowTest::identify() {
    window().btnFind->click();
    return waitIdle() && enabled(Control::Program);
}

std::string WindowTest::text(Line line) {
    return window().line(line)->text().toStdString();
}

bool WindowTest::enabled(Control control) {
    return window().control(control)->isEnabled();
}

bool WindowTest::hidden(Control control) {
    return window().control(control)->isHidden();
}
