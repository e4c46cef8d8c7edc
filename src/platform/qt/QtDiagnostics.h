#pragma once

// Diagnostics as Qt logging categories, one per area: "orvel.startup",
// "orvel.mainwindow", "orvel.dcom", ... Qt writes them to standard error, which
// the session's journal keeps; QT_LOGGING_RULES turns areas on or off.

#include <QLoggingCategory>
#include <array>

#include "platform/Diagnostics.h"

namespace orvel::platform {

class QtDiagnostics final : public Diagnostics {
  public:
    void Warning(DiagnosticArea area, std::string_view text) override;
    const QLoggingCategory& Category(DiagnosticArea area) const;

  private:
    std::array<QLoggingCategory, 7> categories_{
        QLoggingCategory("orvel.startup"),  QLoggingCategory("orvel.mainwindow"),
        QLoggingCategory("orvel.dcom"),     QLoggingCategory("orvel.network"),
        QLoggingCategory("orvel.launcher"), QLoggingCategory("orvel.processes"),
        QLoggingCategory("orvel.settings")};
};

}  // namespace orvel::platform
