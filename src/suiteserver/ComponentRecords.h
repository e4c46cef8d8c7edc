#pragma once

// What the server has started or is about to start or stop, kept where a
// restarted server finds it: one record per component slot in use. A start
// is recorded before the program is spawned (no process yet, only the marker
// the child will carry in its environment), a stop before its first signal
// (with the moment the grace ends), so a server killed at any step can finish
// or undo what it was doing.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "suiteserver/ProcessLauncher.h"

namespace orvel::suiteserver {

// The environment variable that names a component's start: installation,
// slot and a number drawn for that one start, "<installation>:<slot>:<nonce>".
inline constexpr std::string_view kMarkerVariable = "ORVEL_COMPONENT_MARKER";

struct ComponentRecord {
    int slot = 0;
    ProcessIdentity process;  // pid 0: the start is recorded, its process not yet
    std::string program;
    std::string marker;  // empty in the records of an older server
    // Milliseconds of the monotonic clock when a stop in progress kills.
    std::optional<std::int64_t> stopDeadline;
    friend bool operator==(const ComponentRecord&, const ComponentRecord&) = default;
};

class ComponentRecords {
  public:
    virtual ~ComponentRecords() = default;
    // The records of the last run on this boot; none when there are none.
    virtual std::vector<ComponentRecord> Load() = 0;
    // Replaces all records at once; false with the reason when it could not.
    virtual bool Save(const std::vector<ComponentRecord>& records, std::string* why) = 0;
    // The installation's name in its components' markers: the same for every
    // run of the server on this installation, another for any other. Empty:
    // components are not marked.
    virtual std::string InstallationId() { return {}; }
};

// The text of the state file. Start times count from the boot, so records of
// another boot mean nothing: the boot id is part of the file.
std::string FormatComponentRecords(const std::vector<ComponentRecord>& records,
                                   std::string_view bootId);
// The records of text when it was written on bootId; lines that are not
// records are skipped. Files of the earlier format (no markers) are read too.
std::vector<ComponentRecord> ParseComponentRecords(std::string_view text, std::string_view bootId);

// A marker's parts; nullopt when text is not a marker of installation.
struct MarkerParts {
    int slot = 0;
    std::string nonce;
};
std::optional<MarkerParts> ParseMarker(std::string_view text, std::string_view installation);

// The installation's name in its components' markers: a hash of its socket
// folder as the kernel names it.
std::string InstallationIdOf(const std::string& socketFolder);

// Where the records of the installation served from socketFolder are kept.
// They only need to outlive a crash of the server, never a reboot (no
// component survives one, and the boot id in the file voids them), so they
// belong on a tmpfs, where replacing the file writes nothing to a disk: the
// system server's socket folder /run/orvel is one. A relocated installation's
// socket folder ($ORVEL_ROOT/run) is usually on disk, so its records go to
// the user's runtime folder, $XDG_RUNTIME_DIR/orvel, one file per
// installation; without a usable runtime folder they stay in the socket folder.
std::string ComponentStatePath(const std::string& socketFolder, bool relocated);

// The state file, replaced atomically, readable by its owner only.
class ComponentStateFile : public ComponentRecords {
  public:
    // The installation is named after the file's folder.
    explicit ComponentStateFile(const std::string& path);
    // The installation is named after its socket folder, wherever the file is.
    ComponentStateFile(std::string path, const std::string& socketFolder);
    std::vector<ComponentRecord> Load() override;
    bool Save(const std::vector<ComponentRecord>& records, std::string* why) override;
    std::string InstallationId() override { return installation_; }
    const std::string& Path() const { return path_; }

    // Moves the records an earlier server kept at formerPath into this file
    // (an upgrade: its components still run). A former file is always the
    // newer one, as a server that keeps this file removes it on start. When
    // this file cannot be written the records stay where they were and this
    // file is the former one from then on. What happened, for the log; empty
    // when there was nothing to move.
    std::string TakeOver(const std::string& formerPath);
    // Removes the file when it holds no record (after an orderly stop).
    void RemoveWhenEmpty();

  private:
    std::string path_;
    std::string bootId_;
    std::string installation_;
};

}  // namespace orvel::suiteserver
