#include "workflows/sleep_inhibitor.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr const char* kWho = "zarvik-updater";
constexpr const char* kWhy = "Updating the KTX2 firmware";

struct BusDeleter {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageDeleter {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};

// A descriptor of our own for the lock, or -1 with `error` set and `refused` telling whether
// logind answered no (polkit's verdict) rather than not at all.
int inhibit(sd_bus* bus, const char* what, const char* mode, uint64_t timeoutUs, std::string* error,
            bool* refused) {
    *refused = false;
    sd_bus_message* raw = nullptr;
    int r = sd_bus_message_new_method_call(bus, &raw, "org.freedesktop.login1",
                                           "/org/freedesktop/login1",
                                           "org.freedesktop.login1.Manager", "Inhibit");
    std::unique_ptr<sd_bus_message, MessageDeleter> call(raw);
    if (r >= 0) r = sd_bus_message_append(call.get(), "ssss", what, kWho, kWhy, mode);
    if (r < 0) {
        *error = std::strerror(-r);
        return -1;
    }
    sd_bus_error failure{};  // SD_BUS_ERROR_NULL, whose compound literal is not C++
    raw = nullptr;
    r = sd_bus_call(bus, call.get(), timeoutUs, &failure, &raw);
    std::unique_ptr<sd_bus_message, MessageDeleter> reply(raw);
    if (r < 0) {
        *error = failure.message != nullptr ? failure.message : std::strerror(-r);
        *refused = sd_bus_error_has_name(&failure, "org.freedesktop.DBus.Error.AccessDenied") ||
                   sd_bus_error_has_name(
                       &failure, "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired");
        sd_bus_error_free(&failure);
        return -1;
    }
    int fd = -1;
    r = sd_bus_message_read(reply.get(), "h", &fd);
    // The reply owns its descriptor: the lock needs one that outlives it.
    const int own = r >= 0 ? fcntl(fd, F_DUPFD_CLOEXEC, 3) : -1;
    if (own < 0) *error = "the reply carried no descriptor";
    return own;
}

}  // namespace

SleepInhibitor* SleepInhibitor_take(std::chrono::milliseconds timeout, std::string* note) {
    auto* inhibitor = new SleepInhibitor;
    note->clear();
    sd_bus* raw = nullptr;
    if (sd_bus_open_system(&raw) < 0) {
        *note = "No login manager answered: suspend and shutdown are not held off during updates";
        return inhibitor;
    }
    std::unique_ptr<sd_bus, BusDeleter> bus(raw);
    const uint64_t timeoutUs = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(timeout).count());
    std::string error;
    bool refused = false;
    const int main =
        inhibit(bus.get(), "sleep:shutdown:idle", "block", timeoutUs, &error, &refused);
    if (main >= 0) {
        inhibitor->descriptors.push_back(main);
    } else if (!refused) {
        *note = "No login manager answered (" + error +
                "): suspend and shutdown are not held off during updates";
        return inhibitor;
    } else {
        // Outside a desktop session (a remote shell, a timer) polkit lets an ordinary user
        // block idle and delay suspend and shutdown, nothing more: hold what is granted. Each
        // delay is asked for alone: logind checks a lock on several things as a lid lock.
        *note = "The login manager refused to block suspend and shutdown (" + error +
                "; polkit grants that to a desktop session, elsewhere to an administrator only)";
        bool ignored = false;
        const int idle = inhibit(bus.get(), "idle", "block", timeoutUs, &error, &ignored);
        if (idle >= 0) inhibitor->descriptors.push_back(idle);
        int delay = -1;
        for (const char* what : {"sleep", "shutdown"}) {
            const int one = inhibit(bus.get(), what, "delay", timeoutUs, &error, &ignored);
            if (one >= 0) inhibitor->descriptors.push_back(one);
            delay = std::max(delay, one);
        }
        *note += delay >= 0 ? ": they are only delayed a few seconds during updates"
                            : ": they are not held off during updates";
        if (idle < 0 && delay < 0) return inhibitor;
    }
    // Without this lock logind, by default, suspends on the lid whatever the other one says.
    const int lid = inhibit(bus.get(), "handle-lid-switch", "block", timeoutUs, &error, &refused);
    if (lid >= 0) {
        inhibitor->descriptors.push_back(lid);
    } else {
        *note += std::string(note->empty() ? "" : "; ") + "The login manager refused the " +
                 "lid-switch lock (" + error +
                 "): closing the lid may still suspend during updates";
    }
    return inhibitor;
}

void SleepInhibitor_release(SleepInhibitor* inhibitor) {
    if (inhibitor == nullptr) return;
    for (int fd : inhibitor->descriptors) ::close(fd);
    delete inhibitor;
}
