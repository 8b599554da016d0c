#pragma once

// The updater's own version as the server knows it: sent in the version check, and with
// the platform in every tool record query.
inline constexpr const char* kUpdaterVersion = "1.3";
inline constexpr const char* kUpdaterIdentity = "1.3 Mac";
