#include "settings/ConsoleSettings.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string_view>

#include "platform/AsciiCase.h"

namespace orvel::settings {

namespace {

constexpr std::uint32_t kValueBufferSize = 256;

constexpr const char* kRemoteServer = "REMOTE SERVER";
constexpr const char* kLocalServer = "LOCAL SERVER";
constexpr const char* kApplication = "APPLICATION";
constexpr const char* kConfiguration = "CONFIGURATION";

// The file beside the executable; an existing file of the same name in other
// letter case is the same file, as it was on Windows.
std::string SettingsFilePath(ConfigurationContext& context) {
    std::string path = context.fileSystem.ExecutableFolder() + "/" + context.version.title + ".ini";
    return context.fileSystem.ResolvePath(path).value_or(path);
}

std::string TwoDigits(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

std::string ClockText(const platform::DateTime& time) {
    return TwoDigits(time.hour) + ":" + TwoDigits(time.minute) + ":" + TwoDigits(time.second);
}

// "MM.DD.YYYY hh:mm:ss", the creation stamp.
std::string MonthFirst(const platform::DateTime& time) {
    return TwoDigits(time.month) + "." + TwoDigits(time.day) + "." + std::to_string(time.year) +
           " " + ClockText(time);
}

// "DD.MM.YYYY hh:mm:ss", the stamp of every write.
std::string DayFirst(const platform::DateTime& time) {
    return TwoDigits(time.day) + "." + TwoDigits(time.month) + "." + std::to_string(time.year) +
           " " + ClockText(time);
}

double ParseDecimal(std::string_view text) {
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

// The number at the start of text, as the old Val read it: blanks skipped,
// the number ends where a character cannot continue it, none gives 0.
double LeadingNumber(std::string_view text) {
    std::size_t pos = 0;
    auto digitAt = [&](std::size_t at) {
        return at < text.size() && text[at] >= '0' && text[at] <= '9';
    };
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
    std::size_t start = pos;
    while (digitAt(pos)) ++pos;
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        while (digitAt(pos)) ++pos;
    }
    if (pos == start || (pos == start + 1 && text[start] == '.')) return 0;
    std::string number(text.substr(start, pos - start));
    if (pos < text.size() &&
        (text[pos] == 'e' || text[pos] == 'E' || text[pos] == 'd' || text[pos] == 'D')) {
        std::size_t exponent = pos + 1;
        if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
        if (digitAt(exponent)) {
            number += 'e';
            number.append(text.substr(pos + 1, exponent - pos - 1));
            while (digitAt(exponent)) number += text[exponent++];
        }
    }
    double value = ParseDecimal(number);
    return negative ? -value : value;
}

// A 16-bit integer, halves to even; nullopt when it overflows.
std::optional<std::int16_t> ToInteger(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    double rounded = std::nearbyint(value);
    if (rounded < -32768.0 || rounded > 32767.0) return std::nullopt;
    return static_cast<std::int16_t>(rounded);
}

// "True"/"False" in any case, or a number (0 false, else true); nullopt otherwise.
std::optional<bool> ToBoolean(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (platform::EqualIgnoringAsciiCase(text, "True")) return true;
    if (platform::EqualIgnoringAsciiCase(text, "False")) return false;
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value != 0;
}

class SettingsFile {
  public:
    explicit SettingsFile(ConfigurationContext& context)
        : context_(context), path_(SettingsFilePath(context)) {}

    const std::string& Path() const { return path_; }

    void Write(std::string_view section, std::string_view key, std::string_view value) {
        if (!context_.profile.WritePrivateProfileStringA(section, key, value, path_)) {
            failed_ = true;
        }
    }

    std::string Read(std::string_view section, std::string_view key, std::string_view fallback) {
        std::string buffer(kValueBufferSize, ' ');
        std::uint32_t count = context_.profile.GetPrivateProfileStringA(
            section, key, fallback, buffer.data(), kValueBufferSize, path_);
        // The value runs up to the NUL that follows it.
        buffer.resize(std::min<std::size_t>(count, kValueBufferSize - 1));
        return buffer.substr(0, buffer.find('\0'));
    }

    void ReadInteger(std::string_view section, std::string_view key, std::string_view fallback,
                     std::int16_t& field) {
        if (auto number = ToInteger(LeadingNumber(Read(section, key, fallback)))) field = *number;
    }

    void Finish() {
        if (!context_.profile.EndBatch()) failed_ = true;
    }

    // Says once per run that the settings could not be saved.
    void ReportFailure() {
        if (!failed_ || context_.writeFailureShown) return;
        context_.writeFailureShown = true;
        context_.dialogs.MsgBox("The settings file '" + path_ + "' cannot be written." +
                                    platform::CR + platform::CR +
                                    "Changes to the console settings will not be kept.",
                                platform::vbExclamation, "Settings Not Saved");
    }

  private:
    ConfigurationContext& context_;
    std::string path_;
    bool failed_ = false;
};

}  // namespace

void ReadConsoleConfiguration(ConfigurationContext& context, ConsoleSettings& settings) {
    SettingsFile file(context);
    const std::string& title = context.version.title;
    if (!context.readOnly && !context.fileSystem.FileExists(file.Path())) {
        int answer =
            context.dialogs.MsgBox("The File '" + title + ".ini' needs to be created." +
                                       platform::CR + platform::CR + "Create one now?",
                                   platform::vbYesNo + platform::vbQuestion, "Create System File");
        if (answer != platform::vbYes) return;
        file.Write(title, "Created", MonthFirst(context.clock.Now()));
        file.Write(kConfiguration, "Current", "0");
        file.ReportFailure();
        WriteConsoleConfiguration(context, settings);
    }

    // One read of the file for the whole record.
    context.profile.BeginBatch(file.Path());
    settings.RemoteServerName = file.Read(kRemoteServer, "ServerName", "");
    settings.LocalServerSelected =
        file.Read(kRemoteServer, "Selected", "No").find("Yes") == std::string::npos;
    file.ReadInteger(kApplication, "ColorTheme", "0", settings.ColorTheme);
    file.ReadInteger(kApplication, "WindowState", "0", settings.WindowState);
    file.ReadInteger(kApplication, "WindowFormHeight", "9500", settings.WindowFormHeight);
    file.ReadInteger(kApplication, "WindowFormWidth", "9500", settings.WindowFormWidth);
    file.ReadInteger(kApplication, "WindowFormTop", "0", settings.WindowFormTop);
    file.ReadInteger(kApplication, "WindowFormLeft", "0", settings.WindowFormLeft);
    file.ReadInteger(kConfiguration, "Current", "0", settings.Current);
    if (auto autoStart = ToBoolean(file.Read(kConfiguration, "AutoStart", "False"))) {
        settings.AutoStart = *autoStart;
    }
    context.profile.EndBatch();
}

void WriteConsoleConfiguration(ConfigurationContext& context, const ConsoleSettings& settings) {
    if (context.readOnly) return;
    SettingsFile file(context);
    // One replacement of the file for the whole record.
    context.profile.BeginBatch(file.Path());
    const platform::VersionInfo& version = context.version;
    const std::string& title = version.title;
    file.Write(title, "Title", title);
    file.Write(title, "Application", version.exeName);
    file.Write(title, "Comments", version.comments);
    file.Write(title, "Version",
               std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
                   std::to_string(version.revision));
    file.Write(title, "Company", version.companyName);
    file.Write(title, "Copyright", version.legalCopyright);
    file.Write(title, "Trademark", version.legalTrademarks);
    file.Write(title, "", "");

    file.Write(kRemoteServer, "ServerName", settings.RemoteServerName);
    file.Write(kRemoteServer, "Selected", settings.LocalServerSelected ? "No" : "Yes");
    file.Write(kRemoteServer, "", "");

    file.Write(kLocalServer, "ServerName", settings.LocalServerName);
    file.Write(kLocalServer, "Selected", settings.LocalServerSelected ? "Yes" : "No");
    file.Write(kLocalServer, "", "");

    file.Write(kApplication, "LastUpdate", DayFirst(context.clock.Now()));
    file.Write(kApplication, "ColorTheme", std::to_string(settings.ColorTheme));
    file.Write(kApplication, "WindowState", std::to_string(settings.WindowState));
    file.Write(kApplication, "WindowFormHeight", std::to_string(settings.WindowFormHeight));
    file.Write(kApplication, "WindowFormWidth", std::to_string(settings.WindowFormWidth));
    file.Write(kApplication, "WindowFormTop", std::to_string(settings.WindowFormTop));
    file.Write(kApplication, "WindowFormLeft", std::to_string(settings.WindowFormLeft));
    file.Write(kApplication, "", "");

    file.Write(kConfiguration, "Current", std::to_string(settings.Current));
    file.Write(kConfiguration, "AutoStart", settings.AutoStart ? "True" : "False");
    file.Write(kConfiguration, "", "");
    file.Finish();
    file.ReportFailure();
}

}  // namespace orvel::settings
