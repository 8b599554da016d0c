// A trust store the user names (--ca-file, CURL_CA_BUNDLE, SSL_CERT_FILE), looked at
// before the first transfer: one that cannot be used would otherwise fail every request
// later, and look like a server that cannot be reached.
#pragma once

#include <string>

// Empty when `path` is a readable file of PEM certificates, every one of them whole;
// otherwise why not, as "it is a directory", "it holds no certificate".
std::string TrustStore_problem(const std::string& path);
