// The controller with the recording UI port, against the whole bench.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/byte_string.h"
#include "packwriter/package_writer.h"
#include "support/bench_rig.h"
#include "support/recording_ui.h"
#include "workflows/app_delegate.h"

class WorkflowTest : public ::testing::Test {
  protected:
    void TearDown() override {
        delegate_.reset();
        rig_.stop();
    }

    // The installed firmware (id 700) and the one offered (id 900) as package infos.
    static packwriter::Info installedInfo() {
        packwriter::Info info;
        info.fsn = "FD";
        info.fln = "Ford cars";
        info.des = "Installed release";
        info.firmwareName = "2.18.04";
        info.firmwareBuild = 1;
        info.extraNames = {"MANUAL"};
        return info;
    }
    static packwriter::Info offeredInfo() {
        packwriter::Info info;
        info.fsn = "FD";
        info.fln = "Ford cars";
        info.firmwareName = "2.20.01";
        info.firmwareBuild = 3;
        return info;
    }
    static nlohmann::json records(nlohmann::json tool = benchToolRecord()) {
        return {{"updaterVersion", "1.3"},
                {"tools", {tool}},
                {"firmware",
                 {{{"deviceFamily", "KTX"},
                   {"firmwareVersion", "2.18.04"},
                   {"variantCode", 0},
                   {"firmwareId", 700}}}}};
    }

    void startBench(const ToolState& state = ToolState_default(),
                    const nlohmann::json& known = records()) {
        rig_.addFile("ktxFirmwares/700.gfi", packwriter::writeInfo(installedInfo()));
        rig_.addFile("ktxFirmwares/900.gfi", packwriter::writeInfo(offeredInfo()));
        std::string error;
        ASSERT_TRUE(rig_.start(state, known, &error)) << error;
        makeDelegate();
    }
    void makeDelegate() {
        delegate_ = std::make_unique<AppDelegate>(ui_, *rig_.session, rig_.link);
    }
    // Find Device to its end; true when Program became available.
    bool identify() {
        delegate_->portClicked();
        delegate_->waitIdle();
        return ui_.enabled(Control::Program) && delegate_->toolRecord() != nullptr;
    }
    size_t requestCount() { return rig_.requests().size(); }

    BenchRig rig_;
    RecordingUi ui_;
    std::unique_ptr<AppDelegate> delegate_;
};
