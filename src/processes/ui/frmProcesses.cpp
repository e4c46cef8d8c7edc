#include "processes/ui/frmProcesses.h"

#include <QEventLoop>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/SystemInfo.h"
#include "processes/ProcessList.h"
#include "processes/RunningApplications.h"

namespace orvel::processes {

namespace {

using platform::CR;

constexpr const char* kCaption = "Orvel Applications and Processes";
constexpr const char* kWarningTitle = "Verify Processes and Applications";

// The first lines of the closing warning and of the question of "&Apply and Exit".
std::string RunningWarning() {
    return std::string("There are Processes or Applications running") + CR +
           "that should be CLOSED or STOPPED before" + CR + "starting the Orvel Console Appliction";
}

QPushButton* MakeButton(const char* objectName, QWidget* parent) {
    auto* button = new QPushButton(parent);
    button->setObjectName(objectName);
    button->setAutoDefault(false);
    return button;
}

QListWidget* MakeList(const char* objectName, const char* accessibleName,
                      QAbstractItemView::SelectionMode mode, QWidget* parent) {
    auto* list = new QListWidget(parent);
    list->setObjectName(objectName);
    // A screen reader names the list by this; the frame's caption is not its label.
    list->setAccessibleName(accessibleName);
    list->setSelectionMode(mode);
    list->setMinimumSize(220, 160);
    return list;
}

void ShowLines(QListWidget* list, const std::vector<std::string>& lines) {
    list->clear();
    for (const std::string& line : lines) list->addItem(QString::fromStdString(line));
}

}  // namespace

frmProcesses::frmProcesses(const ProcessesContext& context, QWidget* parent)
    : QDialog(parent), context_(context) {
    setObjectName("frmProcesses");
    BuildControls();
}

void frmProcesses::BuildControls() {
    lblInstruction_ = new QLabel(this);
    lblInstruction_->setObjectName("lblInstruction");
    lblInstruction_->setTextFormat(Qt::PlainText);
    lblInstruction_->setAlignment(Qt::AlignCenter);
    lblInstruction_->setFrameStyle(QFrame::Panel | QFrame::Raised);
    lblInstruction_->setLineWidth(3);
    lblInstruction_->setMinimumHeight(40);
    QFont instructionFont = lblInstruction_->font();
    instructionFont.setBold(true);
    lblInstruction_->setFont(instructionFont);

    fraProcesses_ = new QGroupBox(this);
    fraProcesses_->setObjectName("fraProcesses");
    lstProcesses_ = MakeList("lstProcesses", "Running Processes",
                             QAbstractItemView::SingleSelection, fraProcesses_);
    cmdStopProcesses_ = MakeButton("cmdStopProcesses", fraProcesses_);
    cmdStopAllProcesses_ = MakeButton("cmdStopAllProcesses", fraProcesses_);
    auto* processLayout = new QGridLayout(fraProcesses_);
    processLayout->addWidget(lstProcesses_, 0, 0, 1, 2);
    processLayout->addWidget(cmdStopProcesses_, 1, 0);
    processLayout->addWidget(cmdStopAllProcesses_, 1, 1);

    fraApplications_ = new QGroupBox(this);
    fraApplications_->setObjectName("fraApplications");
    lstApplications_ = MakeList("lstApplications", "Running Applications",
                                QAbstractItemView::ExtendedSelection, fraApplications_);
    cmdStopApplication_ = MakeButton("cmdStopApplication", fraApplications_);
    cmdStopAllApplications_ = MakeButton("cmdStopAllApplications", fraApplications_);
    auto* applicationLayout = new QGridLayout(fraApplications_);
    applicationLayout->addWidget(lstApplications_, 0, 0, 1, 2);
    applicationLayout->addWidget(cmdStopApplication_, 1, 0);
    applicationLayout->addWidget(cmdStopAllApplications_, 1, 1);

    cmdCorrect_ = MakeButton("cmdCorrect", this);
    cmdAccept_ = MakeButton("cmdAccept", this);

    auto* frames = new QHBoxLayout;
    frames->addWidget(fraProcesses_);
    frames->addWidget(fraApplications_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdCorrect_);
    buttons->addWidget(cmdAccept_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblInstruction_);
    layout->addLayout(frames);
    layout->addLayout(buttons);

    // "Stop Single Processes" and "Stop ALL Processes" carry no action: the
    // component server programs are not stopped from here.
    connect(cmdStopApplication_, &QPushButton::clicked, this,
            &frmProcesses::cmdStopApplication_Click);
    connect(cmdStopAllApplications_, &QPushButton::clicked, this,
            &frmProcesses::cmdStopAllApplications_Click);
    connect(cmdCorrect_, &QPushButton::clicked, this, &frmProcesses::cmdCorrect_Click);
    connect(cmdAccept_, &QPushButton::clicked, this, &frmProcesses::cmdAccept_Click);
}

bool frmProcesses::Load() {
    if (parentWidget() != nullptr) setWindowIcon(parentWidget()->window()->windowIcon());
    setWindowTitle(kCaption);
    if (context_.platformId != platform::VER_PLATFORM_WIN32_WINDOWS &&
        context_.platformId != platform::VER_PLATFORM_WIN32_NT) {
        return false;
    }
    RefreshApplicationList();
    RefreshProcessList();
    cmdCorrect_->setText("&Stop/Terminate ALL");
    cmdAccept_->setText("&Apply and Exit");
    lblInstruction_->setText("Verify Orvel Processes and Applications are NOT running");
    return !ListsEmpty();
}

void frmProcesses::CentreOnScreen() {
    // The main window is still loading and not yet placed, so Qt's placement
    // over the parent would put the dialog at the screen's corner.
    QScreen* screen =
        parentWidget() != nullptr ? parentWidget()->window()->screen() : this->screen();
    if (screen == nullptr) return;
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

void frmProcesses::RefreshApplicationList() {
    fraApplications_->setTitle("Running Applications");
    cmdStopApplication_->setText("Stop Single Application");
    cmdStopAllApplications_->setText("Stop ALL Applications");
    ShowLines(lstApplications_, FindRunningApplications(context_.catalogue, context_.windows));
}

void frmProcesses::RefreshProcessList() {
    fraProcesses_->setTitle("Running Processes");
    cmdStopProcesses_->setText("Stop Single Processes");
    cmdStopAllProcesses_->setText("Stop ALL Processes");
    ProcessLines lines;
    FillProcessList(context_.platformId, lines, context_.processes, context_.table);
    ShowLines(lstProcesses_, lines);
}

void frmProcesses::cmdStopApplication_Click() {
    bool closesPosted = false;
    if (!lstApplications_->selectedItems().isEmpty()) {
        for (int i = 0; i < lstApplications_->count(); ++i) {
            context_.dialogs.DoEvents();
            const QListWidgetItem* item = lstApplications_->item(i);
            if (item == nullptr || !item->isSelected()) continue;
            const std::string line = item->text().toStdString();
            if (CloseApplication(line, context_.catalogue, context_.windows) > 0) {
                closesPosted = true;
            }
        }
    }
    // Gives the closed applications time to go and leaves both lists up to date.
    const int passes = lstApplications_->count() + 6;
    for (int pass = 0; pass < passes; ++pass) {
        YieldForClosedWindows(closesPosted);
        RefreshApplicationList();
        RefreshProcessList();
    }
}

void frmProcesses::cmdStopAllApplications_Click() {
    lstApplications_->selectAll();
    cmdStopApplication_Click();
}

void frmProcesses::cmdCorrect_Click() {
    cmdStopAllApplications_Click();
}

void frmProcesses::cmdAccept_Click() {
    if (!ListsEmpty()) {
        const int answer = context_.dialogs.MsgBox(
            RunningWarning() + CR + CR + "Do you want to Continue to exit?",
            platform::vbYesNo + platform::vbExclamation + platform::vbDefaultButton2,
            kWarningTitle);
        if (answer != platform::vbYes) return;
        lstProcesses_->clear();
        lstApplications_->clear();
    }
    done(QDialog::Accepted);
}

void frmProcesses::done(int result) {
    if (!unloaded_) {
        unloaded_ = true;
        if (!ListsEmpty()) {
            context_.dialogs.MsgBox(RunningWarning(), platform::vbExclamation, kWarningTitle);
        }
    }
    QDialog::done(result);
}

void frmProcesses::showEvent(QShowEvent* event) {
    // Sent before the window goes up, with its final size.
    if (!activated_) CentreOnScreen();
    QDialog::showEvent(event);
    if (activated_) return;
    activated_ = true;
    // Runs once the dialog is up and its modal loop turns.
    QMetaObject::invokeMethod(this, &frmProcesses::Form_Activate, Qt::QueuedConnection);
}

void frmProcesses::Form_Activate() {
    if (!context_.AutoStart || unloaded_) return;
    cmdStopAllApplications_Click();
    done(QDialog::Rejected);
}

bool frmProcesses::ListsEmpty() const {
    return lstProcesses_->count() == 0 && lstApplications_->count() == 0;
}

void frmProcesses::YieldForClosedWindows(bool closesPosted) {
    context_.dialogs.DoEvents();
    if (!closesPosted || context_.closeWaitMs <= 0 || lstApplications_->count() == 0) return;
    QEventLoop wait;
    QTimer::singleShot(context_.closeWaitMs, &wait, &QEventLoop::quit);
    wait.exec();
}

void ShowProcessVerification(const ProcessesContext& context, QWidget* mainWindow) {
    frmProcesses dialog(context, mainWindow);
    if (!dialog.Load()) return;
    dialog.exec();
}

}  // namespace orvel::processes
