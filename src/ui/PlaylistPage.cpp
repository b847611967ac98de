#include "ui/PlaylistPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include "core/Trace.h"
#include "ui/SettingsHelp.h"

namespace qm::ui {

namespace {

// The format a stored name names by its extension, if any.
int FormatOf(const QString& name) {
    if (name.endsWith(QStringLiteral(".wpl"), Qt::CaseInsensitive)) {
        return CPlaylistPage::kWPL;
    }
    if (name.endsWith(QStringLiteral(".m3u"), Qt::CaseInsensitive)) {
        return CPlaylistPage::kM3U;
    }
    return -1;
}

// A stored name as the page shows it: without a playlist extension.
QString WithoutExtension(const QString& name) {
    return FormatOf(name) >= 0 ? name.left(name.size() - 4) : name;
}

// A name as it is stored: with the chosen extension. An empty name stays
// empty; it would otherwise name a hidden file ".m3u".
std::string WithExtension(const QString& name, int format) {
    if (name.isEmpty()) {
        return {};
    }
    return (name + (format == CPlaylistPage::kWPL ? ".wpl" : ".m3u")).toStdString();
}

} // namespace

CPlaylistPage::CPlaylistPage(QuavermillSettings& settings, QWidget* parent)
    : CSettingsPage(QStringLiteral("Playlist"), kHelpPlaylistSettings, parent),
      m_settings(settings) {
    auto& b = m_bindings;

    QFormLayout* form = AddGroup(QStringLiteral("Playlist"));
    m_add = AddCheck(QStringLiteral("Add grabbed tracks to a playlist"), form);
    m_add->setObjectName(QStringLiteral("AddToPlaylist"));
    b.Field<bool>(
        std::make_unique<CheckView>(m_add),
        [](auto& s) -> auto& { return s.playlist.AddToPlaylist; });

    m_format = new QComboBox(this);
    m_format->setObjectName(QStringLiteral("PlaylistFormat"));
    AddChoice(m_format, QStringLiteral("WinAMP playlist"), kM3U);
    AddChoice(m_format, QStringLiteral("Windows Media Player playlist"), kWPL);
    form->addRow(QStringLiteral("Format:"), m_format);

    auto* exists = new QComboBox(this);
    exists->setObjectName(QStringLiteral("IfPlayListExist"));
    AddChoice(exists, QStringLiteral("Overwrite playlist"), kOverwritePlaylist);
    AddChoice(exists, QStringLiteral("Add to end"), kAppendToPlaylist);
    form->addRow(QStringLiteral("If playlist already exists:"), exists);
    b.Field<long long>(
        std::make_unique<ComboView>(exists),
        [](auto& s) -> auto& { return s.playlist.IfPlayListExist; });

    QFormLayout* names = AddGroup(QStringLiteral("Playlist name"));
    m_specifiedOnly = AddCheck(QStringLiteral("Always add to specified playlist"), names);
    m_specifiedOnly->setObjectName(QStringLiteral("AddTo"));
    b.Bind<bool>(
        std::make_unique<CheckView>(m_specifiedOnly),
        [](const QuavermillSettings& s) { return s.playlist.AddTo == kSpecifiedPlaylist; },
        [](QuavermillSettings& s, const bool& specified) {
            s.playlist.AddTo = specified ? kSpecifiedPlaylist : kMaskPlaylist;
        });

    m_specified = new QLineEdit(this);
    m_specified->setObjectName(QStringLiteral("SpecifiedPlaylist"));
    auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
    browse->setObjectName(QStringLiteral("BrowsePlaylist"));
    auto* specifiedRow = new QHBoxLayout;
    specifiedRow->addWidget(m_specified, 1);
    specifiedRow->addWidget(browse);
    names->addRow(QStringLiteral("Specified playlist:"), specifiedRow);
    connect(browse, &QPushButton::clicked, this, [this] {
        QString filter;
        QString file = QFileDialog::getSaveFileName(
            this, QStringLiteral("Select playlist"), m_specified->text(),
            QString::fromLatin1(kBrowseFilter), &filter, QFileDialog::DontConfirmOverwrite);
        if (file.isEmpty()) {
            return;
        }
        const int format = FormatOf(file);
        if (format >= 0) {
            m_format->setCurrentIndex(m_format->findData(QVariant(static_cast<long long>(format))));
        }
        m_specified->setText(WithoutExtension(file));
    });

    m_mask = new QLineEdit(this);
    m_mask->setObjectName(QStringLiteral("MaskPlaylist"));
    names->addRow(QStringLiteral("Name template:"), m_mask);
    // A playlist belongs to a disc: only the disc's tokens make sense.
    auto* tokens = new QHBoxLayout;
    for (const char* token : {"{ARTIST}", "{ALBUM}", "{YEAR}", "{GENRE}"}) {
        auto* button = new QPushButton(QString::fromLatin1(token), this);
        button->setObjectName(QStringLiteral("Playlist") + QString::fromLatin1(token));
        button->setFocusPolicy(Qt::NoFocus);
        connect(button, &QPushButton::clicked, this, [this, token] {
            m_mask->insert(QString::fromLatin1(token));
            m_mask->setFocus();
        });
        tokens->addWidget(button);
    }
    names->addRow(QStringLiteral("Insert:"), tokens);
    Column()->addStretch(1);

    connect(m_add, &QCheckBox::stateChanged, this, &CPlaylistPage::UpdateControls);
    connect(m_specifiedOnly, &QCheckBox::stateChanged, this, &CPlaylistPage::UpdateControls);
    Load();
}

void CPlaylistPage::UpdateControls() {
    const bool specified = m_specifiedOnly->isChecked();
    m_specified->setEnabled(specified);
    m_mask->setEnabled(!specified);
}

void CPlaylistPage::Load() {
    QM_TRACE("PlaylistPage");
    m_bindings.Load({&m_settings});
    const PlaylistSettings& playlist = m_settings.playlist;
    const QString specified = QString::fromStdString(playlist.SpecifiedPlaylist);
    const QString mask = QString::fromStdString(playlist.MaskPlaylist);
    // The name in use decides the format; then the other one.
    const bool specifiedInUse = playlist.AddTo == kSpecifiedPlaylist;
    int format = FormatOf(specifiedInUse ? specified : mask);
    if (format < 0) {
        format = FormatOf(specifiedInUse ? mask : specified);
    }
    m_shownFormat = format < 0 ? kM3U : format;
    m_format->setCurrentIndex(m_format->findData(QVariant(static_cast<long long>(m_shownFormat))));
    m_shownSpecified = WithoutExtension(specified);
    m_shownMask = WithoutExtension(mask);
    m_specified->setText(m_shownSpecified);
    m_mask->setText(m_shownMask);
    UpdateControls();
}

void CPlaylistPage::Store() {
    QM_TRACE("PlaylistPage");
    m_bindings.Store({&m_settings});
    const int format = static_cast<int>(ChoiceValue(m_format));
    const bool formatChanged = format != m_shownFormat;
    if (formatChanged || m_specified->text() != m_shownSpecified) {
        m_settings.playlist.SpecifiedPlaylist = WithExtension(m_specified->text(), format);
    }
    if (formatChanged || m_mask->text() != m_shownMask) {
        m_settings.playlist.MaskPlaylist = WithExtension(m_mask->text(), format);
    }
}

} // namespace qm::ui
