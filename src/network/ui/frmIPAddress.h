#pragma once

// "Corvane Settings": the router network settings of this computer. Values are
// edited by clicking them and answering an input box; nothing is written until
// the dialog closes and the operator agrees to save.

#include <cstdint>
#include <string>

#include <QColor>
#include <QDialog>
#include <QLabel>

#include "network/NetworkSettings.h"
#include "platform/Dialogs.h"

class QCheckBox;
class QFocusEvent;
class QKeyEvent;
class QGroupBox;
class QMouseEvent;
class QPushButton;

namespace orvel::network {

// A 0x00BBGGRR colour value as a QColor.
QColor WindowsColor(std::uint32_t bgr);

inline constexpr std::uint32_t kColorRed = 255;
inline constexpr std::uint32_t kColorCyan = 16776960;
inline constexpr std::uint32_t kColorBlack = 0;

// A label that shows a value ("1F40", an address). Assistive technology
// reads the accessible name as what the value is and the text shown as its
// value and description (the description is what reaches a screen reader
// over the accessibility bus); a change is announced.
class ValueLabel : public QLabel {
    Q_OBJECT
  public:
    explicit ValueLabel(QWidget* parent = nullptr);

    void SetValue(const QString& value);
};

// A value label that reports a left click released over it (never while
// disabled). It takes the keyboard focus, Space and Enter click it, and
// assistive technology sees a button whose press action clicks it.
class ClickableLabel : public ValueLabel {
    Q_OBJECT
  public:
    explicit ClickableLabel(QWidget* parent = nullptr);

    // What a click does, unless the label is disabled.
    void Activate();

  signals:
    void clicked();

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};

class frmIPAddress : public QDialog {
    Q_OBJECT
  public:
    // Loads the settings from the registry at once; show it with exec().
    frmIPAddress(settings::RegistryContext& registryContext, platform::ProfileFile& profile,
                 platform::FileSystem& fileSystem, platform::SystemInfo& systemInfo,
                 platform::Dialogs& dialogs, std::string strCorvanePath, QWidget* parent = nullptr);

    const NetworkSettings& Settings() const { return settings_; }

    // Every way of closing (OK, Cancel, Escape, the close box) ends here: when
    // something changed, asks whether to save.
    void done(int result) override;

  private:
    void BuildControls();
    void RefreshCommunicationPort();
    void RefreshRebootPort();
    void RefreshMulticast();
    void RefreshIPAddresses();

    void EditPort(bool communicationPort);
    void EditAddress(std::int32_t& address, bool baseAddress);
    void EditMulticastSecondary();
    void PrimaryToggled(bool checked);
    void SecondaryToggled(bool checked);
    void CancelClicked();

    std::string BaseAddressText() const;
    bool AnyChanged() const;

    platform::Dialogs& dialogs_;
    NetworkContext context_;
    NetworkSettings settings_;

    bool changedCommunicationPort_ = false;
    bool changedRebootPort_ = false;
    bool changedMulticast_ = false;
    bool changedIPAddresses_ = false;
    bool closing_ = false;

    QGroupBox* fraCommunicationPort_ = nullptr;
    ClickableLabel* lblCommunicationPort_ = nullptr;
    QGroupBox* fraRebootPort_ = nullptr;
    ClickableLabel* lblRebootPort_ = nullptr;
    QGroupBox* fraMultiCast_ = nullptr;
    QCheckBox* chkMulticast_ = nullptr;
    ValueLabel* lblMultiCast_ = nullptr;
    QCheckBox* chkMulticastSecondary_ = nullptr;
    ClickableLabel* lblMulticastSecondary_ = nullptr;
    QGroupBox* fraRouters_ = nullptr;
    ClickableLabel* lblIPAddress_ = nullptr;
    ClickableLabel* lblRouter1_ = nullptr;
    ClickableLabel* lblRouter2_ = nullptr;
    QLabel* lblInstruction_ = nullptr;
    QPushButton* cmdOK_ = nullptr;
    QPushButton* cmdCancel_ = nullptr;
};

}  // namespace orvel::network
