#pragma once

#include <string>
#include <vector>

// Settings shared by every command of the command line.
struct CliOptions {
    std::string server;  // [https://]HOST[:PORT]; empty: the environment, then the build's
    std::string port;    // serial device path; empty: the environment, then discovery
    std::string tool;    // USB serial of the tool to use; empty: the environment, then any
    std::vector<std::string> tools;  // every --tool given; program updates several at once
    bool yes = false;
    bool json = false;
    bool trace = false;
    std::string traceLink;  // file for the frame trace; empty: none
    std::string caFile;     // trust store for TLS; empty: CURL_CA_BUNDLE, SSL_CERT_FILE, system
    bool ftpTls = false;    // the upload over TLS even when the server address is plain http
    // Where the kernel lists the tty devices and their nodes; empty: /sys and /dev. Hidden,
    // for tests on a fake tree.
    std::string sysfsRoot;
    std::string devRoot;
    // Hidden: this process updates one tool of a batch: Yes to the update's question, No to
    // a reinstall or a change of vehicle type unless `yes`.
    bool batchTool = false;
};
