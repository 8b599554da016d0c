// "valid|" in both modes, against the bench's tool records.
#include "server/tool_record_query.h"

#include "bench_fixture.h"
#include "package/firmware_package.h"

class ToolRecordQuery : public BenchTest {
  protected:
    void SetUp() override {
        BenchTest::SetUp();
        record_.reset(FirmwarePackage_new());
        record_->serialNumber = 100200;
        record_->hardwareId = 513;
        FirmwarePackage_setText(&record_->firmwareVersion, ByteString_fromText("1.02.03"));
        record_->firmwareId = 812;
        record_->firmwareBuild = 4711;
        record_->optionCode = 1;
    }
    void TearDown() override {
        record_.reset();
        BenchTest::TearDown();
    }
    // Name, manual codes, vehicle texts, firmware list and user number, as stored.
    std::string stored() const {
        const FirmwarePackage* r = record_.get();
        return textOf(r->toolName) + "/" + textOf(r->manualCode1) + "/" + textOf(r->vehicle2) +
               "/" + std::to_string(r->userNumber) + "/" + textOf(r->vehicle1) + "/" +
               textOf(r->firmwareList) + "/" + textOf(r->manualCode2);
    }
    FirmwarePackagePtr record_;
};

TEST_F(ToolRecordQuery, IdentificationStoresTheServersRecord) {
    ASSERT_TRUE(identifyToolRecord(session(), record_.get()));
    // The installed firmware identifier, not the build, is the fourth field.
    EXPECT_EQ(lastRequest()["request"], "valid|100200|513|1.02.03|812|1.3 Mac|1|1");
    EXPECT_EQ(stored(), "KTX2 Bench/EN/Focus/77/Ford/1.02.03:812:CURRENT:Latest release#/KTX2M");

    FirmwarePackagePtr bare(FirmwarePackage_new());
    bare->hardwareId = 600;
    ASSERT_TRUE(identifyToolRecord(session(), bare.get()));
    EXPECT_EQ(lastRequest()["request"], "valid|0|600||0|1.3 Mac|0|1");
    EXPECT_EQ(textOf(bare->toolName), "Any 600");
}

TEST_F(ToolRecordQuery, OnlyASuccessReplyReplacesTheRecord) {
    ASSERT_TRUE(identifyToolRecord(session(), record_.get()));
    const std::string before = stored();
    for (const char* reply :
         {"|FAILURE|", "", "SUCCESS", "|SUCCESS", "|SUCCESSX|a|", "|SUCCESS|"}) {
        Misbehaviour m;
        m.replies["valid|"] = reply;
        misbehave(m);
        // A bare success stores empty fields.
        const bool bare = std::string(reply) == "|SUCCESS|";
        EXPECT_EQ(identifyToolRecord(session(), record_.get()), bare) << reply;
        EXPECT_EQ(stored(), bare ? "///0///" : before) << reply;
    }
}
