#include "network/ui/frmIPAddress.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPalette>
#include <QPushButton>
#include <QVBoxLayout>

#include "network/AddressConversion.h"
#include "platform/Hex.h"

namespace orvel::network {

namespace {

constexpr const char* kCommunicationPortTip = "Corvane Communication Port (HEX)";
constexpr const char* kRebootPortTip = "Corvane Reboot Port (HEX)";
constexpr const char* kNotAvailable = "Not Available";

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

// A value label: plain text on black, framed like a sunken panel.
template <typename Label>
Label* MakeValueLabel(const char* objectName, const char* toolTip, QWidget* parent) {
    auto* label = new Label(parent);
    label->setObjectName(objectName);
    label->setToolTip(toolTip);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setMinimumWidth(130);
    label->setAutoFillBackground(true);
    label->setAccessibleName(toolTip);
    return label;
}

// Text colour for the enabled label; a disabled label keeps a grey text so that
// it reads as unavailable on the black background.
void SetValueColours(QLabel* label, std::uint32_t foreground) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, WindowsColor(kColorBlack));
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, WindowsColor(foreground));
    }
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(128, 128, 128));
    label->setPalette(palette);
}

std::uint32_t ChangedColour(bool changed) {
    return changed ? kColorRed : kColorCyan;
}

QLabel* MakeCaption(const char* objectName, const char* text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    return label;
}

// What assistive technology sees of a value: static text named by its
// accessible name, whose value and description are the text shown.
class ValueLabelAccessible : public QAccessibleWidget {
  public:
    explicit ValueLabelAccessible(ValueLabel* label,
                                  QAccessible::Role role = QAccessible::StaticText)
        : QAccessibleWidget(label, role) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value || t == QAccessible::Description) return Label()->text();
        return QAccessibleWidget::text(t);
    }

  protected:
    ValueLabel* Label() const { return static_cast<ValueLabel*>(widget()); }
};

// A clickable value is a button whose press action does what a click does.
class ClickableLabelAccessible : public ValueLabelAccessible {
  public:
    explicit ClickableLabelAccessible(ClickableLabel* label)
        : ValueLabelAccessible(label, QAccessible::Button) {}

    QStringList actionNames() const override {
        QStringList names = QAccessibleWidget::actionNames();
        if (Label()->isEnabled()) names.prepend(pressAction());
        return names;
    }
    void doAction(const QString& actionName) override {
        if (actionName == pressAction()) {
            static_cast<ClickableLabel*>(Label())->Activate();
            return;
        }
        QAccessibleWidget::doAction(actionName);
    }
};

QAccessibleInterface* ValueLabelFactory(const QString& className, QObject* object) {
    if (object == nullptr || !object->isWidgetType()) return nullptr;
    if (className == QLatin1String(ClickableLabel::staticMetaObject.className())) {
        return new ClickableLabelAccessible(static_cast<ClickableLabel*>(object));
    }
    if (className == QLatin1String(ValueLabel::staticMetaObject.className())) {
        return new ValueLabelAccessible(static_cast<ValueLabel*>(object));
    }
    return nullptr;
}

}  // namespace

QColor WindowsColor(std::uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xFFu), static_cast<int>((bgr >> 8) & 0xFFu),
                  static_cast<int>((bgr >> 16) & 0xFFu));
}

ValueLabel::ValueLabel(QWidget* parent) : QLabel(parent) {
    // Qt keeps the factories of the whole program; this one goes in once.
    static const bool accessibleFactoryInstalled = [] {
        QAccessible::installFactory(&ValueLabelFactory);
        return true;
    }();
    (void)accessibleFactoryInstalled;
}

void ValueLabel::SetValue(const QString& value) {
    if (value == text()) return;
    setText(value);
    QAccessibleEvent described(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&described);
    QAccessibleValueChangeEvent changed(this, value);
    QAccessible::updateAccessibility(&changed);
}

ClickableLabel::ClickableLabel(QWidget* parent) : ValueLabel(parent) {
    setCursor(Qt::PointingHandCursor);
    // Reached with Tab and changed with Space or Enter, as with a click.
    setFocusPolicy(Qt::StrongFocus);
}

void ClickableLabel::Activate() {
    if (isEnabled()) emit clicked();
}

void ClickableLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit clicked();
    }
}

void ClickableLabel::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Space:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
                event->accept();
                Activate();
                return;
            }
            break;
        default:
            break;
    }
    QLabel::keyPressEvent(event);
}

// The focused value shows a plain frame in place of the sunken one.
void ClickableLabel::focusInEvent(QFocusEvent* event) {
    setFrameStyle(QFrame::Box | QFrame::Plain);
    QLabel::focusInEvent(event);
}

void ClickableLabel::focusOutEvent(QFocusEvent* event) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    QLabel::focusOutEvent(event);
}

frmIPAddress::frmIPAddress(settings::RegistryContext& registryContext,
                           platform::ProfileFile& profile, platform::FileSystem& fileSystem,
                           platform::SystemInfo& systemInfo, platform::Dialogs& dialogs,
                           std::string strCorvanePath, QWidget* parent)
    : QDialog(parent),
      dialogs_(dialogs),
      context_{registryContext, profile, fileSystem, systemInfo, std::move(strCorvanePath)} {
    setObjectName("frmIPAddress");
    BuildControls();

    setWindowTitle("Corvane Settings");
    if (parent != nullptr) {
        setWindowIcon(parent->window()->windowIcon());
    }
    cmdOK_->setText("&OK");
    cmdCancel_->setText("&Cancel");

    const MulticastChoice choice = LoadNetworkSettings(context_, settings_);
    if (choice == MulticastChoice::Primary) {
        chkMulticast_->setChecked(true);
        chkMulticastSecondary_->setChecked(false);
    } else {
        chkMulticast_->setChecked(false);
        chkMulticastSecondary_->setChecked(true);
    }

    lblInstruction_->setText("Click on item to change");
    RefreshCommunicationPort();
    RefreshRebootPort();
    RefreshMulticast();
    RefreshIPAddresses();

    // Ticking a box while loading marked the multicast frame; nothing has changed yet.
    changedCommunicationPort_ = false;
    changedRebootPort_ = false;
    changedMulticast_ = false;
    changedIPAddresses_ = false;
}

void frmIPAddress::BuildControls() {
    fraCommunicationPort_ = new QGroupBox(this);
    fraCommunicationPort_->setObjectName("fraCommunicationPort");
    lblCommunicationPort_ =
        MakeValueLabel<ClickableLabel>("lblCommunicationPort", kCommunicationPortTip, this);
    auto* communicationLayout = new QVBoxLayout(fraCommunicationPort_);
    communicationLayout->addWidget(lblCommunicationPort_);

    fraRebootPort_ = new QGroupBox(this);
    fraRebootPort_->setObjectName("fraRebootPort");
    lblRebootPort_ = MakeValueLabel<ClickableLabel>("lblRebootPort", kRebootPortTip, this);
    auto* rebootLayout = new QVBoxLayout(fraRebootPort_);
    rebootLayout->addWidget(lblRebootPort_);

    fraMultiCast_ = new QGroupBox(this);
    fraMultiCast_->setObjectName("fraMultiCast");
    chkMulticast_ = new QCheckBox("Primary", this);
    chkMulticast_->setObjectName("chkMulticast");
    lblMultiCast_ = MakeValueLabel<ValueLabel>("lblMultiCast", "Primary Multicast Interface", this);
    chkMulticastSecondary_ = new QCheckBox("Secondary", this);
    chkMulticastSecondary_->setObjectName("chkMulticastSecondary");
    lblMulticastSecondary_ = MakeValueLabel<ClickableLabel>("lblMulticastSecondary",
                                                            "Secondary Multicast Interface", this);
    auto* multicastLayout = new QGridLayout(fraMultiCast_);
    multicastLayout->addWidget(chkMulticast_, 0, 0);
    multicastLayout->addWidget(lblMultiCast_, 0, 1);
    multicastLayout->addWidget(chkMulticastSecondary_, 1, 0);
    multicastLayout->addWidget(lblMulticastSecondary_, 1, 1);

    fraRouters_ = new QGroupBox(this);
    fraRouters_->setObjectName("fraRouters");
    lblIPAddress_ = MakeValueLabel<ClickableLabel>("lblIPAddress", "IPAddress", this);
    lblIPAddress_->setAccessibleName("Base IP Address");
    lblRouter1_ = MakeValueLabel<ClickableLabel>("lblRouter1", "Subnet Mask", this);
    lblRouter2_ = MakeValueLabel<ClickableLabel>("lblRouter2", "Gateway", this);
    auto* routersLayout = new QGridLayout(fraRouters_);
    routersLayout->addWidget(MakeCaption("lblBaseIpAddress", "Base IP Address", this), 0, 0);
    routersLayout->addWidget(lblIPAddress_, 0, 1);
    routersLayout->addWidget(MakeCaption("Label4", "Subnet Mask", this), 1, 0);
    routersLayout->addWidget(lblRouter1_, 1, 1);
    routersLayout->addWidget(MakeCaption("Label3", "Gateway", this), 2, 0);
    routersLayout->addWidget(lblRouter2_, 2, 1);

    lblInstruction_ = new QLabel(this);
    lblInstruction_->setObjectName("lblInstruction");
    cmdOK_ = new QPushButton(this);
    cmdOK_->setObjectName("cmdOK");
    cmdOK_->setDefault(true);
    cmdCancel_ = new QPushButton(this);
    cmdCancel_->setObjectName("cmdCancel");

    auto* ports = new QHBoxLayout;
    ports->addWidget(fraCommunicationPort_);
    ports->addWidget(fraRebootPort_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(lblInstruction_, 1);
    buttons->addWidget(cmdOK_);
    buttons->addWidget(cmdCancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(ports);
    layout->addWidget(fraMultiCast_);
    layout->addWidget(fraRouters_);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(lblCommunicationPort_, &ClickableLabel::clicked, this, [this] { EditPort(true); });
    connect(lblRebootPort_, &ClickableLabel::clicked, this, [this] { EditPort(false); });
    connect(lblMulticastSecondary_, &ClickableLabel::clicked, this,
            &frmIPAddress::EditMulticastSecondary);
    connect(lblIPAddress_, &ClickableLabel::clicked, this,
            [this] { EditAddress(settings_.lngBaseIPAddress, true); });
    connect(lblRouter1_, &ClickableLabel::clicked, this,
            [this] { EditAddress(settings_.lngRouter1, false); });
    connect(lblRouter2_, &ClickableLabel::clicked, this,
            [this] { EditAddress(settings_.lngRouter2, false); });
    connect(chkMulticast_, &QCheckBox::toggled, this, &frmIPAddress::PrimaryToggled);
    connect(chkMulticastSecondary_, &QCheckBox::toggled, this, &frmIPAddress::SecondaryToggled);
    connect(cmdOK_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdCancel_, &QPushButton::clicked, this, &frmIPAddress::CancelClicked);
}

void frmIPAddress::RefreshCommunicationPort() {
    fraCommunicationPort_->setTitle("Co&mmunication Port");
    fraCommunicationPort_->setToolTip(kCommunicationPortTip);
    lblCommunicationPort_->SetValue(Text(platform::Hex(settings_.lngCommunicationPort)));
    lblCommunicationPort_->setToolTip(kCommunicationPortTip);
    SetValueColours(lblCommunicationPort_, ChangedColour(changedCommunicationPort_));
}

void frmIPAddress::RefreshRebootPort() {
    fraRebootPort_->setTitle("&Reboot Port");
    fraRebootPort_->setToolTip(kRebootPortTip);
    lblRebootPort_->SetValue(Text(platform::Hex(settings_.lngRebootPort)));
    lblRebootPort_->setToolTip(kRebootPortTip);
    SetValueColours(lblRebootPort_, ChangedColour(changedRebootPort_));
}

void frmIPAddress::RefreshMulticast() {
    fraMultiCast_->setTitle("Multicast Interface Address");
    // Without an address of its own the computer has no primary interface.
    chkMulticast_->setEnabled(settings_.multicastInterfaceAvailable);
    chkMulticastSecondary_->setEnabled(true);
    lblMultiCast_->setEnabled(chkMulticast_->isChecked());
    lblMultiCast_->SetValue(settings_.multicastInterfaceAvailable
                                ? Text(funct_LongToIPString(settings_.lngMulticastInterface))
                                : QString(kNotAvailable));
    lblMulticastSecondary_->setEnabled(chkMulticastSecondary_->isChecked());
    lblMulticastSecondary_->SetValue(
        settings_.lngMulticastSecondary == 0
            ? QString(kNotAvailable)
            : Text(funct_LongToIPString(settings_.lngMulticastSecondary)));
    SetValueColours(lblMultiCast_, kColorCyan);
    SetValueColours(lblMulticastSecondary_, kColorCyan);
}

void frmIPAddress::RefreshIPAddresses() {
    fraRouters_->setTitle("IP Addresses");
    lblIPAddress_->SetValue(Text(BaseAddressText()));
    lblRouter1_->SetValue(Text(funct_LongToIPString(settings_.lngRouter1)));
    // Without a gateway there is no subnet mask either: it shows as 0 and is
    // locked, but the stored mask stays in the record, so a save of another
    // value does not wipe it.
    if (settings_.lngRouter2 == 0) {
        lblRouter1_->setEnabled(false);
        lblRouter1_->SetValue("0.0.0.0");
    } else {
        lblRouter1_->setEnabled(true);
    }
    lblRouter2_->SetValue(Text(funct_LongToIPString(settings_.lngRouter2)));
    const std::uint32_t colour = ChangedColour(changedIPAddresses_);
    SetValueColours(lblIPAddress_, colour);
    SetValueColours(lblRouter1_, colour);
    SetValueColours(lblRouter2_, colour);
}

std::string frmIPAddress::BaseAddressText() const {
    if (settings_.baseIPAddressValid) {
        return funct_LongToIPString(settings_.lngBaseIPAddress);
    }
    // Not an address: shown as stored, so the operator sees what is there.
    return settings_.strBaseIPAddressStored.empty() ? kNotAvailable
                                                    : settings_.strBaseIPAddressStored;
}

void frmIPAddress::EditPort(bool communicationPort) {
    std::int32_t& port =
        communicationPort ? settings_.lngCommunicationPort : settings_.lngRebootPort;
    const std::string answer = dialogs_.InputBox(
        communicationPort ? "Enter the desired Communication Port (as HEX)"
                          : "Enter the desired Reboot Port (as HEX)",
        communicationPort ? "Communication Port" : "Reboot Port", platform::Hex(port));
    if (!answer.empty() && answer.size() <= 4) {
        if (const std::optional<std::int32_t> value = funct_HexStringToLong(dialogs_, answer)) {
            port = *value;
            (communicationPort ? changedCommunicationPort_ : changedRebootPort_) = true;
        }
    } else if (answer.size() >= 5) {
        dialogs_.MsgBox("Invalid HEX Port Address", platform::vbExclamation | platform::vbOKOnly,
                        "Entry Error");
    }
    if (communicationPort) {
        RefreshCommunicationPort();
    } else {
        RefreshRebootPort();
    }
}

void frmIPAddress::EditAddress(std::int32_t& address, bool baseAddress) {
    std::string prompt = "Enter the desired IP Address using ";
    prompt += platform::CR;
    prompt += "the 'xxx.xxx.xxx.xxx' format";
    const std::string current = baseAddress && !settings_.baseIPAddressValid
                                    ? settings_.strBaseIPAddressStored
                                    : funct_LongToIPString(address);
    const std::string answer = dialogs_.InputBox(prompt, "IP Address", current);
    if (answer.size() > 6) {
        const std::optional<std::int32_t> value = funct_IPStringToLong(dialogs_, answer);
        if (!value) {
            return;
        }
        address = *value;
        if (baseAddress) {
            settings_.baseIPAddressValid = true;
        }
        changedIPAddresses_ = true;
    }
    RefreshIPAddresses();
}

void frmIPAddress::EditMulticastSecondary() {
    const std::string answer =
        dialogs_.InputBox("Enter the Desired MultiCast IPAddress", "Multicast Interface",
                          funct_LongToIPString(settings_.lngMulticastSecondary));
    settings_.lngMulticastSecondary = funct_IPStringToLong(dialogs_, answer).value_or(0);
    // No secondary address: back to this computer's own interface, if it has one.
    if (settings_.lngMulticastSecondary == 0 && settings_.multicastInterfaceAvailable) {
        chkMulticast_->setChecked(true);
    }
    RefreshMulticast();
}

void frmIPAddress::PrimaryToggled(bool checked) {
    if (!checked) {
        return;
    }
    changedMulticast_ = true;
    chkMulticastSecondary_->setChecked(false);
    RefreshMulticast();
}

void frmIPAddress::SecondaryToggled(bool checked) {
    if (!checked) {
        return;
    }
    changedMulticast_ = true;
    chkMulticast_->setChecked(false);
    RefreshMulticast();
}

void frmIPAddress::CancelClicked() {
    changedCommunicationPort_ = false;
    changedRebootPort_ = false;
    changedMulticast_ = false;
    changedIPAddresses_ = false;
    reject();
}

bool frmIPAddress::AnyChanged() const {
    return changedCommunicationPort_ || changedRebootPort_ || changedMulticast_ ||
           changedIPAddresses_;
}

void frmIPAddress::done(int result) {
    // The question box runs its own event loop; a second close meanwhile asks nothing.
    if (!closing_) {
        closing_ = true;
        if (AnyChanged() &&
            dialogs_.MsgBox("Save Changes to Settings ?", platform::vbQuestion | platform::vbYesNo,
                            "Save Changes To Settings") == platform::vbYes) {
            SaveNetworkSettings(
                context_, settings_,
                chkMulticast_->isChecked() ? MulticastChoice::Primary : MulticastChoice::Secondary);
        }
        closing_ = false;
    }
    QDialog::done(result);
}

}  // namespace orvel::network
