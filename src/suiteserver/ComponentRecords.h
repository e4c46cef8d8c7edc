#pragma once

// What the server has started, kept where a restarted server finds it: one
// record per running component (slot, process, program).

#include <string>
#include <string_view>
#include <vector>

#include "suiteserver/ProcessLauncher.h"

namespace orvel::suiteserver {

struct ComponentRecord {
    int slot = 0;
    ProcessIdentity process;
    std::string program;
    friend bool operator==(const ComponentRecord&, const ComponentRecord&) = default;
};

class ComponentRecords {
  public:
    virtual ~ComponentRecords() = default;
    // The records of the last run on this boot; none when there are none.
    virtual std::vector<ComponentRecord> Load() = 0;
    // Replaces all records at once; false with the reason when it could not.
    virtual bool Save(const std::vector<ComponentRecord>& records, std::string* why) = 0;
};

// The text of the state file. Start times count from the boot, so records of
// another boot mean nothing: the boot id is part of the file.
std::string FormatComponentRecords(const std::vector<ComponentRecord>& records,
                                   std::string_view bootId);
// The records of text when it was written on bootId; lines that are not
// records are skipped.
std::vector<ComponentRecord> ParseComponentRecords(std::string_view text, std::string_view bootId);

// The state file in the server's run folder, replaced atomically (a new file
// renamed over the old one), readable by its owner only.
class ComponentStateFile : public ComponentRecords {
  public:
    explicit ComponentStateFile(std::string path);
    std::vector<ComponentRecord> Load() override;
    bool Save(const std::vector<ComponentRecord>& records, std::string* why) override;

  private:
    std::string path_;
    std::string bootId_;
};

}  // namespace orvel::suiteserver
