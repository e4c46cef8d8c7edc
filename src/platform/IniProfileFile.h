#pragma once

// Windows private profile files on Linux: the text rules of
// GetPrivateProfileStringA / WritePrivateProfileStringA, kept apart from the
// file handling so that they can be tested on plain strings.

#include <optional>
#include <string>
#include <string_view>

#include "platform/ProfileFile.h"

namespace orvel::platform {

namespace ini {

// The value of key in section as a read sees it (trimmed, outer quotes
// removed), or nullopt when the section or key is missing. Section and key
// are compared without regard to letter case; the first match wins.
std::optional<std::string> FindValue(std::string_view text, std::string_view section,
                                     std::string_view key);

// What a write makes of text: the new text, or nullopt when the arguments are
// refused (CR, LF or NUL in a section, key or value). Lines the write does not
// touch keep their bytes. New lines end as the text's first line does (LF for
// a text without line ends). changed tells whether the text differs.
struct EditResult {
    std::string text;
    bool changed = false;
};
std::optional<EditResult> ApplyWrite(std::string_view text, std::string_view section,
                                     std::optional<std::string_view> key,
                                     std::optional<std::string_view> value);

}  // namespace ini

class IniProfileFile final : public ProfileFile {
  public:
    std::uint32_t GetPrivateProfileStringA(std::string_view section, std::string_view key,
                                           std::optional<std::string_view> defaultValue,
                                           char* buffer, std::uint32_t size,
                                           const std::string& path) override;

    bool WritePrivateProfileStringA(std::string_view section, std::optional<std::string_view> key,
                                    std::optional<std::string_view> value,
                                    const std::string& path) override;

    void BeginBatch(const std::string& path) override;
    bool EndBatch() override;

    // The file a write to path replaces, with its state before the write.
    struct Target {
        std::string path;  // links followed
        std::string text;
        bool exists = false;
        bool writable = false;  // readable, and file (if any) and folder writable
        unsigned mode = 0;
        unsigned owner = 0;
        unsigned group = 0;
        bool dirty = false;
    };

  private:
    std::optional<Target> batch_;
};

}  // namespace orvel::platform
