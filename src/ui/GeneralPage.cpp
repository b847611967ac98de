#include "ui/GeneralPage.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSpinBox>

#include "core/Trace.h"
#include "settings/ReadMethods.h"
#include "ui/SettingsHelp.h"

namespace qm::ui {

namespace {

using Settings = QuavermillSettings;

QString DriveLabel(long long index) {
    return QStringLiteral("Drive %1").arg(index);
}

} // namespace

CGeneralPage::CGeneralPage(QuavermillSettings& settings, const std::vector<std::string>& driveNames,
                           QWidget* parent)
    : CSettingsPage(QStringLiteral("General"), kHelpGeneralSettings, parent), m_settings(settings) {
    auto& b = m_bindings;

    QFormLayout* drive = AddGroup(QStringLiteral("CD drive"));
    m_drive = new QComboBox(this);
    m_drive->setObjectName(QStringLiteral("CD-Drive"));
    const int count = std::clamp<int>(
        std::max<int>(static_cast<int>(driveNames.size()), settings.drive.driveCount), 0,
        kMaxDrives);
    for (int i = 0; i < count; ++i) {
        const auto index = static_cast<std::size_t>(i);
        AddChoice(m_drive,
                  index < driveNames.size() ? QString::fromStdString(driveNames[index])
                                            : DriveLabel(i),
                  i);
    }
    drive->addRow(QStringLiteral("Drive:"), m_drive);
    b.Field<long long>(
        std::make_unique<ComboView>(m_drive, DriveLabel),
        [](auto& s) -> auto& { return s.drive.CDDrive; });

    m_readMethod = new QComboBox(this);
    m_readMethod->setObjectName(QStringLiteral("ReadMethod_CD"));
    for (const ReadMethodName& method : kReadMethodNames) {
        AddChoice(m_readMethod, QString::fromLatin1(method.name), method.code);
    }
    drive->addRow(QStringLiteral("Read method:"), m_readMethod);

    auto* jitter = new QComboBox(this);
    jitter->setObjectName(QStringLiteral("JitterCorrection"));
    AddChoice(jitter, QStringLiteral("Never"), kJitterNever);
    AddChoice(jitter, QStringLiteral("On read errors"), kJitterOnError);
    AddChoice(jitter, QStringLiteral("Always"), kJitterAlways);
    drive->addRow(QStringLiteral("Jitter correction:"), jitter);
    b.Field<long long>(
        std::make_unique<ComboView>(jitter),
        [](auto& s) -> auto& { return s.drive.JitterCorrection; });

    const auto check = [&](QFormLayout* form, const char* name, const char* text, auto member) {
        QCheckBox* box = AddCheck(QString::fromUtf8(text), form);
        box->setObjectName(QString::fromLatin1(name));
        b.Field<bool>(std::make_unique<CheckView>(box), member);
        return box;
    };
    check(
        drive, "AutoDetectCD", "At start-up, choose the drive that holds a disc",
        [](auto& s) -> auto& { return s.drive.AutoDetectCD; });
    check(
        drive, "RipMaxSpeed", "Read at the drive's full speed",
        [](auto& s) -> auto& { return s.drive.RipMaxSpeed; });

    QFormLayout* job = AddGroup(QStringLiteral("Disc and grab"));
    check(
        job, "AutoRefresh", "Read the disc again when it is changed",
        [](auto& s) -> auto& { return s.job.AutoRefresh; });
    check(
        job, "MarkAllOnRefresh", "Check all tracks of a new disc",
        [](auto& s) -> auto& { return s.job.MarkAllOnRefresh; });
    check(
        job, "GetCDDBOnRefresh", "Look a new disc up in CDDB",
        [](auto& s) -> auto& { return s.job.GetCDDBOnRefresh; });
    check(
        job, "GetCDDBBeforeGrab", "Look the disc up in CDDB before grabbing",
        [](auto& s) -> auto& { return s.job.GetCDDBBeforeGrab; });
    check(
        job, "EjectAtEnd", "Eject the disc when the grab is done",
        [](auto& s) -> auto& { return s.job.EjectAtEnd; });

    QFormLayout* proof = AddGroup(QStringLiteral("Proof of the rip"));
    auto* offset = new QSpinBox(this);
    offset->setObjectName(QStringLiteral("ReadOffset"));
    offset->setRange(-5880, 5880);
    offset->setSuffix(QStringLiteral(" samples"));
    proof->addRow(QStringLiteral("Drive read offset:"), offset);
    b.Field<long long>(
        std::make_unique<SpinView>(offset), [](auto& s) -> auto& { return s.verify.ReadOffset; });
    check(
        proof, "VerifyRips", "Verify every track with AccurateRip and CTDB",
        [](auto& s) -> auto& { return s.verify.VerifyRips; });
    check(
        proof, "RipLog", "Write a rip log beside the files",
        [](auto& s) -> auto& { return s.verify.RipLog; });
    check(
        proof, "RipCueSheet", "Write a cue sheet beside the files",
        [](auto& s) -> auto& { return s.verify.RipCueSheet; });
    const auto text = [&](const char* name, const char* label, auto member) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(name));
        proof->addRow(QString::fromUtf8(label), edit);
        b.Field<std::string>(std::make_unique<TextView>(edit), member);
    };
    text(
        "AccurateRipServer",
        "AccurateRip server:", [](auto& s) -> auto& { return s.verify.AccurateRipServer; });
    text(
        "CTDBServer", "CTDB server:", [](auto& s) -> auto& { return s.verify.CTDBServer; });

    QFormLayout* mixed = AddGroup(QStringLiteral("Discs with an artist per track"));
    check(
        mixed, "AutoDetectMixedCD", "Switch mixed CD mode on and off by the track names",
        [](auto& s) -> auto& { return s.naming.AutoDetectMixedCD; });
    check(
        mixed, "ParseMixedCD", "Split track names \"artist / title\" from the local CDDB",
        [](auto& s) -> auto& { return s.naming.ParseMixedCD; });
    Column()->addStretch(1);

    connect(m_drive, &QComboBox::currentIndexChanged, this, [this] {
        KeepReadMethod(m_shownDrive);
        ShowReadMethod(static_cast<int>(ChoiceValue(m_drive)));
    });
    Load();
}

void CGeneralPage::ShowReadMethod(int drive) {
    m_shownDrive = drive;
    const bool known = drive >= 0 && drive < kMaxDrives;
    m_readMethod->setEnabled(known);
    if (known) {
        ComboView(m_readMethod).Show(m_readMethods[static_cast<std::size_t>(drive)]);
    }
}

void CGeneralPage::KeepReadMethod(int drive) {
    if (drive >= 0 && drive < kMaxDrives && ChoiceValue(m_readMethod) >= 0) {
        m_readMethods[static_cast<std::size_t>(drive)] =
            static_cast<std::int32_t>(ChoiceValue(m_readMethod));
    }
}

void CGeneralPage::Load() {
    QM_TRACE("GeneralPage");
    m_readMethods = m_settings.drive.ReadMethod;
    m_shownDrive = -1;
    m_bindings.Load({&m_settings});
    ShowReadMethod(static_cast<int>(ChoiceValue(m_drive)));
}

void CGeneralPage::Store() {
    QM_TRACE("GeneralPage");
    KeepReadMethod(m_shownDrive);
    m_bindings.Store({&m_settings});
    m_settings.drive.ReadMethod = m_readMethods;
}

} // namespace qm::ui
