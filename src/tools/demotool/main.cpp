// The tool stand-in of the demo suite: one window with an exact title.

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>
#include <string>

#include "tools/demotool/ToolTitles.h"

int main(int argc, char** argv) {
    // argv[0] rather than /proc/self/exe: a copy reached through a link keeps
    // the name it was started by.
    const std::string programFile = argc > 0 ? argv[0] : "orvel-demo-tool";
    const auto options = orvel::tools::ParseToolArguments(argc, argv, programFile);
    if (options.help) {
        std::fputs(orvel::tools::ToolUsage(programFile).c_str(), stdout);
        return 0;
    }
    if (!options.error.empty()) {
        std::fprintf(stderr, "%s: %s\n%s", programFile.c_str(), options.error.c_str(),
                     orvel::tools::ToolUsage(programFile).c_str());
        return 2;
    }

    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QWidget window;
    window.setWindowTitle(QString::fromStdString(options.title));
    auto* layout = new QVBoxLayout(&window);
    auto* label = new QLabel(&window);
    label->setTextFormat(Qt::PlainText);
    label->setText(
        QStringLiteral("Demo stand-in for the suite tool \"%1\".\n%2")
            .arg(QString::fromStdString(options.title), QString::fromStdString(programFile)));
    label->setObjectName(QStringLiteral("lblStandIn"));
    layout->addWidget(label);
    window.resize(360, 120);
    window.show();
    // Closing the only window (a close request from the console or the window
    // manager) ends the program.
    return application.exec();
}
