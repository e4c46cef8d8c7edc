#include "platform/qt/QtDiagnostics.h"

#include <QString>

namespace orvel::platform {

const QLoggingCategory& QtDiagnostics::Category(DiagnosticArea area) const {
    return categories_.at(static_cast<std::size_t>(area));
}

void QtDiagnostics::Warning(DiagnosticArea area, std::string_view text) {
    const QLoggingCategory& category = Category(area);
    if (!category.isWarningEnabled()) return;
    QMessageLogger(nullptr, 0, nullptr, category.categoryName())
        .warning("%s", QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))
                           .toLocal8Bit()
                           .constData());
}

}  // namespace orvel::platform
