#include "ui/PlayerPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "core/Trace.h"
#include "ui/SettingsHelp.h"

namespace qm::ui {

namespace {

QString DeviceLabel(long long index) {
    return QStringLiteral("Device %1").arg(index);
}

QSpinBox* PercentBox(QWidget* parent, const char* name) {
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(QString::fromLatin1(name));
    spin->setRange(1, 100);
    spin->setSuffix(QStringLiteral(" %"));
    return spin;
}

} // namespace

CPlayerPage::CPlayerPage(QuavermillSettings& settings,
                         const std::vector<std::string>& playbackDevices, QWidget* parent)
    : CSettingsPage(QStringLiteral("Player & Normalization"), kHelpPlayerSettings, parent),
      m_settings(settings) {
    auto& b = m_bindings;

    QFormLayout* player = AddGroup(QStringLiteral("Player"));
    auto* howToPlay = new QComboBox(this);
    howToPlay->setObjectName(QStringLiteral("HowToPlay"));
    AddChoice(howToPlay, QStringLiteral("Analog (the drive plays the disc)"), 0);
    AddChoice(howToPlay, QStringLiteral("Digital (read and played through the sound card)"), 1);
    player->addRow(QStringLiteral("Play tracks:"), howToPlay);
    b.Field<long long>(
        std::make_unique<ComboView>(howToPlay),
        [](auto& s) -> auto& { return s.player.HowToPlay; });

    auto* device = new QComboBox(this);
    device->setObjectName(QStringLiteral("PlaybackDevice"));
    for (std::size_t i = 0; i < playbackDevices.size(); ++i) {
        AddChoice(device, QString::fromStdString(playbackDevices[i]), static_cast<long long>(i));
    }
    player->addRow(QStringLiteral("Sound output:"), device);
    b.Field<long long>(
        std::make_unique<ComboView>(device, DeviceLabel),
        [](auto& s) -> auto& { return s.player.PlaybackDevice; });

    m_enableSound = AddCheck(QStringLiteral("Play a sound when a disc is done"), player);
    m_enableSound->setObjectName(QStringLiteral("EnableSound"));
    b.Field<bool>(
        std::make_unique<CheckView>(m_enableSound),
        [](auto& s) -> auto& { return s.player.EnableSound; });
    m_soundFile = new QLineEdit(this);
    m_soundFile->setObjectName(QStringLiteral("SoundFile"));
    auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
    browse->setObjectName(QStringLiteral("BrowseSoundFile"));
    auto* soundRow = new QHBoxLayout;
    soundRow->addWidget(m_soundFile, 1);
    soundRow->addWidget(browse);
    player->addRow(QStringLiteral("Sound file:"), soundRow);
    b.Field<std::string>(
        std::make_unique<TextView>(m_soundFile),
        [](auto& s) -> auto& { return s.player.SoundFile; });
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(
            this, QStringLiteral("Select sound file"), m_soundFile->text(),
            QStringLiteral("Sound files (*.wav *.ogg *.flac);;All files (*)"));
        if (!file.isEmpty()) {
            m_soundFile->setText(file);
        }
    });

    QFormLayout* levels = AddGroup(QStringLiteral("Normalization"));
    m_normalize = AddCheck(QStringLiteral("Normalize the tracks"), levels);
    m_normalize->setObjectName(QStringLiteral("Normalize"));
    b.Field<bool>(
        std::make_unique<CheckView>(m_normalize),
        [](auto& s) -> auto& { return s.normalizer.Normalize; });
    QSpinBox* peak = PercentBox(this, "NormalizePeak");
    levels->addRow(QStringLiteral("Bring the peak to:"), peak);
    b.Field<long long>(
        std::make_unique<SpinView>(peak),
        [](auto& s) -> auto& { return s.normalizer.NormalizePeak; });

    m_onlyIf = AddCheck(QStringLiteral("Only when the peak lies outside these levels"), levels);
    m_onlyIf->setObjectName(QStringLiteral("NormalizeOnlyIfLowerOrHigher"));
    b.Field<bool>(
        std::make_unique<CheckView>(m_onlyIf),
        [](auto& s) -> auto& { return s.normalizer.NormalizeOnlyIfLowerOrHigher; });
    m_minPeak = PercentBox(this, "NormalizeMinPeak");
    levels->addRow(QStringLiteral("Lower level:"), m_minPeak);
    b.Field<long long>(
        std::make_unique<SpinView>(m_minPeak),
        [](auto& s) -> auto& { return s.normalizer.NormalizeMinPeak; });
    m_maxPeak = PercentBox(this, "NormalizeMaxPeak");
    levels->addRow(QStringLiteral("Upper level:"), m_maxPeak);
    b.Field<long long>(
        std::make_unique<SpinView>(m_maxPeak),
        [](auto& s) -> auto& { return s.normalizer.NormalizeMaxPeak; });

    m_useWindow = AddCheck(
        QStringLiteral("Measure the loudest average over a window instead of the loudest sample"),
        levels);
    m_useWindow->setObjectName(QStringLiteral("NormalizeUseWindow"));
    b.Field<bool>(
        std::make_unique<CheckView>(m_useWindow),
        [](auto& s) -> auto& { return s.normalizer.NormalizeUseWindow; });
    m_windowSize = new QLineEdit(this);
    m_windowSize->setObjectName(QStringLiteral("NormalizeWindowSize"));
    m_windowSize->setToolTip(QStringLiteral("Samples, 1 to 65535"));
    levels->addRow(QStringLiteral("Window size (samples):"), m_windowSize);
    b.Field<long long>(
        std::make_unique<NumberTextView>(m_windowSize),
        [](auto& s) -> auto& { return s.normalizer.NormalizeWindowSize; });
    Column()->addStretch(1);

    // The window size stays editable: the page refuses a bad one even when
    // the window is not used, and the user must be able to mend it.
    for (QCheckBox* box : {m_onlyIf, m_enableSound}) {
        connect(box, &QCheckBox::stateChanged, this, &CPlayerPage::UpdateControls);
    }
    Load();
}

void CPlayerPage::UpdateControls() {
    m_soundFile->setEnabled(m_enableSound->isChecked());
    m_minPeak->setEnabled(m_onlyIf->isChecked());
    m_maxPeak->setEnabled(m_onlyIf->isChecked());
}

void CPlayerPage::Load() {
    QM_TRACE("PlayerPage");
    m_bindings.Load({&m_settings});
    UpdateControls();
}

bool CPlayerPage::Validate() {
    QM_TRACE("PlayerPage");
    bool number = false;
    const int size = m_windowSize->text().trimmed().toInt(&number);
    if (!number || size < 1 || size > kMaxWindowSize) {
        Warn(QStringLiteral("Warning"), QString::fromLatin1(kWindowSizeMessage));
        m_windowSize->setFocus();
        m_windowSize->selectAll();
        QM_RETURN(0, false);
    }
    if (m_onlyIf->isChecked() && m_minPeak->value() > m_maxPeak->value()) {
        Warn(QStringLiteral("Warning"),
             QStringLiteral("The lower level must not lie above the upper level."));
        m_minPeak->setFocus();
        QM_RETURN(1, false);
    }
    QM_RETURN(2, true);
}

void CPlayerPage::Store() {
    QM_TRACE("PlayerPage");
    m_bindings.Store({&m_settings});
}

} // namespace qm::ui
