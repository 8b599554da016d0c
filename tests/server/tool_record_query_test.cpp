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
    std::string field(ByteString* s) { return s == nullptr ? "<null>" : ByteString_str(s); }
    FirmwarePackagePtr record_;
};

TEST_F(ToolRecordQuery, IdentificationStoresTheServersRecord) {
    ASSERT_TRUE(identifyToolRecord(session(), record_.get()));
    auto sent = lastRequest();
    // The installed firmware identifier, not the build, is the fourth field.
    EXPECT_EQ(sent["request"], "valid|100200|513|1.02.03|812|1.3 Mac|1|1");
    EXPECT_EQ(sent["mode"], 1);
    EXPECT_EQ(sent["tag"], "");
    EXPECT_EQ(field(record_->toolName), "KTX2 Bench");
    EXPECT_EQ(field(record_->manualCode1), "EN");
    EXPECT_EQ(field(record_->vehicle2), "Focus");
    EXPECT_EQ(record_->userNumber, 77);
    EXPECT_EQ(field(record_->vehicle1), "Ford");
    EXPECT_EQ(field(record_->firmwareList), "1.02.03:812:CURRENT:Latest release#");
    EXPECT_EQ(field(record_->manualCode2), "KTX2M");
}

TEST_F(ToolRecordQuery, ReportGluesTheTagToTheIdentity) {
    ByteStringPtr tag = makeByteString("_Failed_Mem_Block_12");
    EXPECT_TRUE(queryToolRecord(session(), record_.get(), ToolRecordMode::report, tag.get()));
    auto sent = lastRequest();
    EXPECT_EQ(sent["args"][4], "1.3 Mac_Failed_Mem_Block_12");
    EXPECT_EQ(sent["mode"], 2);
    EXPECT_EQ(sent["tag"], "_Failed_Mem_Block_12");
    EXPECT_EQ(field(record_->toolName), "KTX2 Bench");
}

TEST_F(ToolRecordQuery, MatchesByHardwareIdAndSendsZeros) {
    FirmwarePackagePtr bare(FirmwarePackage_new());
    bare->hardwareId = 600;
    ASSERT_TRUE(identifyToolRecord(session(), bare.get()));
    EXPECT_EQ(lastRequest()["request"], "valid|0|600||0|1.3 Mac|0|1");
    EXPECT_EQ(field(bare->toolName), "Any 600");
    EXPECT_EQ(field(bare->vehicle1), "");  // a field the server leaves empty stays empty
    EXPECT_EQ(bare->userNumber, 90);
}

TEST_F(ToolRecordQuery, RefusalLeavesTheRecordUnchanged) {
    ASSERT_TRUE(identifyToolRecord(session(), record_.get()));
    ByteString* name = record_->toolName;
    for (bool refuse : {true, false}) {
        Misbehaviour m;
        if (refuse) m.refusedWords = {"valid|"};
        m.emptyAnswers = !refuse;
        misbehave(m);
        EXPECT_FALSE(identifyToolRecord(session(), record_.get()));
        EXPECT_EQ(record_->toolName, name);
        EXPECT_EQ(field(record_->toolName), "KTX2 Bench");
        EXPECT_EQ(record_->userNumber, 77);
    }
    misbehave({});
    record_->serialNumber = 5;  // unknown to the server
    record_->hardwareId = 1;
    EXPECT_FALSE(identifyToolRecord(session(), record_.get()));
    EXPECT_EQ(field(record_->firmwareList), "1.02.03:812:CURRENT:Latest release#");
}
