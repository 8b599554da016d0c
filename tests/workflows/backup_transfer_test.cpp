// A backup that the FTP server did not take is never registered and never told as safe:
// real FTP servers on loopback that refuse the login, ask for TLS the run does not use,
// refuse to store, or refuse once and then take it.
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

#include "link/tool_protocol.h"
#include "server/server_session.h"
#include "server/upload_turn.h"
#include "serversim/bench_certificates.h"
#include "serversim/ftp_process.h"
#include "support/update_bench.h"

namespace {

namespace fs = std::filesystem;

enum class Refusal { wrongPassword, tlsRequired, readOnly, refusedOnce, untrusted, dataChannel };

struct TransferCase {
    const char* name;
    Refusal refusal;
    const char* reason;      // what the status line says after the FTP server's name
    const char* registered;  // file numbers sent for registration
    int retries;             // "Uploading again." texts
    bool stored;             // the file on the FTP server in the end
};

// A tool of user 77 holding one backup the server lacks, identified.
class BackupBench : public UpdateBench {
  protected:
    void TestBody() override {}
    bool identifyWithOneBackup() {
        installed = makeRelease("1.23", "1.23", nullptr, {catalogue::cpakArea(1, 40, 0)});
        state.storedFileLayout = StoredFileLayout::Single;
        state.storedFiles.push_back({"SA-BACKUP-1000001", "Car 1", 1, patternBytes(900, 101)});
        toolRecord["userFileCount"] = 0;
        toolRecord["userNumber"] = 77;
        return startBench() && identify();
    }
};

class BackupTransfer : public BackupBench, public ::testing::WithParamInterface<TransferCase> {};

TEST_P(BackupTransfer, IsRegisteredOnlyOnceTheServerHasIt) {
    const TransferCase& c = GetParam();
    ASSERT_TRUE(identifyWithOneBackup());
    ASSERT_TRUE(ui.shown(Control::UploadReadFiles));

    FtpProcess ftp;
    FtpProcess::Settings settings;
    // The bench server's own upload folder: it registers only a file it finds there.
    settings.root = rig.server.uploadDir();
    settings.user = "ktxupload";
    settings.password = c.refusal == Refusal::wrongPassword ? "not-the-account's" : "ktxupload";
    std::string error;
    const bool tls = c.refusal == Refusal::tlsRequired || c.refusal == Refusal::untrusted ||
                     c.refusal == Refusal::dataChannel;
    if (tls) {
        fs::create_directories(rig.dir / "ftp-tls");
        auto files = BenchCertificate_writeServerSet(rig.dir / "ftp-tls", &error);
        ASSERT_TRUE(files) << error;
        settings.tlsCertificate = files->certificate;
        settings.tlsKey = files->key;
        rig.session->caFile = files->authority.string();
    }
    if (c.refusal == Refusal::dataChannel) {
        // Of an authority the client does not know, on the data connections alone: found out
        // only after the login.
        auto authority =
            BenchCertificate_make({.commonName = "data CA", .authority = true}, nullptr);
        ASSERT_TRUE(authority);
        auto other = BenchCertificate_make(
            {.commonName = "other.test", .hostNames = {"other.test"}}, &*authority);
        ASSERT_TRUE(other);
        ASSERT_TRUE(BenchCertificate_write(*other, rig.dir / "data.pem", rig.dir / "data.key"));
        settings.dataCertificate = rig.dir / "data.pem";
        settings.dataKey = rig.dir / "data.key";
        rig.session->ftpTls = true;
    }
    if (c.refusal == Refusal::untrusted) {
        // TLS asked for, and the server's authority is not the one the user named.
        auto other = BenchCertificate_make({.commonName = "other CA", .authority = true}, nullptr);
        ASSERT_TRUE(other);
        ASSERT_TRUE(BenchCertificate_write(*other, rig.dir / "other-ca.pem", {}));
        rig.session->ftpTls = true;
        rig.session->caFile = (rig.dir / "other-ca.pem").string();
    }
    settings.readOnly = c.refusal == Refusal::readOnly;
    settings.refusedStores = c.refusal == Refusal::refusedOnce ? 1 : 0;
    ASSERT_TRUE(ftp.start(settings, &error)) << error;
    const std::string ftpHost = "127.0.0.1:" + std::to_string(ftp.port()) + "/";
    ServerSession_setUploadHost(rig.session.get(), ftpHost.c_str());
    // pyftpdlib answers a failed login after 3 s, as servers that slow down guessing do; the
    // login is part of libcurl's connect phase.
    rig.session->timing.connectTimeout = Timing::ms(5000);
    rig.session->timing.lowSpeedTime = Timing::ms(5000);
    const size_t stored = state.storedFiles[0].content.size() + 512;
    const Bytes before = rig.tool.dataMemory(tool::kStoredFileAddress, stored);

    answerYes(&AppDelegate::uploadFilesClicked);

    std::vector<std::string> registered;
    for (const auto& r : rig.requests()) {
        if (r.value("word", "") == "uploadUserFile|") registered.push_back(r["args"][5]);
    }
    EXPECT_EQ(registered, words(c.registered));
    EXPECT_EQ(countMessage("File upload failed. Uploading again."), c.retries);
    // The transfer's own reason, once however many attempts it stopped.
    const std::string reason =
        "The FTP server 127.0.0.1:" + std::to_string(ftp.port()) + " " + c.reason;
    const auto calls = ui.calls();
    std::string statusLines;
    for (const std::string& call : calls) {
        if (call.starts_with("txtStatus=")) statusLines += call + "\n";
    }
    EXPECT_EQ(std::ranges::count(calls, "txtStatus=" + reason), 1) << statusLines;
    EXPECT_EQ(fs::exists(settings.root / "77.pak"), c.stored);
    EXPECT_EQ(rig.tool.dataMemory(tool::kStoredFileAddress, stored), before);
    if (c.refusal == Refusal::dataChannel) {
        EXPECT_EQ(std::ranges::count(ftp.commandsHeard(), "PASS"), 1);
    }
    if (c.refusal == Refusal::untrusted) {
        const auto heard = ftp.commandsHeard();
        EXPECT_EQ(std::ranges::count(heard, "PASS"), 0);
        EXPECT_EQ(std::ranges::count(heard, "AUTH"), 1);  // tried once: no retry can help
    }
    ASSERT_EQ(history().size(), 1u);
    EXPECT_EQ(history()[0].value("filesUploaded", "?"), c.stored ? "1" : "");
    EXPECT_EQ(history()[0].value("filesNotUploaded", "?"), c.stored ? "" : "1");
    if (c.stored) {
        EXPECT_EQ(ui.text(Line::Msg), "File uploaded to server successfully");
        EXPECT_FALSE(ui.shown(Control::UploadReadFiles));
        return;
    }
    EXPECT_EQ(ui.text(Line::Msg), "File upload failed");
    EXPECT_EQ(ui.boxes().back().message, "File upload to server failed");
    EXPECT_TRUE(ui.shown(Control::UploadReadFiles));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(FtpServers, BackupTransfer, ::testing::Values(
    TransferCase{"LoginRefused", Refusal::wrongPassword,
                 "refused the upload: 530 Authentication failed.", "", 2, false},
    TransferCase{"TlsRequired", Refusal::tlsRequired,
                 "refused the upload: 550 SSL/TLS required on the control channel.", "", 2, false},
    TransferCase{"StoreNotPermitted", Refusal::readOnly,
                 "refused the upload: 550 Not enough privileges.", "", 2, false},
    TransferCase{"RefusedOnceThenStored", Refusal::refusedOnce,
                 "refused the upload: 451 Requested action aborted: local error in processing.",
                 "1", 1, true},
    TransferCase{"UntrustedCertificateNotRetried", Refusal::untrusted,
                 "failed the security check: its certificate is from an unknown certificate "
                 "authority. Nothing was sent to it.", "", 0, false},
    TransferCase{"DataConnectionFailsTheCheck", Refusal::dataChannel,
                 "failed the security check: its certificate is from an unknown certificate "
                 "authority.", "", 0, false}),
    [](const auto& p) { return std::string(p.param.name); });
// clang-format on

// Another updater uploading the same user's file: this run waits for its turn before it
// uploads, or gives up after the wait's limit without uploading or registering anything.
struct TurnCase {
    const char* name;
    bool released;  // the other updater ends its upload while this run waits
};

class BackupTurn : public BackupBench, public ::testing::WithParamInterface<TurnCase> {};

TEST_P(BackupTurn, WaitsForAnotherUpdaterOfTheSameFile) {
    const TurnCase& c = GetParam();
    ASSERT_TRUE(identifyWithOneBackup());
    rig.session->uploadTurns = (rig.dir / "turns").string();
    rig.session->timing.uploadTurnWait = Timing::ms(c.released ? 60000 : 1000);
    const ByteString* host =
        rig.session->uploadHost != nullptr ? rig.session->uploadHost : rig.session->host;
    std::string error;
    UploadTurnPtr other = UploadTurn_take(rig.session->uploadTurns, ByteString_str(host), "77.pak",
                                          {Timing::ms(0), Timing::ms(10)}, &error);
    ASSERT_TRUE(other) << error;

    // The other updater ends its upload once this run says it waits for it, and not before.
    const std::string waiting = "txtMsg=Waiting for another updater's upload of 77.pak...";
    std::atomic<bool> done{false};
    int storesWhileHeld = -1;
    std::thread holder([&] {
        while (!done && std::ranges::count(ui.calls(), waiting) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        storesWhileHeld =
            static_cast<int>(std::ranges::count(rig.server.ftpCommandsHeard(), "STOR"));
        if (c.released) other.reset();
    });
    answerYes(&AppDelegate::uploadFilesClicked);
    done = true;
    holder.join();

    EXPECT_EQ(std::ranges::count(ui.calls(), waiting), 1);
    EXPECT_EQ(storesWhileHeld, 0);
    std::vector<std::string> registered;
    for (const auto& r : rig.requests()) {
        if (r.value("word", "") == "uploadUserFile|") registered.push_back(r["args"][5]);
    }
    EXPECT_EQ(registered, words(c.released ? "1" : ""));
    EXPECT_EQ(fs::exists(rig.server.uploadDir() / "77.pak"), c.released);
    if (c.released) {
        EXPECT_EQ(ui.text(Line::Msg), "File uploaded to server successfully");
        return;
    }
    EXPECT_EQ(std::ranges::count(ui.calls(),
                                 "txtStatus=The turn to upload 77.pak could not be had: another "
                                 "updater has been uploading a file of that name for too long"),
              1);
    EXPECT_EQ(countMessage("File upload failed. Uploading again."), 0);
    EXPECT_EQ(ui.text(Line::Msg), "File upload failed");
    ASSERT_EQ(history().size(), 1u);
    EXPECT_EQ(history()[0].value("filesNotUploaded", "?"), "1");
}

INSTANTIATE_TEST_SUITE_P(OtherUpdater, BackupTurn,
                         ::testing::Values(TurnCase{"EndsItsUpload", true},
                                           TurnCase{"NeverEndsIt", false}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
